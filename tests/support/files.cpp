#include "tests/support/files.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "tests/support/process.h"

namespace fs = std::filesystem;

namespace zivra::test {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

ScratchDir::ScratchDir(const std::string& tag) {
  std::string tmpl = "/tmp/" + tag + "-XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

namespace {

void MustRun(const std::vector<std::string>& argv) {
  const CommandResult r = RunCommand(argv);
  if (r.exitCode != 0) throw std::runtime_error("command failed: " + argv.at(0) + " " + argv.at(1));
}

TestCertificates MakeCertificates() {
  static ScratchDir dir("zivra-certs");
  const fs::path d = dir.Path();
  TestCertificates c{d / "ca.crt", d / "server.crt", d / "server.key"};
  const std::string ca_key = (d / "ca.key").string();
  WriteFile(d / "leaf.ext",
            "basicConstraints=critical,CA:FALSE\n"
            "keyUsage=critical,digitalSignature\n"
            "extendedKeyUsage=serverAuth\n"
            "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\n");
  MustRun({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
           "-keyout", ca_key, "-out", c.caCert.string(), "-days", "2", "-subj", "/CN=zivra test CA",
           "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign"});
  MustRun({"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
           c.serverKey.string(), "-out", (d / "server.csr").string(), "-subj", "/CN=localhost"});
  MustRun({"openssl", "x509", "-req", "-in", (d / "server.csr").string(), "-CA", c.caCert.string(),
           "-CAkey", ca_key, "-CAcreateserial", "-out", c.serverCert.string(), "-days", "2", "-extfile",
           (d / "leaf.ext").string()});
  return c;
}

}  // namespace

const TestCertificates& Certificates() {
  static const TestCertificates certs = MakeCertificates();
  return certs;
}

ScratchInstall::ScratchInstall() : dir_("zivra-install") {
  fs::copy(ZIVRA_DIST_DIR, dir_.Path(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  fs::copy_file(Certificates().serverCert, File("server.crt"), fs::copy_options::overwrite_existing);
  fs::copy_file(Certificates().serverKey, File("server.key"), fs::copy_options::overwrite_existing);
}

}  // namespace zivra::test
