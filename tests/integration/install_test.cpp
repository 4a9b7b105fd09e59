// scripts/install and scripts/uninstall in a scratch HOME: the installation's own certificates,
// the trust it adds to the browsers' databases and (in a private copy) to the system store, an
// update in place, and the removal of all of it again.
#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <set>
#include <sstream>

#include "tests/support/isolation.h"
#include "tests/support/pid_namespace.h"
#include "tests/support/server_fixture.h"

namespace zivra::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kSource = ZIVRA_SOURCE_DIR;
const std::string kNickname = "zivra local CA";
const fs::path kSystemCaFile = "/usr/local/share/ca-certificates/zivra-local-ca.crt";

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

X509Ptr LoadCertificate(const fs::path& path) {
  const std::string pem = ReadFile(path);
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509Ptr cert(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  return cert;
}

// Every private key in PEM form within `text`.
std::vector<PkeyPtr> PrivateKeysIn(const std::string& text) {
  std::vector<PkeyPtr> keys;
  for (std::size_t at = text.find("-----BEGIN"); at != std::string::npos; at = text.find("-----BEGIN", at + 1)) {
    const std::string rest = text.substr(at, 4096);
    if (rest.find("PRIVATE KEY-----") == std::string::npos) continue;
    BIO* bio = BIO_new_mem_buf(rest.data(), static_cast<int>(rest.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (key != nullptr) keys.emplace_back(key);
  }
  return keys;
}

// The files under `root` that hold the private key of `cert`, and all files with a private key.
struct KeyScan {
  std::vector<fs::path> matching;
  std::vector<fs::path> withKeys;
};
KeyScan ScanForKeys(const fs::path& root, X509* cert) {
  KeyScan scan;
  std::error_code ec;
  if (!fs::exists(root, ec)) return scan;
  for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
       it != end; it.increment(ec)) {
    if (ec) break;
    if (!it->is_regular_file(ec) || it->is_symlink(ec) || it->file_size(ec) > (4u << 20)) continue;
    const std::string text = ReadFile(it->path());
    if (text.find("PRIVATE KEY-----") == std::string::npos) continue;
    for (const PkeyPtr& key : PrivateKeysIn(text)) {
      scan.withKeys.push_back(it->path());
      if (X509_check_private_key(cert, key.get()) == 1) scan.matching.push_back(it->path());
    }
  }
  return scan;
}

// The subtrees of the CA's name constraints, as "DNS:name" and "IP:address/mask" in hex.
struct Constraints {
  int critical = -1;
  std::set<std::string> permitted;
  std::size_t excluded = 0;
};
Constraints NameConstraintsOf(X509* ca) {
  Constraints c;
  auto* nc = static_cast<NAME_CONSTRAINTS*>(X509_get_ext_d2i(ca, NID_name_constraints, &c.critical, nullptr));
  if (nc == nullptr) return c;
  for (int i = 0; i < sk_GENERAL_SUBTREE_num(nc->permittedSubtrees); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_SUBTREE_value(nc->permittedSubtrees, i)->base;
    if (name->type == GEN_DNS) {
      const ASN1_IA5STRING* s = name->d.dNSName;
      c.permitted.insert("DNS:" + std::string(reinterpret_cast<const char*>(s->data), s->length));
    } else if (name->type == GEN_IPADD) {
      const ASN1_OCTET_STRING* ip = name->d.iPAddress;
      std::string hex = "IP:";
      char byte[3];
      for (int b = 0; b < ip->length; ++b) {
        std::snprintf(byte, sizeof byte, "%02x", ip->data[b]);
        hex += byte;
        if (b + 1 == ip->length / 2) hex += '/';
      }
      c.permitted.insert(hex);
    } else {
      c.permitted.insert("other:" + std::to_string(name->type));
    }
  }
  if (nc->excludedSubtrees != nullptr) c.excluded = static_cast<std::size_t>(sk_GENERAL_SUBTREE_num(nc->excludedSubtrees));
  NAME_CONSTRAINTS_free(nc);
  return c;
}

// Verifies `leaf` against `ca` alone as a TLS server certificate for a host name or an IP address.
bool VerifiesFor(X509* ca, X509* leaf, const std::string& name, bool isIp) {
  X509_STORE* store = X509_STORE_new();
  X509_STORE_add_cert(store, ca);
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  X509_STORE_CTX_init(ctx, store, leaf, nullptr);
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
  X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
  X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_X509_STRICT);
  if (isIp) {
    X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str());
  } else {
    X509_VERIFY_PARAM_set1_host(param, name.c_str(), 0);
  }
  const bool ok = X509_verify_cert(ctx) == 1;
  X509_STORE_CTX_free(ctx);
  X509_STORE_free(store);
  return ok;
}

std::vector<int> PidsRunning(const fs::path& exe) {
  std::vector<int> pids;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string link = fs::read_symlink(entry.path() / "exe", ec).string();
    if (ec) continue;
    if (link.ends_with(" (deleted)")) link.resize(link.size() - 10);
    if (link == exe.string()) pids.push_back(std::stoi(name));
  }
  return pids;
}

class Install : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(home_.Path() / "h");
    fs::create_directories(tmp_.Path() / "t");
    if (Isolated()) PrivateSystemStore();
  }

  void TearDown() override {
    for (const char* program : {"zivraBrowserServer", "zivraBrowserTool"}) {
      for (int pid : PidsRunning(Folder() / program)) ::kill(pid, SIGKILL);
    }
  }

  // This test's own copies of the system's certificate folders, so that installing as root
  // changes nothing outside the test; and an empty /dev/shm where the CA key would be made.
  void PrivateSystemStore() {
    for (const fs::path& dir : {fs::path("/etc/ssl/certs"), fs::path("/usr/local/share/ca-certificates")}) {
      const fs::path copy = stores_.Path() / dir.filename();
      fs::create_directories(dir);
      ASSERT_EQ(RunCommand({"cp", "-a", dir.string(), copy.string()}).exitCode, 0);
      ASSERT_EQ(::mount(copy.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr), 0) << dir;
    }
    ASSERT_EQ(::mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777"), 0);
  }

  fs::path Home() const { return home_.Path() / "h"; }
  fs::path Folder() const { return Home() / ".local/share/zivra"; }
  fs::path NssDb() const { return Home() / ".pki/nssdb"; }

  // Runs a script of scripts/ as the user of the scratch HOME; returns its exit code.
  int RunScript(const std::string& script, std::vector<std::string> args, const fs::path& home = {}) {
    Process::Options o;
    o.args = std::move(args);
    o.env = {{"HOME", (home.empty() ? Home() : home).string()}, {"TMPDIR", (tmp_.Path() / "t").string()}};
    o.unsetEnv = {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "DISPLAY", "WAYLAND_DISPLAY"};
    o.outputPrefix = (tmp_.Path() / script).string();
    Process p(kSource + "/scripts/" + script, o);
    const auto code = p.Wait(180s);
    output_ = p.Stdout() + p.Stderr();
    return code.value_or(-1);
  }

  // The system store is updated only by the tests that look at it: update-ca-certificates takes
  // seconds.
  int Installs(std::vector<std::string> extra = {}, const fs::path& home = {}, bool systemTrust = false) {
    std::vector<std::string> args{"--from", ZIVRA_DIST_DIR, "--no-start", "--no-deps"};
    if (!systemTrust || !Isolated()) args.push_back("--no-system-trust");
    args.insert(args.end(), extra.begin(), extra.end());
    return RunScript("install", args, home);
  }

  // The nickname's certificates in an NSS database, in PEM, with their trust flags.
  CommandResult NssEntry(const fs::path& db) {
    return RunCommand({"certutil", "-d", "sql:" + db.string(), "-L", "-n", kNickname, "-a"});
  }
  // True when the database holds exactly one certificate under the nickname, and it is `caFile`.
  bool NssHoldsOnly(const fs::path& db, const fs::path& caFile) {
    const CommandResult entry = NssEntry(db);
    if (entry.exitCode != 0) return false;
    std::size_t count = 0;
    for (std::size_t at = entry.output.find("BEGIN CERTIFICATE"); at != std::string::npos;
         at = entry.output.find("BEGIN CERTIFICATE", at + 1)) {
      ++count;
    }
    BIO* bio = BIO_new_mem_buf(entry.output.data(), static_cast<int>(entry.output.size()));
    X509Ptr stored(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    X509Ptr expected = LoadCertificate(caFile);
    return count == 1 && stored && expected && X509_cmp(stored.get(), expected.get()) == 0;
  }
  std::string NssTrust(const fs::path& db) {
    const CommandResult r = RunCommand({"certutil", "-d", "sql:" + db.string(), "-L"});
    for (std::size_t at = r.output.find(kNickname); at != std::string::npos;) {
      const std::size_t eol = r.output.find('\n', at);
      std::string flags = r.output.substr(at + kNickname.size(), eol - at - kNickname.size());
      flags.erase(0, flags.find_first_not_of(' '));
      flags.erase(flags.find_last_not_of(' ') + 1);
      return flags;
    }
    return "";
  }

  // curl with the system's trust, or with `caFile` alone.
  std::string Curl(const std::string& host, const fs::path& caFile = {}) {
    std::vector<std::string> argv{"curl", "-sS", "--max-time", "10", "https://" + host + ":32860/?getversion"};
    if (!caFile.empty()) argv.insert(argv.end(), {"--cacert", caFile.string()});
    return RunCommand(argv).output;
  }

  bool WaitForListener() {
    return WaitUntil([] { return ListeningSockets(kPort) > 0; }, 10s);
  }

  ScratchDir home_{"zivra-home"};
  ScratchDir tmp_{"zivra-tmp"};
  ScratchDir stores_{"zivra-stores"};
  std::string output_;
};

TEST_F(Install, MakesItsOwnNameConstrainedCertificatesAndDestroysTheCaKey) {
  ASSERT_EQ(Installs(), 0) << output_;

  for (const char* f : {"zivraBrowserServer", "zivraBrowserTool", "zivraUpdate", "Version.txt", "EnvTest.html",
                        "Zivra.pdf", "server.crt", "server.key", "zivraLocalCA.crt"}) {
    EXPECT_TRUE(fs::is_regular_file(Folder() / f)) << f;
  }
  struct stat st {};
  ASSERT_EQ(::stat((Folder() / "server.key").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  X509Ptr ca = LoadCertificate(Folder() / "zivraLocalCA.crt");
  X509Ptr leaf = LoadCertificate(Folder() / "server.crt");
  ASSERT_TRUE(ca && leaf);
  EXPECT_EQ(X509_check_ca(ca.get()), 1);
  EXPECT_EQ(X509_check_ca(leaf.get()), 0);

  const Constraints nc = NameConstraintsOf(ca.get());
  EXPECT_EQ(nc.critical, 1);
  EXPECT_EQ(nc.permitted, (std::set<std::string>{"DNS:localhost", "IP:7f000001/ffffffff",
                                                 "IP:00000000000000000000000000000001/"
                                                 "ffffffffffffffffffffffffffffffff"}));
  EXPECT_EQ(nc.excluded, 0u);

  EXPECT_TRUE(VerifiesFor(ca.get(), leaf.get(), "localhost", false));
  EXPECT_TRUE(VerifiesFor(ca.get(), leaf.get(), "127.0.0.1", true));
  EXPECT_TRUE(VerifiesFor(ca.get(), leaf.get(), "::1", true));
  EXPECT_FALSE(VerifiesFor(ca.get(), leaf.get(), "example.com", false));
  EXPECT_FALSE(VerifiesFor(ca.get(), leaf.get(), "127.0.0.2", true));

  // The server key is an ECDSA P-256 key and belongs to the server certificate.
  EVP_PKEY* pub = X509_get0_pubkey(leaf.get());
  ASSERT_NE(pub, nullptr);
  EXPECT_EQ(EVP_PKEY_get_base_id(pub), EVP_PKEY_EC);
  char group[64] = {};
  EVP_PKEY_get_utf8_string_param(pub, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, nullptr);
  EXPECT_STREQ(group, "prime256v1");

  // No key of the CA anywhere: not in the installation or the rest of HOME, not in the temporary
  // folders the script could use, not in the build. The only key in the installation is the
  // server's.
  for (const fs::path& root : {Home(), tmp_.Path(), fs::path("/dev/shm"), fs::path(ZIVRA_BINARY_DIR)}) {
    const KeyScan scan = ScanForKeys(root, ca.get());
    EXPECT_TRUE(scan.matching.empty()) << root << ": " << (scan.matching.empty() ? "" : scan.matching[0].string());
    if (root == Home()) {
      EXPECT_EQ(scan.withKeys, std::vector<fs::path>{Folder() / "server.key"});
    }
  }
  EXPECT_EQ(ScanForKeys(Folder(), leaf.get()).matching, std::vector<fs::path>{Folder() / "server.key"});
  EXPECT_TRUE(fs::is_empty(tmp_.Path() / "t"));
  if (Isolated()) {
    EXPECT_TRUE(fs::is_empty("/dev/shm"));
  }
}

TEST_F(Install, TrustsTheCaWhereBrowsersAndCurlLook) {
  const fs::path profile = Home() / ".mozilla/firefox/ab12cd.default-release";
  fs::create_directories(profile);
  WriteFile(profile / "prefs.js", "// Firefox profile\n");
  ASSERT_EQ(Installs({}, {}, true), 0) << output_;

  const std::string caPem = ReadFile(Folder() / "zivraLocalCA.crt");
  for (const fs::path& db : {NssDb(), profile}) {
    EXPECT_TRUE(NssHoldsOnly(db, Folder() / "zivraLocalCA.crt")) << db;
    EXPECT_EQ(NssTrust(db), "C,,") << db;
  }

  // Menu entries for the tool and the updater, and the tool's autostart entry, all naming the
  // installation folder.
  const std::string tool = ReadFile(Home() / ".local/share/applications/zivra-browser-tool.desktop");
  EXPECT_NE(tool.find("Exec=\"" + (Folder() / "zivraBrowserTool").string() + "\"\n"), std::string::npos) << tool;
  const std::string update = ReadFile(Home() / ".local/share/applications/zivra-update.desktop");
  EXPECT_NE(update.find("Exec=\"" + (Folder() / "zivraUpdate").string() + "\"\n"), std::string::npos) << update;
  const std::string autostart = ReadFile(Home() / ".config/autostart/zivra-browser-tool.desktop");
  EXPECT_NE(autostart.find("zivraBrowserTool"), std::string::npos);
  EXPECT_TRUE(fs::exists(Home() / ".config/menus/applications-merged/zivra.menu"));

  if (!Isolated()) GTEST_SKIP() << "the system store and the fixed port need root";
  EXPECT_EQ(ReadFile(kSystemCaFile), caPem);
  EXPECT_NE(ReadFile("/etc/ssl/certs/ca-certificates.crt").find(caPem), std::string::npos);

  // The installed server, with nothing but the system's trust on curl's side.
  Process server((Folder() / "zivraBrowserServer").string(), {});
  ASSERT_TRUE(WaitForListener());
  const std::string version = ReadFile(Folder() / "Version.txt").substr(0, 5);
  for (const char* host : {"localhost", "127.0.0.1", "[::1]"}) EXPECT_EQ(Curl(host), version) << host;
}

TEST_F(Install, InstalledToolStartsAServerThatCurlTrustsWithTheSystemStoreAlone) {
  if (!Isolated()) GTEST_SKIP() << "the system store and the fixed port need root";
  ASSERT_EQ(Installs({}, {}, true), 0) << output_;
  // The tool finds servers by name: in a process namespace of its own it sees only this test's.
  PidNamespace ns;
  fs::create_directories(Home() / "runtime");
  Process::Options o;
  o.env = {{"HOME", Home().string()}, {"XDG_RUNTIME_DIR", (Home() / "runtime").string()}};
  o.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME"};
  o.outputPrefix = (tmp_.Path() / "tool").string();
  Process tool = ns.Start((Folder() / "zivraBrowserTool").string(), o);
  ASSERT_TRUE(WaitUntil([&] { return !ns.Find("zivraBrowserServer").empty(); }, 20s)) << tool.Stderr();
  ASSERT_TRUE(WaitForListener());
  EXPECT_EQ(ExecutableOf(ns.Find("zivraBrowserServer").front()), (Folder() / "zivraBrowserServer").string());
  const std::string version = ReadFile(Folder() / "Version.txt").substr(0, 5);
  for (const char* host : {"localhost", "127.0.0.1", "[::1]"}) EXPECT_EQ(Curl(host), version) << host;
}

TEST_F(Install, SecondInstallUpdatesInPlaceAndKeepsTheCertificate) {
  ASSERT_EQ(Installs(), 0) << output_;
  const std::string firstCert = ReadFile(Folder() / "server.crt");
  const std::string firstKey = ReadFile(Folder() / "server.key");
  const std::string firstCa = ReadFile(Folder() / "zivraLocalCA.crt");
  Process server((Folder() / "zivraBrowserServer").string(), {});
  ASSERT_TRUE(WaitUntil([&] { return !PidsRunning(Folder() / "zivraBrowserServer").empty(); }, 5s));

  ASSERT_EQ(Installs(), 0) << output_;
  EXPECT_EQ(ReadFile(Folder() / "server.crt"), firstCert);
  EXPECT_EQ(ReadFile(Folder() / "server.key"), firstKey);
  EXPECT_TRUE(NssHoldsOnly(NssDb(), Folder() / "zivraLocalCA.crt"));
  // The running server was stopped for the update and started again from the new files.
  EXPECT_TRUE(server.Wait(5s).has_value());
  std::vector<int> now;
  ASSERT_TRUE(WaitUntil([&] { return !(now = PidsRunning(Folder() / "zivraBrowserServer")).empty(); }, 5s));
  EXPECT_NE(now.front(), server.Pid());
  if (Isolated()) {
    ASSERT_TRUE(WaitForListener());
    EXPECT_EQ(Curl("localhost", Folder() / "zivraLocalCA.crt"), ReadFile(Folder() / "Version.txt").substr(0, 5));
  }

  // A renewal makes a new CA that replaces the old one in the database.
  ASSERT_EQ(Installs({"--renew-certificate"}), 0) << output_;
  EXPECT_NE(ReadFile(Folder() / "server.key"), firstKey);
  EXPECT_NE(ReadFile(Folder() / "zivraLocalCA.crt"), firstCa);
  EXPECT_TRUE(NssHoldsOnly(NssDb(), Folder() / "zivraLocalCA.crt"));
}

TEST_F(Install, TwoInstallationsShareNoKey) {
  ASSERT_EQ(Installs(), 0) << output_;
  const fs::path other = home_.Path() / "other";
  fs::create_directories(other);
  ASSERT_EQ(Installs({}, other), 0) << output_;
  const fs::path otherFolder = other / ".local/share/zivra";
  X509Ptr ca1 = LoadCertificate(Folder() / "zivraLocalCA.crt");
  X509Ptr ca2 = LoadCertificate(otherFolder / "zivraLocalCA.crt");
  ASSERT_TRUE(ca1 && ca2);
  EXPECT_NE(EVP_PKEY_eq(X509_get0_pubkey(ca1.get()), X509_get0_pubkey(ca2.get())), 1);
  EXPECT_NE(ReadFile(Folder() / "server.key"), ReadFile(otherFolder / "server.key"));
  EXPECT_NE(X509_NAME_cmp(X509_get_subject_name(ca1.get()), X509_get_subject_name(ca2.get())), 0);
}

TEST_F(Install, UninstallRemovesTheTrustTheEntriesAndTheFiles) {
  const fs::path profile = Home() / ".mozilla/firefox/ab12cd.default-release";
  fs::create_directories(profile);
  WriteFile(profile / "prefs.js", "// Firefox profile\n");
  ASSERT_EQ(Installs({}, {}, true), 0) << output_;
  const std::string caPem = ReadFile(Folder() / "zivraLocalCA.crt");
  Process server((Folder() / "zivraBrowserServer").string(), {});
  ASSERT_TRUE(WaitUntil([&] { return !PidsRunning(Folder() / "zivraBrowserServer").empty(); }, 5s));

  ASSERT_EQ(RunScript("uninstall", {}), 0) << output_;
  EXPECT_TRUE(server.Wait(5s).has_value());
  EXPECT_FALSE(fs::exists(Folder()));
  for (const fs::path& db : {NssDb(), profile}) EXPECT_NE(NssEntry(db).exitCode, 0) << db;
  for (const char* f : {".local/share/applications/zivra-browser-tool.desktop",
                        ".local/share/applications/zivra-update.desktop",
                        ".config/autostart/zivra-browser-tool.desktop",
                        ".config/menus/applications-merged/zivra.menu"}) {
    EXPECT_FALSE(fs::exists(Home() / f)) << f;
  }
  if (Isolated()) {
    EXPECT_FALSE(fs::exists(kSystemCaFile));
    EXPECT_EQ(ReadFile("/etc/ssl/certs/ca-certificates.crt").find(caPem), std::string::npos);
  }
}

TEST_F(Install, UninstallKeepsFilesItDidNotInstall) {
  ASSERT_EQ(Installs(), 0) << output_;
  WriteFile(Folder() / "notes.txt", "mine\n");
  ASSERT_EQ(RunScript("uninstall", {}), 0) << output_;
  EXPECT_EQ(ReadFile(Folder() / "notes.txt"), "mine\n");
  EXPECT_FALSE(fs::exists(Folder() / "zivraBrowserServer"));
  EXPECT_FALSE(fs::exists(Folder() / "server.key"));
}

TEST_F(Install, InstallsTheDocumentsAndTheServerSendsTheTestPageWhole) {
  ASSERT_EQ(Installs(), 0) << output_;

  // The test page fits the server's page buffer, declares its encoding where a browser looks for
  // it (the reply has no Content-Type), and reaches a client byte for byte.
  const std::string page = ReadFile(Folder() / "EnvTest.html");
  EXPECT_LT(page.size(), 30000u);
  EXPECT_EQ(page.find('\r'), std::string::npos);
  EXPECT_LT(page.find("<meta charset=\"utf-8\">"), 1024u);
  if (Isolated()) {
    Process server((Folder() / "zivraBrowserServer").string(), {});
    ASSERT_TRUE(WaitForListener());
    const TlsResult r = HttpsExchange("localhost", kPort, "GET /EnvTest.html HTTP/1.1\r\n\r\n",
                                      (Folder() / "zivraLocalCA.crt").string());
    EXPECT_TRUE(r.handshake) << r.error;
    EXPECT_EQ(r.reply, ExpectedReply(page));
  }

  // The help document embeds its CJK font and carries its text (not pictures of it).
  const fs::path pdf = Folder() / "Zivra.pdf";
  const CommandResult fonts = RunCommand({"pdffonts", pdf.string()});
  ASSERT_EQ(fonts.exitCode, 0);
  bool cjkEmbedded = false;
  std::istringstream lines(fonts.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("NotoSansCJKtc-") != std::string::npos) {
      cjkEmbedded = true;
      EXPECT_NE(line.find(" yes yes yes "), std::string::npos) << line;  // embedded, subset, with Unicode map
    }
  }
  EXPECT_TRUE(cjkEmbedded) << fonts.output;
  const CommandResult text = RunCommand({"pdftotext", "-enc", "UTF-8", pdf.string(), "-"});
  ASSERT_EQ(text.exitCode, 0);
  for (const char* words : {"使用說明", "讀卡機設定", "系統匣選單", "控制視窗", "收集除錯紀錄", "更新元件",
                            "zivraDebug.txt", "Err:No Card Found"}) {
    EXPECT_NE(text.output.find(words), std::string::npos) << words;
  }

  // Laid out again from its source, the document comes out byte for byte the same.
  const fs::path again = tmp_.Path() / "again.pdf";
  ASSERT_EQ(RunCommand({std::string(ZIVRA_BINARY_DIR) + "/resources/help/zivra_help_pdf",
                        kSource + "/resources/help/Zivra.txt", again.string()}).exitCode, 0);
  EXPECT_TRUE(ReadFile(again) == ReadFile(pdf));
}

}  // namespace
}  // namespace zivra::test
