// Publishing the access file on real FTP, FTPS and SFTP servers on 127.0.0.1: all at once,
// over every transport the server field names, and never leaving a cut or foreign file live.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Transfer.h"
#include "support/RecordingEvents.h"
#include "support/ScratchWorkingDir.h"
#include "support/TestServers.h"
#include "update/FtpUpload.h"

namespace palisor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;

const std::string kUser = "site";
const std::string kPassword = "s3cret \"pass\" p@ss:w/rd %20#";  // what a URL would misread
const std::string kLive = "deny from 192.0.2.1\n";
// Bytes an ASCII-mode transfer would change (CR LF, a lone LF, NUL, high bytes).
const std::string kNew = "deny from 198.51.100.7\r\nX\nY\0\xFF\x80\r\ndeny from 203.0.113.9\n"s;

// The files of a folder whose names show the upload's own temporary names.
std::vector<std::string> Leftovers(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with(".htpalisor-")) {
      names.push_back(entry.path().filename().string());
    }
  }
  return names;
}

std::size_t Count(const std::string& text, std::string_view word) {
  std::size_t count = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    ++count;
  }
  return count;
}

// The commands an FTP server received, once it logged the session's closing QUIT, which it
// may read just after the upload returns.
std::string CommandsToQuit(const test::FtpServer& server) {
  std::string commands;
  for (int i = 0; i < 50 && commands.find("QUIT") == std::string::npos; ++i) {
    std::this_thread::sleep_for(20ms);
    commands = server.Commands();
  }
  return commands;
}

bool Mentions(const std::vector<std::string>& lines, std::string_view word) {
  for (const std::string& line : lines) {
    if (line.find(word) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// One server of the kind a case names, serving `home`.
struct Served {
  std::string address;  // what SVNAME holds
  std::shared_ptr<void> keepAlive;
};
using ServerMaker = std::function<Served(const fs::path& home)>;

class PublishTest : public test::ScratchWorkingDir {
 protected:
  void SetUp() override {
    ScratchWorkingDir::SetUp();
    test::WriteBytes("htaccess.txt", kNew);
    settings.SVUSER = kUser;
    settings.SVPSWD = kPassword;
    settings.SVPATH = "/public_html";
    settings.SVFILE = ".htaccess";
    settings.LINESEP = "\n";
    settings.LCFILE = "htaccess.txt";
    settings.OTHERLINES = OtherLines::kReplace;  // these sites' files are Palisor's own
    fs::create_directories(Site());
    test::WriteBytes(Site() / ".htaccess", kLive);
    transfer.SetRequestTimeout(20s);
  }

  fs::path Site() const { return home.path() / "public_html"; }
  std::string Live() const { return test::ReadBytes(Site() / ".htaccess"); }
  // The file written before, sent as a run sends what it wrote.
  StageResult Upload() {
    return UploadAccessFile(settings, test::ReadBytes(settings.LCFILE), transfer, events.token(),
                            warnings)
        .Without();
  }

  Served Ftp(std::vector<std::string> options = {}) const {
    auto server = std::make_shared<test::FtpServer>(home.path(), kUser, kPassword, options);
    return {server->Address(), server};
  }
  Served Tls(const char* mode, const test::TestCertificate& identity) const {
    return Ftp({"--tls", mode, identity.certificate().string(), identity.key().string()});
  }
  Served Sftp(const fs::path& key, int port = 0) const {
    auto server = std::make_shared<test::SftpServer>(home.path(), kUser, kPassword, key, port);
    return {server->Address(), server};
  }

  test::ScratchDir home;
  test::ScratchDir keys;
  const test::TestCertificate identity;
  const test::TestCertificate stranger;
  Settings settings;
  Transfer transfer;
  test::RecordingEvents events;
  std::vector<std::string> warnings;
};

TEST_F(PublishTest, EveryServerFormReplacesTheLiveFileAtOnce) {
  struct Case {
    const char* name;
    std::function<Served()> start;
    std::string scheme;  // written before the address
    bool inClear;        // the run warns that the password travels unencrypted
  };
  const Case cases[] = {
      {"bare host and port", [this] { return Ftp(); }, "", true},
      {"ftp://", [this] { return Ftp(); }, "ftp://", true},
      {"FTP with explicit TLS", [this] { return Tls("explicit", identity); }, "ftpes://", false},
      {"FTP inside TLS", [this] { return Tls("implicit", identity); }, "FTPS://", false},
      {"SFTP", [this] { return Sftp(keys / "host_key"); }, "", false},
  };
  transfer.SetExtraCaFile(identity.certificate());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteBytes(Site() / ".htaccess", kLive);
    warnings.clear();
    const Served server = c.start();
    settings.SVNAME = c.scheme + server.address;

    const StageResult result = Upload();

    ASSERT_EQ(result.outcome, Outcome::kOk) << result.error;
    EXPECT_EQ(Live(), kNew);
    EXPECT_TRUE(Leftovers(Site()).empty());
    EXPECT_EQ(Mentions(warnings, "unencrypted"), c.inClear);
    EXPECT_FALSE(Mentions(warnings, kPassword));
  }
}

TEST_F(PublishTest, TheBytesLandWhereThePathsSayFromTheRootOrTheLoginFolder) {
  struct Case {
    const char* svpath;
    const char* svfile;
    const char* landsAt;  // below the server's root
  };
  const Case cases[] = {
      {"", ".htaccess", ".htaccess"},
      {"/public_html", ".htaccess", "public_html/.htaccess"},
      {"/home/site/public_html", ".htaccess", "home/site/public_html/.htaccess"},
      {" /dir with space ", " a b%.txt ", "dir with space/a b%.txt"},
      {"public_html", ".htaccess", "home/site/public_html/.htaccess"},
  };
  // The login starts in a folder of its own, as on most hosts.
  const test::FtpServer server(home.path(), kUser, kPassword, {"--login-folder", "/home/site"});
  settings.SVNAME = server.Address();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.landsAt);
    settings.SVPATH = c.svpath;
    settings.SVFILE = c.svfile;
    fs::create_directories((home / c.landsAt).parent_path());

    const StageResult result = Upload();

    ASSERT_EQ(result.outcome, Outcome::kOk) << result.error;
    EXPECT_TRUE(test::ReadBytes(home / c.landsAt) == kNew);
    EXPECT_TRUE(Leftovers(home.path()).empty());
  }
}

TEST_F(PublishTest, AnFtpSessionIsBinaryAndSendsUnderATemporaryNameThenQuits) {
  const test::FtpServer server(home.path(), kUser, kPassword);
  settings.SVNAME = server.Address();

  ASSERT_TRUE(Upload().ok());

  const std::string commands = CommandsToQuit(server);
  EXPECT_NE(commands.find("TYPE I\n"), std::string::npos) << commands;
  EXPECT_TRUE(
      commands.ends_with("STOR .htpalisor-.htaccess.new\nRNFR .htpalisor-.htaccess.new\n"
                         "RNTO .htaccess\nQUIT\n"))
      << commands;
}

TEST_F(PublishTest, RefusedOrImpossibleUploadsChangeNothingAndLogInOnce) {
  struct Case {
    const char* name;
    std::function<void(Settings&)> spoil;
    std::vector<std::string> reasons = {};  // what the error must name, where it matters
  };
  const test::FtpServer server(home.path(), kUser, kPassword);
  const Case cases[] = {
      {"wrong password", [](Settings& s) { s.SVPSWD = "wrong"; }, {"530"}},
      {"wrong password, checked site",
       [](Settings& s) {
         s.SVPSWD = "wrong";
         s.CHECKURL = "http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/";
       },
       {"530"}},
      {"unknown user", [](Settings& s) { s.SVUSER = "nobody"; }},
      {"missing remote directory",
       [](Settings& s) { s.SVPATH = "/no/such/dir"; },
       {"550", "/no/such/dir/.htaccess"}},
      {"unreachable server",
       [](Settings& s) { s.SVNAME = "127.0.0.1:" + std::to_string(test::UnusedPort()); }},
      {"empty server name", [](Settings& s) { s.SVNAME = "   "; }, {"no server is set"}},
      {"server name with a path",
       [&server](Settings& s) { s.SVNAME = server.Address() + "/elsewhere"; },
       {"not a usable server name"}},
      {"no file name", [](Settings& s) { s.SVFILE = ""; }, {"empty"}},
  };
  const Settings good = [&] {
    Settings s = settings;
    s.SVNAME = server.Address();
    return s;
  }();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings = good;
    c.spoil(settings);
    const std::size_t loginsBefore = Count(server.Commands(), "USER ");

    const StageResult result = Upload();

    EXPECT_EQ(result.outcome, Outcome::kFailed);
    for (const std::string& reason : c.reasons) {
      EXPECT_NE(result.error.find(reason), std::string::npos) << result.error;
    }
    EXPECT_EQ(result.error.find(kPassword), std::string::npos) << result.error;
    EXPECT_EQ(Live(), kLive);
    EXPECT_TRUE(Leftovers(home.path()).empty());
    // Hosts that lock an account after a few refused logins must see one per run.
    EXPECT_LE(Count(server.Commands(), "USER ") - loginsBefore, 1u);
  }
}

TEST_F(PublishTest, RefusedConnectionsAndRenamesLeaveTheLiveFileAsItWas) {
  struct Case {
    const char* name;
    std::function<Served()> start;
    const char* scheme;
    const char* reasonHolds;
  };
  const Case cases[] = {
      {"certificate trusted nowhere", [this] { return Tls("explicit", stranger); }, "ftpes://",
       "certificate"},
      {"implicit TLS, certificate trusted nowhere", [this] { return Tls("implicit", stranger); },
       "ftps://", "certificate"},
      {"TLS asked of a server without it", [this] { return Ftp(); }, "ftpes://", "SSL"},
      {"every rename refused",
       [this] {
         return Ftp({"--rename-over", "never"});
       },
       "", "550"},
  };
  transfer.SetExtraCaFile(identity.certificate());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Served server = c.start();
    settings.SVNAME = c.scheme + server.address;

    const StageResult result = Upload();

    EXPECT_EQ(result.outcome, Outcome::kFailed);
    EXPECT_NE(result.error.find(c.reasonHolds), std::string::npos) << result.error;
    EXPECT_NE(result.error.find(settings.SVNAME), std::string::npos) << result.error;
    EXPECT_EQ(result.error.find(kPassword), std::string::npos) << result.error;
    EXPECT_EQ(Live(), kLive);
    EXPECT_TRUE(Leftovers(Site()).empty());
  }
}

TEST_F(PublishTest, AFileApacheWouldReadAsOneLineIsNotPublished) {
  const struct {
    const char* separator;
    bool published;
  } cases[] = {
      {"\n", true}, {"\r\n", true}, {"\r", true}, {"\t", false}, {",", false}, {"; ", false},
  };
  const Served server = Ftp();
  settings.SVNAME = server.address;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.separator)));
    test::WriteBytes(Site() / ".htaccess", kLive);
    settings.LINESEP = c.separator;

    const StageResult result = Upload();

    EXPECT_EQ(result.ok(), c.published) << result.error;
    EXPECT_EQ(Live(), c.published ? kNew : kLive);
    EXPECT_TRUE(Leftovers(Site()).empty());
  }
}

TEST_F(PublishTest, AServerThatWillNotRenameOverAFileGetsItInTwoSteps) {
  const Served server = Ftp({"--rename-over", "refuse"});
  settings.SVNAME = server.address;
  const auto& ftp = *std::static_pointer_cast<test::FtpServer>(server.keepAlive);

  ASSERT_TRUE(Upload().ok());

  EXPECT_EQ(Live(), kNew);
  EXPECT_TRUE(Leftovers(Site()).empty());
  const std::string commands = ftp.Commands();
  EXPECT_NE(commands.find("RNFR .htaccess\nRNTO .htpalisor-.htaccess.old\n"
                          "RNFR .htpalisor-.htaccess.new\nRNTO .htaccess\n"
                          "DELE .htpalisor-.htaccess.old\n"),
            std::string::npos)
      << commands;
}

TEST_F(PublishTest, SftpHostKeysAreRecordedOncePerPortAndAChangedOneRefused) {
  test::WriteBytes(kKnownHostsFile, "# edited by hand, without a last line end");
  // The impostor takes the first server's port once it is gone.
  const int port = test::UnusedSteadyPort();
  {
    const test::SftpServer first(home.path(), kUser, kPassword, keys / "first", port);
    const test::SftpServer neighbour(home.path(), kUser, kPassword, keys / "second");
    const struct {
      const test::SftpServer& server;
      bool recorded;  // the run warns that the key is now recorded
    } runs[] = {{first, true}, {neighbour, true}, {first, false}, {neighbour, false}};
    for (const auto& run : runs) {
      SCOPED_TRACE(run.server.Address());
      warnings.clear();
      settings.SVNAME = run.server.Address();
      const StageResult result = Upload();
      ASSERT_TRUE(result.ok()) << result.error;
      EXPECT_EQ(Mentions(warnings, kKnownHostsFile), run.recorded);
    }
    // As OpenSSH names a server on a port other than 22.
    const std::string known = test::ReadBytes(kKnownHostsFile);
    EXPECT_EQ(Count(known, "\n[127.0.0.1]:"), 2u) << known;
    EXPECT_NE(known.find("\n[127.0.0.1]:" + std::to_string(port) + " ssh-ed25519 "),
              std::string::npos)
        << known;
    EXPECT_EQ(Count(known, "[127.0.0.1]:" + std::to_string(neighbour.port()) + " "), 1u) << known;
  }
  test::WriteBytes(Site() / ".htaccess", kLive);
  const test::SftpServer impostor(home.path(), kUser, kPassword, keys / "second", port);
  settings.SVNAME = impostor.Address();

  const StageResult result = Upload();

  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_NE(result.error.find(kKnownHostsFile), std::string::npos) << result.error;
  EXPECT_NE(result.error.find("delete the server's line"), std::string::npos) << result.error;
  EXPECT_EQ(Live(), kLive);
}

TEST_F(PublishTest, EndingTheProgramMidUploadLeavesTheLiveFileAndNoTemporaryOne) {
  test::WriteBytes("htaccess.txt", std::string(400'000, 'x'));
  const Served server = Ftp({"--upload-rate", "100000"});  // four seconds
  settings.SVNAME = server.address;
  events.StopAfter(500ms);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Upload().outcome, Outcome::kAbandoned);

  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(Live(), kLive);
  EXPECT_TRUE(Leftovers(Site()).empty());
}

TEST_F(PublishTest, ACheckThatCannotBeMadeIsReportedAndKeepsTheNewFile) {
  const Served server = Ftp();
  settings.SVNAME = server.address;
  settings.CHECKURL = "http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/";

  ASSERT_TRUE(Upload().ok());

  EXPECT_EQ(Live(), kNew);
  EXPECT_TRUE(Mentions(warnings, "could not be checked"));
}

}  // namespace
}  // namespace palisor
