#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Transfer.h"
#include "support/RecordingEvents.h"
#include "support/TestServers.h"
#include "update/FtpUpload.h"

namespace palisor {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

// Bytes an ASCII-mode transfer would change (CR LF, a lone LF, NUL, high bytes).
const std::string kAccessFile = "deny from 1.2.3.4\r\nX\nY\0\xFF\x80\r\n"s;

const std::string kUser = "site";
const std::string kPassword = "p@ss:w/rd %20#";  // characters a URL would misread

class FtpUploadTest : public ::testing::Test {
 protected:
  FtpUploadTest() {
    settings.SVNAME = "  " + server.Address() + " ";
    settings.SVUSER = " " + kUser + " ";
    settings.SVPSWD = " " + kPassword + "  ";
    settings.SVFILE = ".htaccess";
    settings.LINESEP = "\n";
    settings.LCFILE = " " + local.Write("out file.txt", kAccessFile).string() + "  ";
    transfer.SetRequestTimeout(10s);
  }

  StageResult Upload() { return UploadAccessFile(settings, transfer, events.token(), warnings); }

  test::ScratchDir local;
  test::ScratchDir home;
  test::FtpServer server{home.path(), kUser, kPassword};
  Settings settings;
  Transfer transfer;
  test::RecordingEvents events;
  std::vector<std::string> warnings;
};

TEST_F(FtpUploadTest, SendsTheBytesWhereThePathsSay) {
  struct Case {
    const char* svpath;
    const char* svfile;
    const char* landsAt;  // relative to the server's root
  };
  const Case cases[] = {
      {"", ".htaccess", ".htaccess"},
      {"/public_html", ".htaccess", "public_html/.htaccess"},
      {"/home/site/public_html", ".htaccess", "home/site/public_html/.htaccess"},
      {" /dir with space ", " a b%.txt ", "dir with space/a b%.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.landsAt);
    settings.SVPATH = c.svpath;
    settings.SVFILE = c.svfile;
    std::filesystem::create_directories((home / c.landsAt).parent_path());

    const StageResult result = Upload();
    ASSERT_EQ(result.outcome, Outcome::kOk) << result.error;
    EXPECT_TRUE(test::ReadBytes(home / c.landsAt) == kAccessFile);
  }
}

TEST_F(FtpUploadTest, SessionIsBinaryAndEndsWithQuit) {
  ASSERT_TRUE(Upload().ok());
  // The server logs QUIT when it reads it, which may be just after the upload returns.
  std::string commands;
  for (int i = 0; i < 50 && commands.find("QUIT") == std::string::npos; ++i) {
    std::this_thread::sleep_for(20ms);
    commands = server.Commands();
  }
  // The bytes travel under a name Apache never serves and replace the live file in one rename.
  EXPECT_NE(commands.find("TYPE I\n"), std::string::npos) << commands;
  EXPECT_TRUE(
      commands.ends_with("STOR .htpalisor-.htaccess.new\nRNFR .htpalisor-.htaccess.new\n"
                         "RNTO .htaccess\nQUIT\n"))
      << commands;
}

TEST_F(FtpUploadTest, RefusedOrImpossibleUploadsAreFailures) {
  struct Case {
    const char* name;
    std::function<void(Settings&)> spoil;
    std::vector<std::string> reasons = {};  // what the error must name, where it matters
  };
  const Case cases[] = {
      {"wrong password", [](Settings& s) { s.SVPSWD = "wrong"; }, {"530"}},
      {"unknown user", [](Settings& s) { s.SVUSER = "nobody"; }},
      {"missing remote directory",
       [](Settings& s) { s.SVPATH = "/no/such/dir"; },
       {"550", "/no/such/dir/.htaccess"}},
      {"missing local file", [this](Settings& s) { s.LCFILE = (local / "missing.txt").string(); }},
      {"local file is a directory", [](Settings& s) { s.LCFILE = "/tmp"; }},
      {"unreachable server",
       [](Settings& s) { s.SVNAME = "127.0.0.1:" + std::to_string(test::UnusedPort()); }},
      {"empty server name", [](Settings& s) { s.SVNAME = "   "; }},
      {"server name with a path",
       [this](Settings& s) { s.SVNAME = server.Address() + "/elsewhere"; }},
      {"no file name", [](Settings& s) { s.SVFILE = ""; }},
  };
  const Settings good = settings;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings = good;
    c.spoil(settings);
    const StageResult result = Upload();
    EXPECT_EQ(result.outcome, Outcome::kFailed);
    EXPECT_FALSE(result.error.empty());
    for (const std::string& reason : c.reasons) {
      EXPECT_NE(result.error.find(reason), std::string::npos) << result.error;
    }
    EXPECT_EQ(result.error.find(kPassword), std::string::npos) << result.error;
  }
  EXPECT_FALSE(std::filesystem::exists(home / ".htaccess"));
}

}  // namespace
}  // namespace palisor
