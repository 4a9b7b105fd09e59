#include "tool/curl_transport.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <mutex>

#include "platform/exe_folder.h"

namespace zivra::tool {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool IsLoopbackHost(std::string_view host) {
  return host == "localhost" || host.starts_with("127.") || host == "::1" || host == "[::1]";
}

bool ValidHost(std::string_view host) {
  if (host.empty()) return false;
  for (char c : host) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\') return false;
  }
  return true;
}

unsigned long CurlScheme(unsigned scheme) {
  switch (scheme) {
    case kAuthBasic: return CURLAUTH_BASIC;
    case kAuthDigest: return CURLAUTH_DIGEST;
    case kAuthNtlm: return CURLAUTH_NTLM;
    case kAuthNegotiate: return CURLAUTH_NEGOTIATE;
    default: return CURLAUTH_NONE;
  }
}

struct PassState {
  std::string head;        // the latest answer's head
  std::string body;
  bool headComplete = false;
  bool overflow = false;
  std::size_t maxHeader = 0;
  std::size_t maxBody = 0;
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& s = *static_cast<PassState*>(user);
  const std::string_view line(data, size * count);
  // Interim answers (100 Continue) and the answers of an authentication round that libcurl
  // handles inside one pass come first; only the last head counts.
  if (line.starts_with("HTTP/")) {
    s.head.clear();
    s.body.clear();
    s.headComplete = false;
  }
  if (s.head.size() + line.size() > s.maxHeader) {
    s.overflow = true;
    return 0;
  }
  s.head.append(line);
  if (line == "\r\n" || line == "\n") s.headComplete = true;
  return line.size();
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& s = *static_cast<PassState*>(user);
  const std::size_t n = size * count;
  if (s.body.size() + n > s.maxBody) {
    s.overflow = true;
    return 0;
  }
  s.body.append(data, n);
  return n;
}

// Adds the installation's CA to the authorities that the system's store already provides. A file
// that cannot be read adds nothing; the system's store still decides.
CURLcode AddExtraCa(CURL*, void* sslCtx, void* user) {
  const auto* file = static_cast<const std::string*>(user);
  if (X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslCtx))) {
    if (X509_STORE_load_file(store, file->c_str()) != 1) ERR_clear_error();
  }
  return CURLE_OK;
}

struct SlistFree {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

std::string LocalCaFile() { return platform::ExecutableFolder() + std::string(kLocalCaName); }

CurlTransport::CurlTransport(std::string extraCaFile) : CurlTransport(std::move(extraCaFile), Limits{}) {}

CurlTransport::CurlTransport(std::string extraCaFile, Limits limits)
    : extraCaFile_(std::move(extraCaFile)), limits_(limits) {
  GlobalInit();
}

CurlTransport::~CurlTransport() { Close(); }

void CurlTransport::Close() {
  if (curl_ != nullptr) curl_easy_cleanup(static_cast<CURL*>(curl_));
  curl_ = nullptr;
}

bool CurlTransport::OpenSession(const WinHttpClient& client) {
  Close();
  serverScheme_ = proxyScheme_ = 0;
  curl_ = curl_easy_init();
  agent_ = client.Agent();
  return curl_ != nullptr;
}

bool CurlTransport::Connect(const WinHttpClient& client) {
  const std::string& host = client.Host();
  if (curl_ == nullptr || !ValidHost(host) || client.Port() == 0) return false;
  const bool literal6 = host.find(':') != std::string::npos && host.front() != '[';
  origin_ = std::string(client.Secure() ? "https://" : "http://") + (literal6 ? "[" + host + "]" : host) +
            ":" + std::to_string(client.Port());
  loopback_ = IsLoopbackHost(host);
  return true;
}

unsigned CurlTransport::UsableSchemes(AuthTarget) const {
  unsigned schemes = kAuthBasic | kAuthDigest;
  const curl_version_info_data* v = curl_version_info(CURLVERSION_NOW);
  if ((v->features & CURL_VERSION_NTLM) != 0) schemes |= kAuthNtlm;
  if ((v->features & CURL_VERSION_SPNEGO) != 0) schemes |= kAuthNegotiate;
  return schemes;
}

bool CurlTransport::SetCredentials(AuthTarget target, unsigned scheme, std::string_view user,
                                   std::string_view password) {
  if (curl_ == nullptr || CurlScheme(scheme) == CURLAUTH_NONE || (UsableSchemes(target) & scheme) == 0) {
    return false;
  }
  if (target == AuthTarget::Server) {
    serverScheme_ = scheme;
    serverUser_ = user;
    serverPassword_ = password;
  } else {
    proxyScheme_ = scheme;
    proxyUser_ = user;
    proxyPassword_ = password;
  }
  return true;
}

HttpPass CurlTransport::Send(std::string_view verb, std::string_view path, std::string_view headers,
                             std::string_view body) {
  HttpPass pass;
  auto* curl = static_cast<CURL*>(curl_);
  if (curl == nullptr) return pass;

  std::string url = origin_;
  if (!path.starts_with('/')) url += '/';
  url.append(path);
  const std::string verbText(verb);

  std::unique_ptr<curl_slist, SlistFree> list;
  auto add = [&list](const std::string& line) {
    curl_slist* next = curl_slist_append(list.get(), line.c_str());
    if (next != nullptr) {
      (void)list.release();
      list.reset(next);
    }
  };
  std::size_t start = 0;
  while (start < headers.size()) {
    std::size_t end = headers.find('\n', start);
    if (end == std::string_view::npos) end = headers.size();
    std::string line(headers.substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) add(line);
  }
  add("Expect:");  // no 100-continue round: the server reads the body straight away

  PassState state;
  state.maxHeader = limits_.maxHeaderBytes;
  state.maxBody = limits_.maxBodyBytes;

  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, agent_.c_str());
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.connect.count()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits_.pass.count()));
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  struct stat st {};
  if (!extraCaFile_.empty() && ::stat(extraCaFile_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    curl_easy_setopt(curl, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &AddExtraCa);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &extraCaFile_);
  }
  // A request to this machine never goes through a proxy: the proxy could not reach it.
  if (loopback_) curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  if (serverScheme_ != 0) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CurlScheme(serverScheme_));
    curl_easy_setopt(curl, CURLOPT_USERNAME, serverUser_.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, serverPassword_.c_str());
  }
  if (proxyScheme_ != 0) {
    curl_easy_setopt(curl, CURLOPT_PROXYAUTH, CurlScheme(proxyScheme_));
    curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, proxyUser_.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, proxyPassword_.c_str());
  }
  if (verbText == "GET") {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  } else if (verbText == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else {
    if (verbText == "POST" || !body.empty()) {
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    }
    if (verbText != "POST") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, verbText.c_str());
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list.get());
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &state);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);

  const CURLcode rc = curl_easy_perform(curl);
  // Nothing may point at this pass's locals after it ends.
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);

  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  pass.status = static_cast<int>(status);
  pass.rawHeaders = std::move(state.head);
  pass.body = std::move(state.body);
  if (rc == CURLE_OK && state.headComplete) {
    pass.outcome = HttpPass::Outcome::Answered;
  } else if (state.headComplete && status != 0) {
    pass.outcome = HttpPass::Outcome::ReadFailed;
    pass.errorCode = static_cast<long>(rc);
  } else {
    long requestSize = 0;
    curl_easy_getinfo(curl, CURLINFO_REQUEST_SIZE, &requestSize);
    long osErrno = 0;
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno);
    if (rc == CURLE_COULDNT_CONNECT && osErrno == ECONNREFUSED) {
      pass.outcome = HttpPass::Outcome::Refused;
    } else if (requestSize == 0) {
      pass.outcome = HttpPass::Outcome::SendFailed;
    } else {
      pass.outcome = HttpPass::Outcome::ReceiveFailed;
    }
    pass.status = 0;
  }
  return pass;
}

bool WinHttpClient::Post(std::string_view path, std::string_view headers, std::string_view body,
                         WinHttpResponse& response) const {
  CurlTransport transport(LocalCaFile());
  return SendHttpRequest("POST", *this, path, headers, body, response, transport);
}

void SendTestGetCardID() {
  CurlTransport transport(LocalCaFile());
  SendTestGetCardID(transport);
}

}  // namespace zivra::tool
