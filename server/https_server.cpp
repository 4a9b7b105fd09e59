#include "server/https_server.h"

#include <openssl/ssl.h>

#include <cstdio>
#include <exception>

#include "platform/loopback_listener.h"
#include "server/router.h"
#include "server/tls_channel.h"

namespace zivra::server {
namespace {
constexpr const char* kModule = "HttpsServer";
}

int HttpsServer::Run(int debug) {
  SslCtxPtr ctx(SSL_CTX_new(TLS_method()));
  if (!ctx) return CertificateError;
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);

  const std::string certificate = folder_ + "server.crt";
  const std::string key = folder_ + "server.key";
  // The chain form also accepts a file holding the leaf alone.
  if (SSL_CTX_use_certificate_chain_file(ctx.get(), certificate.c_str()) <= 0) {
    if (debug == 1) log_.WriteLog(kModule, "error", "read Certificate error", kDebugLog);
    std::fprintf(stderr, "zivraBrowserServer: cannot load the certificate %s\n", certificate.c_str());
    return CertificateError;
  }
  if (SSL_CTX_use_PrivateKey_file(ctx.get(), key.c_str(), SSL_FILETYPE_PEM) <= 0) {
    if (debug == 1) log_.WriteLog(kModule, "error", "read key error", kDebugLog);
    std::fprintf(stderr, "zivraBrowserServer: cannot load the key %s (missing, not PEM, or not the "
                 "certificate's key)\n", key.c_str());
    return KeyError;
  }
  if (debug == 1) log_.WriteLog(kModule, "debug", "read Certificate successful", kDebugLog);

  platform::LoopbackListener listener({kIdleLimit, 64});
  if (listener.Listen(kServerPort) != platform::ListenResult::Listening) {
    if (debug == 1) log_.WriteLog(kModule, "error", "port error", kDebugLog);
    std::fprintf(stderr, "zivraBrowserServer: %s\n", listener.LastError().c_str());
    return PortError;
  }

  Router router(folder_, card_);
  for (;;) {
    platform::Socket connection = listener.NextReadyConnection();
    if (!connection.Valid()) break;
    bool close = false;
    try {
      TlsChannel channel(ctx.get(), std::move(connection),
                         std::chrono::steady_clock::now() + kRequestDeadline, kReplyDeadline);
      close = router.HandleRequest(channel);
    } catch (const std::exception&) {
      if (debug == 1) log_.WriteLog(kModule, "error", "while error", kSystemLog);
    }
    if (close) break;
  }
  return Ended;
}

}  // namespace zivra::server
