#include "platform/download.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <mutex>

namespace zivra::platform {
namespace {

struct EasyDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// What the write callback collects; it refuses the body of any reply whose status is not 200.
struct Sink {
  CURL* curl = nullptr;
  std::size_t maxBytes = 0;
  std::string* text = nullptr;   // kept in memory, up to maxBytes
  std::FILE* file = nullptr;     // or written to a file, no more than maxBytes
  std::size_t received = 0;
  bool statusChecked = false;
  bool badStatus = false;
  bool full = false;             // text: maxBytes reached, the rest is not read
  bool tooLarge = false;         // file: more than maxBytes
  bool writeFailed = false;
};

bool StatusIs200(CURL* curl) {
  long code = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
  return code == 200;
}

std::size_t Write(char* data, std::size_t size, std::size_t count, void* user) {
  Sink& sink = *static_cast<Sink*>(user);
  const std::size_t n = size * count;
  if (!sink.statusChecked) {
    sink.statusChecked = true;
    sink.badStatus = !StatusIs200(sink.curl);
  }
  if (sink.badStatus) return 0;
  if (sink.text != nullptr) {
    const std::size_t room = sink.maxBytes - sink.text->size();
    sink.text->append(data, std::min(room, n));
    if (n >= room) {
      sink.full = true;
      return 0;  // ends the transfer: nothing past the limit is read
    }
    return n;
  }
  if (n > sink.maxBytes - sink.received) {
    sink.tooLarge = true;
    return 0;
  }
  if (std::fwrite(data, 1, n, sink.file) != n) {
    sink.writeFailed = true;
    return 0;
  }
  sink.received += n;
  return n;
}

Easy NewTransfer(const std::string& url, const DownloadOptions& options, Sink& sink) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  Easy curl(curl_easy_init());
  if (!curl) return curl;
  CURL* c = curl.get();
  sink.curl = c;
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!options.caFile.empty()) {
    // Only this CA, not the system's store beside it.
    curl_easy_setopt(c, CURLOPT_CAINFO, options.caFile.c_str());
    curl_easy_setopt(c, CURLOPT_CAPATH, nullptr);
  }
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count() * 1000));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalTimeout.count() * 1000));
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.stallTimeout.count()));
  // The update host is a constant of the programs: proxy variables of the environment do not
  // redirect it.
  curl_easy_setopt(c, CURLOPT_PROXY, "");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "zivra");
  // Always from the host: no cached or conditional copy.
  curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Write);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  return curl;
}

// True when the transfer delivered a whole 200 reply (or a text up to its limit).
bool Succeeded(CURLcode rc, const Sink& sink) {
  if (sink.badStatus || sink.tooLarge || sink.writeFailed) return false;
  if (rc == CURLE_OK) return sink.statusChecked || StatusIs200(sink.curl);
  return rc == CURLE_WRITE_ERROR && sink.full;
}

}  // namespace

std::optional<std::string> DownloadText(const std::string& url, const DownloadOptions& options) {
  std::string text;
  Sink sink;
  sink.maxBytes = options.maxBytes;
  sink.text = &text;
  Easy curl = NewTransfer(url, options, sink);
  if (!curl || options.maxBytes == 0) return std::nullopt;
  const CURLcode rc = curl_easy_perform(curl.get());
  if (!Succeeded(rc, sink)) return std::nullopt;
  return text;
}

bool DownloadFile(const std::string& url, const std::string& path, const DownloadOptions& options) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  Sink sink;
  sink.maxBytes = options.maxBytes;
  sink.file = file.get();
  bool ok = false;
  if (Easy curl = NewTransfer(url, options, sink)) {
    curl_easy_setopt(curl.get(), CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
    ok = Succeeded(curl_easy_perform(curl.get()), sink);
  }
  ok = std::fflush(file.get()) == 0 && ok;
  ok = std::fclose(file.release()) == 0 && ok;
  if (!ok) std::remove(path.c_str());
  return ok;
}

}  // namespace zivra::platform
