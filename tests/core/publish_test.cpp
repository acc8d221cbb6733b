// Publishing the access file on real FTP, FTPS and SFTP servers on 127.0.0.1: all at once,
// over every transport the server field names, and never leaving a cut or foreign file live.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
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

const std::string kUser = "site";
const std::string kPassword = "s3cret \"pass\"";
const std::string kLive = "deny from 192.0.2.1\n";
const std::string kNew = "deny from 198.51.100.7\ndeny from 203.0.113.9\n";

// The files of a folder whose names show the upload's own temporary names.
std::vector<std::string> Leftovers(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with(".htpalisor-")) {
      names.push_back(entry.path().filename().string());
    }
  }
  return names;
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
    fs::create_directories(Site());
    test::WriteBytes(Site() / ".htaccess", kLive);
    transfer.SetRequestTimeout(20s);
  }

  fs::path Site() const { return home.path() / "public_html"; }
  std::string Live() const { return test::ReadBytes(Site() / ".htaccess"); }
  StageResult Upload() { return UploadAccessFile(settings, transfer, events.token(), warnings); }

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

TEST_F(PublishTest, SftpHostKeyIsRecordedOnceAndAChangedOneRefused) {
  int port = 0;
  {
    const test::SftpServer first(home.path(), kUser, kPassword, keys / "first");
    port = first.port();
    settings.SVNAME = first.Address();
    ASSERT_TRUE(Upload().ok());
    EXPECT_TRUE(Mentions(warnings, kKnownHostsFile));
    EXPECT_TRUE(fs::exists(kKnownHostsFile));

    warnings.clear();
    ASSERT_TRUE(Upload().ok());
    EXPECT_TRUE(warnings.empty()) << warnings.front();
  }
  test::WriteBytes(Site() / ".htaccess", kLive);
  const test::SftpServer impostor(home.path(), kUser, kPassword, keys / "second", port);

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
