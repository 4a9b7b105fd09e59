#pragma once
#include <filesystem>
#include <string>

namespace zivra::test {

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// A fresh folder under /tmp, removed with everything in it by the destructor.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag = "zivra");
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir();
  const std::filesystem::path& Path() const { return path_; }
  // The folder with a trailing '/', as the programs name their own folder.
  std::string Folder() const { return path_.string() + "/"; }

 private:
  std::filesystem::path path_;
};

// A test CA and an ECDSA P-256 leaf for localhost, 127.0.0.1 and ::1, made once per test binary.
struct TestCertificates {
  std::filesystem::path caCert;
  std::filesystem::path serverCert;
  std::filesystem::path serverKey;
};
const TestCertificates& Certificates();

// A copy of the build's installation folder (programs and the files beside them) with the test
// certificate and key installed as "server.crt" and "server.key".
class ScratchInstall {
 public:
  ScratchInstall();
  const std::filesystem::path& Path() const { return dir_.Path(); }
  std::string Folder() const { return dir_.Folder(); }
  std::filesystem::path File(const std::string& name) const { return dir_.Path() / name; }
  std::string Program(const std::string& name) const { return File(name).string(); }

 private:
  ScratchDir dir_;
};

}  // namespace zivra::test
