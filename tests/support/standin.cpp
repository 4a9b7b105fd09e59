// A stand-in for a program of the installation in tests that start and stop programs by name:
// copied into a scratch folder under the program's name, it notes each start (its executable and
// arguments) in the file that ZIVRA_STANDIN_LOG names and then waits until it is killed.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (const char* log = std::getenv("ZIVRA_STANDIN_LOG")) {
    std::array<char, 4096> exe{};
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    std::string line = n > 0 ? std::string(exe.data(), static_cast<std::size_t>(n)) : std::string("?");
    for (int i = 1; i < argc; ++i) line += std::string("|") + argv[i];
    line += "\n";
    const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
      [[maybe_unused]] const ssize_t w = ::write(fd, line.data(), line.size());
      ::close(fd);
    }
  }
  while (true) ::pause();
}
