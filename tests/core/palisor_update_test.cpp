// Whole runs of the palisor-update command in a scratch working folder, against real HTTP and
// FTP servers on 127.0.0.1.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/TestServers.h"
#include "support/UpdateCommand.h"

namespace palisor::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

// Every caption the command prints, as the tests expect it.
constexpr std::string_view kJapan = "国別情報の取得中[日本]\n";
constexpr std::string_view kChina = "国別情報の取得中[中国]\n";
constexpr std::string_view kAnonymous = "PROXY情報の取得中[Anonymous]\n";
constexpr std::string_view kNonAnonymous = "PROXY情報の取得中[Non-Anonymous]\n";
constexpr std::string_view kSquid = "PROXY情報の取得中[Squid]\n";
constexpr std::string_view kRussia1 = "PROXY情報の取得中[露①]\n";
constexpr std::string_view kAnalysing = "解析中\n";
constexpr std::string_view kSending = "送信中\n";
constexpr std::string_view kWaiting = "待機中\n";

std::string Join(std::initializer_list<std::string_view> parts) {
  std::string joined;
  for (std::string_view part : parts) {
    joined += part;
  }
  return joined;
}

// Every file and folder below `dir`, relative to it.
std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    names.insert(fs::relative(entry.path(), dir).string());
  }
  return names;
}

// `names` and the run log every run adds to.
std::set<std::string> AndRunLog(std::set<std::string> names) {
  names.insert("palisor.log");
  return names;
}

std::size_t LineCount(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

constexpr std::string_view kPreviousRun = "deny from 192.0.2.250\n";
constexpr const char* kFtpUser = "site";
constexpr const char* kFtpPassword = "s3cret:@/pw";

// A scratch working folder with servers on 127.0.0.1: `lists` is what the HTTP server
// serves, `ftpHome` the FTP user's home. The settings file is written by each test.
class PalisorUpdate : public ::testing::Test {
 protected:
  std::string ListUrl(std::string_view name) const { return http.Url("/" + std::string(name)); }

  // The [FTP] section for the local FTP server, with the given switch and remote folder.
  std::string FtpSection(bool upload, std::string_view remoteDir = "/public_html") const {
    return "[FTP]\nSVNAME=" + ftp.Address() + "\nSVUSER=" + kFtpUser + "\nSVPSWD=" + kFtpPassword +
           "\nSVPATH=" + std::string(remoteDir) +
           "\nSVFILE=.htaccess\nFTPSW=" + (upload ? "-1" : "0") + "\n";
  }

  void WriteSettings(const std::string& ini) { work.Write("palisor.ini", ini); }
  std::string Output() const { return ReadBytes(work / "htaccess.txt"); }
  std::string Uploaded() const { return ReadBytes(ftpHome / "public_html" / ".htaccess"); }

  ScratchDir lists;
  ScratchDir ftpHome;
  ScratchDir work;
  HttpServer http{lists.path()};
  FtpServer ftp{ftpHome.path(), kFtpUser, kFtpPassword};
};

TEST_F(PalisorUpdate, NoListEnabledTouchesNothingAndUploadsNothing) {
  lists.Write("proxy.txt", "192.0.2.1\n");
  ftpHome.Write("public_html/.htaccess", "live\n");
  WriteSettings(FtpSection(true) + "[URL]\nURL1=" + ListUrl("proxy.txt") + "\nMODE1=0\n");
  work.Write("htaccess.txt", kPreviousRun);
  const auto before = Listing(work.path());
  const std::string settings = ReadBytes(work / "palisor.ini");

  const Finished run = RunIn(work.path());

  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, kWaiting);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Output(), kPreviousRun);
  EXPECT_EQ(Listing(work.path()), AndRunLog(before));
  EXPECT_EQ(ReadBytes(work / "palisor.ini"), settings);
  EXPECT_EQ(Uploaded(), "live\n");
  EXPECT_EQ(ftp.Commands(), "") << "nobody should have connected";
}

TEST_F(PalisorUpdate, ThirdOfFourListsFailingLeavesThePreviousFile) {
  lists.Write("cn.txt", "allow from 198.51.100.0/24\n");
  lists.Write("c1.txt", "192.0.2.1\n");
  lists.Write("c3.txt", "192.0.2.3\n");
  // The Non-Anonymous server announces a body and hangs up in the middle of it.
  WriteSettings(
      FtpSection(true) + "[URL]\nURL1=" + ListUrl("c1.txt") + "\nURL2=" + http.Url("/cut") +
      "\nURL3=" + ListUrl("c3.txt") +
      "\nMODE1=-1\nMODE2=-1\nMODE3=-1\n[CNT]\nIPG_CN=1\nIPG_CN_URL1=" + ListUrl("cn.txt") + "\n");
  work.Write("htaccess.txt", kPreviousRun);
  const auto before = Listing(work.path());

  const Finished run = RunIn(work.path());

  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.out, Join({kChina, kAnonymous, kNonAnonymous}));
  EXPECT_EQ(LineCount(run.err), 1u) << run.err;
  EXPECT_TRUE(run.err.starts_with("palisor-update: ")) << run.err;
  EXPECT_NE(run.err.find("Non-Anonymous"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(http.Url("/cut")), std::string::npos) << run.err;
  EXPECT_EQ(Output(), kPreviousRun);
  EXPECT_EQ(Listing(work.path()), AndRunLog(before)) << "no temporary file may stay behind";
  EXPECT_EQ(ftp.Commands(), "");
}

TEST_F(PalisorUpdate, FullRunWritesAndUploadsTheSameBytes) {
  lists.Write("ipg_ALLOW_JP.txt", "allow from 192.0.2.0/26\n");
  lists.Write("proxy_c1.txt", "192.0.2.14\n  198.51.100.8  \n203.0.113.5:8080\n");
  lists.Write("proxy_ru1.txt", "198.51.100.201\n");
  work.Write("add2htaccess.txt", "order allow,deny\r\n");
  work.Write("add2htaccess2.txt", "ErrorDocument 403 /forbidden.html\r\n");
  ftpHome.Write("public_html/.htaccess", "the previous upload, longer than the new file\n");
  WriteSettings(FtpSection(true) + "[EDIT]\nCHARBF=deny from\nCHARAF=# proxy\n[URL]\nURL1=" +
                ListUrl("proxy_c1.txt") + "\nURL4=" + ListUrl("proxy_ru1.txt") +
                "\nMODE1=-1\nMODE4=-1\nMASK=24\n[CNT]\nIPG_JP=1\nIPG_JP_URL1=" +
                ListUrl("ipg_ALLOW_JP.txt") + "\n");
  const std::string settings = ReadBytes(work / "palisor.ini");

  const Finished run = RunIn(work.path());

  EXPECT_EQ(run.exitStatus, 0) << run.err;
  // Plain FTP is said once, the only line on standard error of a run that worked.
  EXPECT_EQ(LineCount(run.err), 1u) << run.err;
  EXPECT_NE(run.err.find("unencrypted"), std::string::npos) << run.err;
  // In a pipe the per-line count is left out.
  EXPECT_EQ(run.out, Join({kJapan, kAnonymous, kRussia1, kAnalysing, kSending, kWaiting}));
  const std::string expected =
      "order allow,deny\n"
      "allow from 192.0.2.0/26\n"
      "deny from 192.0.2.14/24 # proxy\n"
      "deny from 198.51.100.8/24 # proxy\n"
      "deny from 203.0.113.5/24 # proxy\n"
      "deny from 198.51.100.201/24 # proxy\n"
      "ErrorDocument 403 /forbidden.html\n";
  EXPECT_EQ(Output(), expected);
  EXPECT_EQ(Uploaded(), expected);
  EXPECT_EQ(ReadBytes(work / "palisor.ini"), settings) << "the settings file is never written";
  EXPECT_EQ(Listing(work.path()),
            AndRunLog({"add2htaccess.txt", "add2htaccess2.txt", "htaccess.txt", "palisor.ini"}));
}

TEST_F(PalisorUpdate, UploadsFromALocalFileWithASpaceToTheServersRoot) {
  lists.Write("c1.txt", "192.0.2.7\n");
  WriteSettings(FtpSection(true, "") +
                "LCFILE=.\\site output.txt\n[URL]\nURL1=" + ListUrl("c1.txt") + "\n");

  const Finished run = RunIn(work.path());

  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(ReadBytes(work / "site output.txt"), "deny from 192.0.2.7\n");
  EXPECT_EQ(ReadBytes(ftpHome / ".htaccess"), "deny from 192.0.2.7\n");
}

TEST_F(PalisorUpdate, ListsAreJoinedOnLinesOfTheirOwnAndSkippedLinesAreWarnedOf) {
  lists.Write("c1.txt",
              "\xEF\xBB\xBF"
              "192.0.2.1\n192.0.2.2");
  lists.Write("c2.txt",
              "\xEF\xBB\xBF"
              "198.51.100.1\n<br>\n# updated daily\n");
  WriteSettings(FtpSection(false) + "[URL]\nURL1=" + ListUrl("c1.txt") +
                "\nURL2=" + ListUrl("c2.txt") + "\nMODE1=-1\nMODE2=-1\n");

  const Finished run = RunIn(work.path());

  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, Join({kAnonymous, kNonAnonymous, kAnalysing, kWaiting}));
  EXPECT_EQ(Output(), "deny from 192.0.2.1\ndeny from 192.0.2.2\ndeny from 198.51.100.1\n");
  EXPECT_EQ(run.err, "palisor-update: list Non-Anonymous (" + ListUrl("c2.txt") +
                         "): 2 lines skipped, not read by Apache as meant: \"<br>\", "
                         "\"# updated daily\"\n");
}

// An error page, or a page served instead of the list, must never reach the site.
TEST_F(PalisorUpdate, ErrorStatusOrAPageInsteadOfAListFailsTheRun) {
  lists.Write("c1.txt", "192.0.2.1\n");
  lists.Write("moved.html", "<!DOCTYPE html>\n<title>Moved</title>\n\n");
  for (const auto& [path, reason] :
       {std::pair{"/missing.txt", "404"},
        {"/moved.html", "no address in 3 lines; first line \"<!DOCTYPE html>\""}}) {
    SCOPED_TRACE(path);
    WriteSettings(FtpSection(true) + "[URL]\nURL1=" + ListUrl("c1.txt") +
                  "\nURL3=" + http.Url(path) + "\nMODE1=-1\nMODE3=-1\n");
    work.Write("htaccess.txt", kPreviousRun);

    const Finished run = RunIn(work.path());

    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, Join({kAnonymous, kSquid}));
    EXPECT_EQ(LineCount(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("Squid"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    EXPECT_EQ(Output(), kPreviousRun);
  }
  EXPECT_EQ(ftp.Commands(), "");
}

TEST_F(PalisorUpdate, RefusedUploadFailsTheRunWithSendingLast) {
  lists.Write("c1.txt", "192.0.2.1\n");
  WriteSettings("[FTP]\nSVNAME=" + ftp.Address() + "\nSVUSER=" + kFtpUser +
                "\nSVPSWD=wrong\nSVPATH=/public_html\nFTPSW=-1\n[URL]\nURL1=" + ListUrl("c1.txt") +
                "\n");

  const Finished run = RunIn(work.path());

  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.out, Join({kAnonymous, kAnalysing, kSending}));
  // The plain-FTP warning, then what failed.
  EXPECT_EQ(LineCount(run.err), 2u) << run.err;
  EXPECT_NE(run.err.find("530", run.err.find('\n')), std::string::npos) << run.err;
  EXPECT_EQ(Output(), "deny from 192.0.2.1\n") << "the local file is written before the upload";
  EXPECT_FALSE(fs::exists(ftpHome / "public_html" / ".htaccess"));
}

// Server text can carry escape sequences that would rewrite the terminal or the log's lines.
TEST_F(PalisorUpdate, AServersReplyReachesStandardErrorAndTheLogEscaped) {
  lists.Write("c1.txt", "192.0.2.1\n");
  ftpHome.Write("public_html/.htaccess", "live\n");
  const FtpServer hostile(ftpHome.path(), kFtpUser, kFtpPassword,
                          {"--store-reply", "552 \x1b]0;owned\x07\x1b[2J\\x41 quota"});
  WriteSettings("[FTP]\nSVNAME=" + hostile.Address() + "\nSVUSER=" + kFtpUser +
                "\nSVPSWD=" + kFtpPassword +
                "\nSVPATH=/public_html\nFTPSW=-1\n[URL]\nURL1=" + ListUrl("c1.txt") + "\n");

  const Finished run = RunIn(work.path());

  EXPECT_EQ(run.exitStatus, 1);
  const std::string log = ReadBytes(work / "palisor.log");
  for (const std::string& text : {run.err, log}) {
    EXPECT_NE(text.find("552 \\x1B]0;owned\\x07\\x1B[2J\\x5Cx41 quota"), std::string::npos) << text;
    EXPECT_EQ(text.find_first_of("\x1b\x07\r"), std::string::npos) << text;
  }
  EXPECT_EQ(LineCount(log), 1u) << log;
}

// A list's password stays out of the reason of a failed download and the name of a list with
// skipped lines, on standard error and in the log.
TEST_F(PalisorUpdate, AddressesAreShownAndLoggedWithoutTheirCredentials) {
  lists.Write("c1.txt", "192.0.2.1\n# a header\n");
  for (const auto& [path, exitStatus] : {std::pair{"/c1.txt", 0}, {"/missing.txt", 1}}) {
    SCOPED_TRACE(path);
    fs::remove(work / "palisor.log");
    const std::string url = http.Url(path);
    WriteSettings(FtpSection(false) + "[URL]\nURL1=http://lister:l1stpw@" + url.substr(7) + "\n");

    const Finished run = RunIn(work.path());

    EXPECT_EQ(run.exitStatus, exitStatus) << run.err;
    for (const std::string& text : {run.err, ReadBytes(work / "palisor.log")}) {
      EXPECT_NE(text.find(url), std::string::npos) << text;
      EXPECT_EQ(text.find("l1stpw"), std::string::npos) << text;
    }
  }
}

TEST_F(PalisorUpdate, AnFtpesServerIsTrustedThroughCafileAndNeverWarnedOfAsClear) {
  const TestCertificate identity;
  const FtpServer tls(
      ftpHome.path(), kFtpUser, kFtpPassword,
      {"--tls", "explicit", identity.certificate().string(), identity.key().string()});
  lists.Write("c1.txt", "192.0.2.1\n");
  struct Case {
    const char* name;
    std::string cafileLine;
    int exitStatus;
    std::string uploaded;
  };
  const Case cases[] = {
      {"certificate trusted through CAFILE", "CAFILE=" + identity.certificate().string() + "\n", 0,
       "deny from 192.0.2.1\n"},
      {"certificate trusted nowhere", "", 1, std::string(kPreviousRun)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ftpHome.Write("public_html/.htaccess", kPreviousRun);
    WriteSettings("[FTP]\nSVNAME=ftpes://" + tls.Address() + "\nSVUSER=" + kFtpUser +
                  "\nSVPSWD=" + kFtpPassword + "\nSVPATH=/public_html\nFTPSW=-1\n" + c.cafileLine +
                  "[URL]\nURL1=" + ListUrl("c1.txt") + "\n");

    const Finished run = RunIn(work.path());

    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.err;
    EXPECT_EQ(Uploaded(), c.uploaded);
    EXPECT_EQ(run.err.find("unencrypted"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(kFtpPassword), std::string::npos) << run.err;
  }
}

TEST_F(PalisorUpdate, OnATerminalTheCountIsRewrittenInPlace) {
  std::string list;
  for (int i = 0; i < 2000; ++i) {
    list += "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256) + "\n";
  }
  lists.Write("c1.txt", list);
  WriteSettings(FtpSection(false) + "[URL]\nURL1=" + ListUrl("c1.txt") + "\n");

  Command command(work.path(), {}, Output::kTerminal);
  const Finished run = command.Finish();

  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_NE(run.out.find("解析中\r\n\r解析中("), std::string::npos) << run.out;
  // The line with the count is finished, with the last count, before the next caption.
  EXPECT_NE(run.out.find("\r解析中(2001件)\r\n待機中\r\n"), std::string::npos) << run.out;
}

TEST_F(PalisorUpdate, AReaderGoingAwayDoesNotStopTheRun) {
  lists.Write("c1.txt", "192.0.2.1\n");
  WriteSettings(FtpSection(true) + "[URL]\nURL1=" + ListUrl("c1.txt") + "\n");

  fs::create_directory(ftpHome / "public_html");

  Command command(work.path(), {}, Output::kClosedPipe);
  const Finished run = command.Finish();

  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(Uploaded(), "deny from 192.0.2.1\n");
}

TEST_F(PalisorUpdate, InterruptedRunLeavesTheOutputAsItWas) {
  WriteSettings(FtpSection(true) + "[URL]\nURL1=" + http.Url("/stall") + "\n");
  work.Write("htaccess.txt", kPreviousRun);
  const auto before = Listing(work.path());

  Command command(work.path(), {});
  ASSERT_TRUE(command.WaitForOutput(kAnonymous));
  command.Signal(SIGTERM);
  const Finished run = command.Finish();

  EXPECT_EQ(run.exitStatus, 128 + SIGTERM);
  EXPECT_EQ(LineCount(run.err), 1u) << run.err;
  EXPECT_EQ(Output(), kPreviousRun);
  EXPECT_EQ(Listing(work.path()), AndRunLog(before));
}

// A stop signal while libcurl waits inside one call for a server that takes its time: over
// the upload's final reply (the run is abandoned) or over the closing QUIT (the file is
// published by then). Either way palisor-update ends at once.
TEST_F(PalisorUpdate, StopSignalWhileTheServerWithholdsAReplyEndsTheRunAtOnce) {
  lists.Write("c1.txt", "192.0.2.1\n");
  const struct {
    const char* delay;        // the server's environment variable
    const char* withheldFor;  // the command whose reply it withholds
    bool abandoned;
  } cases[] = {
      {"PALISOR_FTP_FINAL_REPLY_DELAY", "STOR", true},
      {"PALISOR_FTP_QUIT_DELAY", "QUIT", false},
  };
  for (const auto& c : cases) {
    ScratchDir slowHome;
    setenv(c.delay, "30", 1);
    FtpServer slow{slowHome.path(), kFtpUser, kFtpPassword};
    unsetenv(c.delay);
    WriteSettings(
        "[FTP]\nSVNAME=" + slow.Address() + "\nSVUSER=" + kFtpUser + "\nSVPSWD=" + kFtpPassword +
        "\nSVPATH=/\nSVFILE=.htaccess\nFTPSW=-1\n[URL]\nURL1=" + ListUrl("c1.txt") + "\n");
    for (const int signal : {SIGINT, SIGTERM}) {
      SCOPED_TRACE(std::string(c.withheldFor) + ", signal " + std::to_string(signal));
      const std::size_t before = slow.Commands().size();
      Command command(work.path(), {});
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (slow.Commands().find(c.withheldFor, before) == std::string::npos &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // waiting for the reply now
      const auto signalled = std::chrono::steady_clock::now();
      command.Signal(signal);
      const Finished run = command.Finish();

      EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::milliseconds(200));
      EXPECT_EQ(run.exitStatus, c.abandoned ? 128 + signal : 0) << run.err;
    }
  }
}

// A timed run that overlaps another skips its turn: no failure for cron or systemd.
TEST_F(PalisorUpdate, ASecondRunInTheSameFolderSkipsAtOnceUntilTheFirstEnds) {
  lists.Write("c1.txt", "192.0.2.1\n");
  WriteSettings(FtpSection(false) + "[URL]\nURL1=" + http.Url("/stall") + "\n");
  Command first(work.path(), {});
  ASSERT_TRUE(first.WaitForOutput(kAnonymous));

  const auto start = std::chrono::steady_clock::now();
  const Finished second = RunIn(work.path());
  EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(20)) << "it must not wait";
  const std::string busy = "another update is running in " + fs::canonical(work.path()).string();
  EXPECT_EQ(second.exitStatus, 75);
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(second.err, "palisor-update: skipped: " + busy + "\n");
  const std::string log = ReadBytes(work / "palisor.log");
  EXPECT_NE(log.find("  skipped  stage: -  reason: " + busy + "  "), std::string::npos) << log;

  // The kernel releases the lock of a run that dies; the next run takes it over.
  first.Signal(SIGKILL);
  first.Finish();
  WriteSettings(FtpSection(false) + "[URL]\nURL1=" + ListUrl("c1.txt") + "\n");
  const Finished third = RunIn(work.path());
  EXPECT_EQ(third.exitStatus, 0) << third.err;
  EXPECT_EQ(Output(), "deny from 192.0.2.1\n");
}

// What is still to fill in fails the run before any download, naming the dialog field and
// the key.
TEST_F(PalisorUpdate, SettingsStillToFillSayWhereToFillThemIn) {
  lists.Write("jp.txt", "allow from 192.0.2.0/24\n");
  const std::string japan = "[CNT]\nIPG_JP=1\nIPG_JP_URL1=" + ListUrl("jp.txt") + "\n";
  struct Case {
    const char* name;
    std::string settings;
    std::string out;
    std::string error;
  };
  const Case cases[] = {
      {"the default Anonymous list", FtpSection(false) + japan, "",
       "the Anonymous list has no address yet: set it in 設定 → リスト設定 (URL1 in palisor.ini)"},
      {"a country's deny list", FtpSection(false) + "[URL]\nMODE1=0\n[CNT]\nIPG_CN=2\n", "",
       "the China list has no address yet: set it in 設定 → リスト設定 (IPG_CN_URL2 in "
       "palisor.ini)"},
      {"the placeholder host written by hand",
       FtpSection(false) + "[URL]\nMODE1=0\nMODE3=1\nURL3= HTTPS://u@Lists.Palisor.Example:81/x\n",
       "", "the Squid list has no address yet"},
      {"no server with uploading on", "[FTP]\nFTPSW=1\n[URL]\nMODE1=0\n" + japan,
       Join({kJapan, kAnalysing, kSending}),
       "failed: no server is set: fill in 設定 → FTPサーバ (SVNAME in palisor.ini)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteSettings(c.settings);
    const Finished run = RunIn(work.path());
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, c.out);
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
  }
}

// --init writes the three sample files, the settings readable by their owner only, and writes
// none of them when any one exists.
TEST_F(PalisorUpdate, InitWritesTheSampleFilesButNeverOverAFile) {
  const std::set<std::string> samples = {"add2htaccess.txt", "add2htaccess2.txt", "palisor.ini"};
  const Finished init = RunIn(work.path(), {"--init"});
  EXPECT_EQ(init.exitStatus, 0) << init.err;
  EXPECT_EQ(init.err, "");
  EXPECT_EQ(Listing(work.path()), samples);
  EXPECT_EQ(fs::status(work / "palisor.ini").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  for (const std::string& taken : samples) {
    SCOPED_TRACE(taken);
    ScratchDir folder;
    folder.Write(taken, "mine\n");
    const Finished again = RunIn(folder.path(), {"--init"});
    EXPECT_EQ(again.exitStatus, 1);
    EXPECT_EQ(again.err, "palisor-update: " + taken + " already exists in " +
                             fs::canonical(folder.path()).string() +
                             "; --init writes over no file, so none was written\n");
    EXPECT_EQ(Listing(folder.path()), std::set<std::string>{taken});
    EXPECT_EQ(ReadBytes(folder / taken), "mine\n");
  }
}

TEST_F(PalisorUpdate, HelpAndVersionAnswerWithoutRunning) {
  const Finished help = RunIn(work.path(), {"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: palisor-update")) << help.out;
  const Finished version = RunIn(work.path(), {"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out, "palisor-update " PALISOR_VERSION "\n");
  EXPECT_EQ(Listing(work.path()), std::set<std::string>{});
}

TEST_F(PalisorUpdate, DirNamesTheFolderToWorkIn) {
  lists.Write("proxy.txt", "192.0.2.1\n");
  work.Write("site/palisor.ini", "[FTP]\nFTPSW=0\n[URL]\nURL1=" + ListUrl("proxy.txt") + "\n");
  work.Write("plain", "");

  const Finished run = RunIn(work.path(), {"--dir", "site"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(ReadBytes(work / "site" / "htaccess.txt"), "deny from 192.0.2.1\n");

  const Finished blocked = RunIn(work.path(), {"--dir=plain/site"});
  EXPECT_EQ(blocked.exitStatus, 1);
  EXPECT_EQ(blocked.err, "palisor-update: plain/site: Not a directory\n");
  EXPECT_EQ(blocked.out, "");

  const Finished fresh = RunIn(work.path(), {"--dir", "fresh"});
  EXPECT_TRUE(
      fresh.err.starts_with("palisor-update: no palisor.ini in " + (work / "fresh").string() + ";"))
      << fresh.err;
}

TEST(PalisorUpdateUsage, AnyOtherArgumentIsAUsageError) {
  ScratchDir work;
  // Which arguments are wrong is the parser's own test; here, what the program does then.
  const std::vector<std::vector<std::string>> usages = {{"--help", "--bogus"}, {"--dir"}};
  for (const auto& arguments : usages) {
    SCOPED_TRACE(arguments.front());
    const Finished run = RunIn(work.path(), arguments);
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("palisor-update: ")) << run.err;
  }
  EXPECT_EQ(Listing(work.path()), std::set<std::string>{}) << "a usage error runs nothing";
}

}  // namespace
}  // namespace palisor::test
