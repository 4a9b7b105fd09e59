#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zivra::test {

// True when this build points its programs at the tests' local update host.
bool UpdateHostConfigured();
// "https://127.0.0.1:38443/zivra_reader/" in a test build.
std::string UpdateHostBaseUrl();

// The local update host: HTTPS on the fixed test address with the build's test certificate,
// serving files from memory, one connection at a time, on a thread of the test. Unknown paths
// get a 404 page. Stops listening when destroyed.
class UpdateHost {
 public:
  UpdateHost();
  // The same host with another certificate and key (PEM files), to see a client refuse it.
  UpdateHost(const std::string& certFile, const std::string& keyFile);
  UpdateHost(const UpdateHost&) = delete;
  UpdateHost& operator=(const UpdateHost&) = delete;
  ~UpdateHost();

  // Serves `body` at `path` ("/zivra_reader/CurVersion.txt") with status 200.
  void Serve(const std::string& path, std::string body);
  // Announces the whole of `body` but closes the connection after `sentBytes` of it.
  void ServeCut(const std::string& path, std::string body, std::size_t sentBytes);
  // The paths of the requests received so far, in order.
  std::vector<std::string> Requests() const;

 private:
  struct Resource {
    std::string body;
    std::size_t sentBytes;
  };
  void Loop();
  void Answer(int fd);

  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  void* ctx_ = nullptr;  // SSL_CTX
  mutable std::mutex mutex_;
  std::map<std::string, Resource> resources_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace zivra::test
