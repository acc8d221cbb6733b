// Whole update runs against real list and FTP servers on 127.0.0.1, one table row each: what the
// list server serves, the settings, how the site's server behaves, whether the run is stopped,
// and what must come of it. Rows run the real palisor-update, or RunUpdate in this process where
// settings change during the run or a time-out must be short. Then two hundred runs in a row.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "settings/SettingsFile.h"
#include "support/RecordingEvents.h"
#include "support/ResidentMemory.h"
#include "support/ScratchWorkingDir.h"
#include "support/TestServers.h"
#include "support/UpdateCommand.h"
#include "update/RunLog.h"
#include "update/RunUpdate.h"

namespace palisor::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;

// The only places that name the settings of the lists.
// palisor.ini's [URL] lines for proxy or overseas list n (1 ... 6) at `url`.
std::string ProxyList(int n, std::string_view url, bool on = true) {
  const std::string key = std::to_string(n);
  return "URL" + key + "=" + std::string(url) + "\nMODE" + key + (on ? "=-1\n" : "=0\n");
}

// palisor.ini's [CNT] lines choosing `mode` for `country`, with the list of that mode at `url`;
// with no mode (0) both its lists are there.
std::string CountryList(Country country, std::int16_t mode, std::string_view url) {
  const ListSource& keys = kListSources[country];
  std::string lines = std::string(keys.modeKey) + "=" + std::to_string(mode) + "\n";
  for (const auto& [listMode, key] :
       {std::pair{kModeAllow, keys.urlKey}, {kModeDeny, keys.denyUrlKey}}) {
    if (mode == listMode || mode == kModeUnspecified) {
      lines += std::string(key) + "=" + std::string(url) + "\n";
    }
  }
  return lines;
}

constexpr const char* kUser = "site";
constexpr const char* kPassword = "s3cret:@/pw";
constexpr const char* kListPassword = "l1stpw";           // in a list's address
const std::string kPrevious = "deny from 192.0.2.250\n";  // the output of an earlier run
const std::string kLive = "live\n";                       // the site's file before the run
constexpr int kInterrupted = 128 + SIGINT;
constexpr int kTerminated = 128 + SIGTERM;
constexpr int kSkipped = 75;  // another run held the folder: no failure for cron or systemd
constexpr const char* kFetchingJapan = "国別情報の取得中[日本]";
constexpr const char* kFetchingChina = "国別情報の取得中[中国]";
constexpr const char* kFetchingKorea = "国別情報の取得中[韓国]";
constexpr const char* kAnonymous = "PROXY情報の取得中[Anonymous]";
constexpr const char* kNonAnonymous = "PROXY情報の取得中[Non-Anonymous]";
constexpr const char* kRussia1 = "PROXY情報の取得中[露①]";
constexpr const char* kAnalysing = "解析中";
constexpr const char* kSending = "送信中";

enum class Driver { kCommand, kInProcess };
// How the site's FTP server behaves.
enum class Site { kFtp, kFtpes, kWithholdsStorReply, kWithholdsQuitReply, kHostileStoreReply };
// A refusal of the upload carrying bytes that would rewrite a terminal or the log's lines.
constexpr const char* kHostileReply = "552 \x1b]0;owned\x07\x1b[2J\\x41 quota";
// Another palisor-update in the same folder, stalled on its first list.
enum class Holder { kNone, kRunning, kKilled };

struct Row {
  const char* name;
  Driver driver = Driver::kCommand;
  // Lines of palisor.ini's sections; they come first, so they win over the defaults.
  std::string ftp = {}, urls = {}, countries = {}, edit = {};
  bool settingsFile = true;  // false only with a holder: the defaults' lists leave the machine
  std::string head = {}, tail = {};  // add2htaccess.txt, add2htaccess2.txt
  Site site = Site::kFtp;
  Holder holder = Holder::kNone;
  std::vector<std::string> arguments = {};
  Output console = Output::kPipe;
  std::string_view locale = kJapaneseLocale;
  // When palisor-update gets `signal`: once this stage is printed, or, with a server that
  // withholds a reply, once it does.
  std::string stopAt = {};
  int signal = 0;
  std::chrono::milliseconds timeout = 10s;      // in-process
  std::function<void(Settings&)> confirm = {};  // in-process: what the user confirms meanwhile
  // What must come of it.
  int exit = 0;  // in-process: as palisor-update would exit
  std::vector<std::string> stages = {};
  std::string loggedStage = {};        // when the log names the last stage otherwise than printed
  std::vector<std::string> said = {};  // a part of each line on standard error, in order
  std::string output = kPrevious;
  std::string uploaded = kLive;
};

// What a run printed or told.
struct Ran {
  int exit = -1;
  std::vector<std::string> stages = {};
  std::vector<std::string> said = {};
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// What palisor-update prints on standard error after the run.
std::vector<std::string> SaidAfter(const RunReport& report) {
  std::vector<std::string> said = report.warnings;
  for (const auto& skipped : report.skipped) {
    said.push_back(DescribeSkipped(skipped));
  }
  if (report.outcome != Outcome::kOk) {
    said.push_back(RunReason(report));
  }
  return said;
}

int ExitFor(Outcome outcome) {
  return outcome == Outcome::kOk ? 0 : outcome == Outcome::kFailed ? 1 : kInterrupted;
}

// How palisor.log tells a row's run: its outcome and its last stage.
// The last stage a row's run reached, as the log names it.
std::string LastStage(const Row& row, std::string_view none = "") {
  return !row.loggedStage.empty() ? row.loggedStage
         : row.stages.empty()     ? std::string(none)
                                  : row.stages.back();
}

std::string LogLineOf(const Row& row) {
  const char* outcome = row.exit == 0          ? (row.stages.empty() ? "nothing to do" : "ok")
                        : row.exit == 1        ? "failed"
                        : row.exit == kSkipped ? "skipped"
                                               : "abandoned";
  return "  " + std::string(outcome) + "  stage: " + LastStage(row, "-");
}

// `count` addresses of 10.0.0.0/16, each after `before`, one a line.
std::string Addresses(int count, std::string_view before = "") {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += std::string(before) + "10.0." + std::to_string(i / 256) + "." +
            std::to_string(i % 256) + "\n";
  }
  return text;
}

// A row with the Anonymous list alone at `url`, no upload, run in this process: `written` is
// the file the run writes, none when the list fails the run; `said` a part of the line
// palisor-update would print of it.
Row FromList(const char* name, const std::string& url, std::optional<std::string> written,
             std::string said = {}, std::chrono::milliseconds timeout = 10s) {
  Row row{.name = name,
          .driver = Driver::kInProcess,
          .ftp = "FTPSW=0\n",
          .urls = ProxyList(1, url),
          .timeout = timeout,
          .stages = {kAnonymous}};
  if (written) {
    row.stages.push_back(kAnalysing);
    row.output = *written;
  } else {
    row.exit = 1;
  }
  if (!written || !said.empty()) {
    row.said = {said};
  }
  return row;
}

class WholeRunTest : public ::testing::Test {
 protected:
  // A list the HTTP server serves, under a name of its own.
  std::string Serve(std::string_view body) {
    const std::string name = "list" + std::to_string(++served) + ".txt";
    lists.Write(name, body);
    return http.Url("/" + name);
  }

  // A fresh working folder and site for the row; returns the files the folder must hold after
  // the run.
  std::vector<std::string> Prepare(const Row& row, const std::string& settings) const {
    for (const auto& entry : fs::directory_iterator(work.path())) {
      fs::remove_all(entry.path());
    }
    ftpHome.Write("public_html/.htaccess", kLive);
    work.Write("htaccess.txt", kPrevious);
    work.Write("add2htaccess.txt", row.head);
    work.Write("add2htaccess2.txt", row.tail);
    if (row.settingsFile) {
      work.Write("palisor.ini", settings);
    }
    std::vector<std::string> after = FileNames(work.path());
    if (Logged(row)) {
      after.push_back("palisor.log");
    }
    if (row.holder == Holder::kRunning) {
      after.push_back("palisor.run.lock");  // the holder is killed, its lock stays
    }
    std::sort(after.begin(), after.end());
    return after;
  }

  static bool Logged(const Row& row) {
    return row.driver == Driver::kCommand && row.arguments.empty();
  }

  void RunRow(const Row& row) {
    SCOPED_TRACE(row.name);
    const std::unique_ptr<FtpServer> own = StartSite(row.site);
    const FtpServer& site = own ? *own : ftp;
    const std::string settings = SettingsFile(row, site);
    const std::vector<std::string> expectedFiles = Prepare(row, settings);
    const std::size_t commandsBefore = site.Commands().size();

    const Ran ran =
        row.driver == Driver::kCommand ? RunCommand(row, settings, site) : RunInProcess(row);

    EXPECT_EQ(ran.exit, row.exit);
    EXPECT_EQ(ran.stages, row.stages);
    EXPECT_EQ(ran.said.size(), row.said.size()) << ::testing::PrintToString(ran.said);
    for (std::size_t i = 0; i < ran.said.size() && i < row.said.size(); ++i) {
      EXPECT_NE(ran.said[i].find(row.said[i]), std::string::npos) << ran.said[i];
    }
    EXPECT_EQ(ReadBytes(work / "htaccess.txt"), row.output);
    EXPECT_EQ(ReadBytes(ftpHome / "public_html/.htaccess"), row.uploaded);
    if (LastStage(row) != kSending) {
      EXPECT_EQ(site.Commands().size(), commandsBefore) << "only 送信中 contacts the site";
    }
    std::vector<std::string> files = FileNames(work.path());
    std::erase(files, kHistoryFolder);  // where the site's file is kept, a table of its own
    EXPECT_EQ(files, expectedFiles) << "nothing temporary stays behind";
    std::vector<std::string> shown = ran.said;
    if (Logged(row)) {
      const std::string log = ReadBytes(work / "palisor.log");
      EXPECT_NE(log.find(LogLineOf(row)), std::string::npos) << log;
      shown.push_back(log);
    }
    // Passwords never show, and what servers say reaches the user only escaped.
    for (const std::string& text : shown) {
      EXPECT_EQ(text.find(kPassword), std::string::npos) << text;
      EXPECT_EQ(text.find(kListPassword), std::string::npos) << text;
      EXPECT_EQ(text.find_first_of("\x1b\x07\r"), std::string::npos) << text;
    }
  }

  // The row's own lines first; then the site, and every list off at a missing page, so that a
  // list fetched by mistake fails instead of leaving the machine.
  std::string SettingsFile(const Row& row, const FtpServer& site) const {
    const std::string missing = http.Url("/status/404");
    std::string urls = row.urls;
    for (int n = 1; n <= 6; ++n) {
      urls += ProxyList(n, missing, false);
    }
    std::string countries = row.countries;
    for (int country = 0; country < kCountryCount; ++country) {
      countries += CountryList(static_cast<Country>(country), kModeUnspecified, missing);
    }
    // The site's file is Palisor's own here; what becomes of the owner's lines has its tables.
    return "[FTP]\n" + row.ftp +
           "OTHERLINES=replace\nSVNAME=" + (row.site == Site::kFtpes ? "ftpes://" : "") +
           site.Address() + "\nSVUSER=" + kUser + "\nSVPSWD=" + kPassword +
           "\nSVPATH=/public_html\nSVFILE=.htaccess\nFTPSW=-1\n[URL]\n" + urls + "[CNT]\n" +
           countries + "[EDIT]\n" + row.edit;
  }

  std::unique_ptr<FtpServer> StartSite(Site site) const {
    if (site == Site::kFtp) {
      return nullptr;
    }
    if (site == Site::kHostileStoreReply) {
      return std::make_unique<FtpServer>(ftpHome.path(), kUser, kPassword,
                                         std::vector<std::string>{"--store-reply", kHostileReply});
    }
    if (site == Site::kFtpes) {
      return std::make_unique<FtpServer>(
          ftpHome.path(), kUser, kPassword,
          std::vector<std::string>{"--tls", "explicit", identity.certificate().string(),
                                   identity.key().string()});
    }
    const char* delay = site == Site::kWithholdsStorReply ? "PALISOR_FTP_FINAL_REPLY_DELAY"
                                                          : "PALISOR_FTP_QUIT_DELAY";
    setenv(delay, "30", 1);
    auto server = std::make_unique<FtpServer>(ftpHome.path(), kUser, kPassword);
    unsetenv(delay);
    return server;
  }

  // The other run takes the folder with settings of its own, then the row's are written.
  std::unique_ptr<Command> StartHolder(Holder holder) {
    if (holder == Holder::kNone) {
      return nullptr;
    }
    work.Write("palisor.ini", "[FTP]\nFTPSW=0\n[URL]\n" + ProxyList(1, http.Url("/stall")));
    auto command = std::make_unique<Command>(work.path(), std::vector<std::string>{});
    EXPECT_TRUE(command->WaitForOutput(kAnonymous));
    if (holder == Holder::kKilled) {
      command->Signal(SIGKILL);
      command->Finish();
    }
    return command;
  }

  Ran RunCommand(const Row& row, const std::string& settings, const FtpServer& site) {
    const std::unique_ptr<Command> holder = StartHolder(row.holder);
    if (holder) {
      fs::remove(work / "palisor.ini");
      if (row.settingsFile) {
        work.Write("palisor.ini", settings);
      }
    }
    Command command(work.path(), row.arguments, row.console, row.locale);
    if (row.signal != 0) {
      if (row.stopAt.empty()) {
        AwaitWithheldReply(row.site, site);
      } else {
        EXPECT_TRUE(command.WaitForOutput(row.stopAt));
      }
      command.Signal(row.signal);
    }
    const auto stopped = std::chrono::steady_clock::now();
    const Finished run = command.Finish();
    if (row.signal != 0) {
      EXPECT_LT(std::chrono::steady_clock::now() - stopped, 200ms) << "a stop is heard at once";
    }
    if (row.settingsFile) {
      EXPECT_EQ(ReadBytes(work / "palisor.ini"), settings) << "the settings are only read";
    }
    std::vector<std::string> stages = Lines(run.out);
    // Beside the stages: where the site's file was kept.
    std::erase_if(stages, [](const std::string& line) {
      return line.starts_with("the site's file was kept as ");
    });
    if (row.console != Output::kPipe) {
      // A terminal has the count rewritten in place, a closed pipe no reader: the stages are
      // left to the log line, which names the last.
      EXPECT_EQ(run.out.find("\r" + std::string(kAnalysing) + "(") != std::string::npos,
                row.console == Output::kTerminal)
          << run.out;
      stages = row.stages;
    } else if (run.exitStatus == 0) {
      EXPECT_EQ(stages.empty() ? "" : stages.back(), "待機中") << "a good run ends waiting";
      stages.resize(stages.empty() ? 0 : stages.size() - 1);
    }
    return {run.exitStatus, stages, Lines(run.err)};
  }

  // Some time into the wait for the reply the server withholds.
  static void AwaitWithheldReply(Site kind, const FtpServer& site) {
    const char* withheld = kind == Site::kWithholdsStorReply ? "STOR" : "QUIT";
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (site.Commands().find(withheld) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(300ms);
  }

  Ran RunInProcess(const Row& row) {
    const WorkingDirectory inWork(work.path());
    Settings settings = LoadSettings();
    RecordingEvents events;
    events.keepLog = false;  // a million lines would make a million entries
    std::vector<std::string> told;
    events.onEvent = [&told](const std::string& what) {
      if (!what.starts_with("lines ")) {
        told.push_back(what);
      }
    };
    const auto started = std::chrono::steady_clock::now();
    const RunReport report =
        RunUpdate(settings, events, transfer, events.token(), RunOptions{row.timeout, row.confirm});
    EXPECT_LT(std::chrono::steady_clock::now() - started, row.timeout + 5s);
    // Every run tells its start and its end, whatever happens between.
    if (told.size() < 2 || told.front() != "started" ||
        told.back() != "ended " + std::string(OutcomeName(report))) {
      ADD_FAILURE() << ::testing::PrintToString(told);
      return {};
    }
    return {ExitFor(report.outcome), {told.begin() + 1, told.end() - 1}, SaidAfter(report)};
  }

  ScratchDir lists;
  ScratchDir ftpHome;
  ScratchDir work;
  HttpServer http{lists.path()};
  FtpServer ftp{ftpHome.path(), kUser, kPassword};
  const TestCertificate identity;
  Transfer transfer;  // in-process runs share one, as the window's runs do
  int served = 0;
};

TEST_F(WholeRunTest, EachRunEndsAsItsRowSays) {
  constexpr Driver kInProcess = Driver::kInProcess;
  const std::string one = Serve("192.0.2.1\n");
  const std::string oneWritten = "deny from 192.0.2.1\n";
  const std::string anonymous = Serve(
      "\xEF\xBB\xBF"
      "192.0.2.14\n  198.51.100.8  \n203.0.113.5:8080\n# header\n<p>\n10.1\n\"x\"");
  const std::string korea = Serve("order allow,deny\r\n11.0.0.0/8\n\n");
  const std::string fullRun =
      "order allow,deny\ndeny from 10.0.0.0/8\nallow from 11.0.0.0/8\n"
      "deny from 192.0.2.14/24 # proxy\ndeny from 198.51.100.8/24 # proxy\n"
      "deny from 203.0.113.5/24 # proxy\ndeny from 198.51.100.201/24 # proxy\n"
      "ErrorDocument 403 /forbidden.html\n";
  const std::string folder = fs::canonical(work.path()).string();
  const std::string certificate = identity.certificate().string();
  const std::string noUpload = "FTPSW=0\n";
  const std::string x60 = '"' + std::string(60, 'x') + '"';
  const std::string million = "&count=1000000";
  // The user's OK, taken once the file is written: only the upload can heed it.
  const auto onceWritten = [](std::function<void(Settings&)> change) {
    return [change](Settings& s) {
      if (ReadBytes("htaccess.txt") != kPrevious) {
        change(s);
      }
    };
  };
  const Row rows[] = {
      {.name = "nothing enabled"},
      {.name = "every stage, the lists in table order, framed by the user's files",
       .urls = ProxyList(1, "  " + anonymous + "  ") + ProxyList(4, Serve("198.51.100.201\n")) +
               "MASK=24\n",
       .countries = CountryList(kKorea, kModeAllow, korea) +
                    CountryList(kJapan, kModeDeny, Serve("deny from 10.0.0.0/8\n")),
       .edit = "CHARBF=deny from\nCHARAF=# proxy\n",
       .head = "order allow,deny\r\n",
       .tail = "ErrorDocument 403 /forbidden.html\r\n",
       .stages = {kFetchingJapan, kFetchingKorea, kAnonymous, kRussia1, kAnalysing, kSending},
       .said = {"unencrypted",
                "list Korea (" + korea +
                    "): 1 line skipped, not read by Apache as meant: "
                    "\"order allow,deny\"",
                "list Anonymous (" + anonymous +
                    "): 4 lines skipped, not read by Apache as "
                    "meant: \"# header\", \"<p>\", \"10.1\""},
       .output = fullRun,
       .uploaded = fullRun},
      {.name = "the third of four lists cut short",
       .urls = ProxyList(1, one) + ProxyList(2, http.Url("/cut")) + ProxyList(3, one),
       .countries = CountryList(kChina, kModeAllow, Serve("allow from 198.51.100.0/24\n")),
       .exit = 1,
       .stages = {kFetchingChina, kAnonymous, kNonAnonymous},
       .said = {"the Non-Anonymous list: download of " + http.Url("/cut")}},
      {.name = "a refused login",
       .ftp = "SVPSWD=wrong\n",
       .urls = ProxyList(1, one),
       .exit = 1,
       .stages = {kAnonymous, kAnalysing, kSending},
       .said = {"unencrypted", "530"},
       .output = oneWritten},
      {.name = "a refused login, in English: the stage lines only; the log and the reasons as ever",
       .ftp = "SVPSWD=wrong\n",
       .urls = ProxyList(1, one),
       .locale = "en_US.UTF-8",
       .exit = 1,
       .stages = {"Fetching proxy list [Anonymous]", "Analysing", "Uploading"},
       .loggedStage = kSending,
       .said = {"unencrypted", "530"},
       .output = oneWritten},
      {.name = "a refusal from the server carrying escape bytes",
       .urls = ProxyList(1, one),
       .site = Site::kHostileStoreReply,
       .exit = 1,
       .stages = {kAnonymous, kAnalysing, kSending},
       .said = {"unencrypted", "552 \\x1B]0;owned\\x07\\x1B[2J\\x5Cx41 quota"},
       .output = oneWritten},
      {.name = "a list's address with a password: shown and logged without it",
       .ftp = noUpload,
       .urls = ProxyList(1, "http://lister:" + std::string(kListPassword) + "@" +
                                http.Url("/status/404").substr(7)),
       .exit = 1,
       .stages = {kAnonymous},
       .said = {http.Url("/status/404")}},
      {.name = "the country mode is none of 0, 1 and 2",
       .countries = CountryList(kChina, 3, one),
       .exit = 1,
       .stages = {kFetchingChina},
       .said = {"the China list cannot be chosen: country mode 3"}},
      {.name = "on a terminal",
       .ftp = noUpload,
       .urls = ProxyList(1, Serve(Addresses(2000))),
       .console = Output::kTerminal,
       .stages = {kAnonymous, kAnalysing},
       .output = Addresses(2000, "deny from ")},
      {.name = "SIGTERM while a list stalls",
       .urls = ProxyList(1, http.Url("/stall")),
       .stopAt = kAnonymous,
       .signal = SIGTERM,
       .exit = kTerminated,
       .stages = {kAnonymous},
       .said = {"interrupted; the output file was left as it was"}},
      {.name = "SIGINT while the server withholds its reply to the upload",
       .urls = ProxyList(1, one),
       .site = Site::kWithholdsStorReply,
       .signal = SIGINT,
       .exit = kInterrupted,
       .stages = {kAnonymous, kAnalysing, kSending},
       .said = {"unencrypted", "interrupted while sending"},
       .output = oneWritten},
      {.name = "a country list alone; SIGTERM while the server withholds its reply to QUIT",
       .countries = CountryList(kJapan, kModeDeny, Serve("deny from 10.0.0.0/8\n")),
       .site = Site::kWithholdsQuitReply,
       .signal = SIGTERM,
       .stages = {kFetchingJapan, kAnalysing, kSending},
       .said = {"unencrypted"},
       .output = "deny from 10.0.0.0/8\n",
       .uploaded = "deny from 10.0.0.0/8\n"},
      {.name = "another run holds the folder, which has no settings file",
       .settingsFile = false,
       .holder = Holder::kRunning,
       .exit = kSkipped,
       .said = {"no palisor.ini in " + folder + "; using the default settings",
                "palisor-update: skipped: another update is running in " + folder}},
      {.name = "a run killed while it held the folder; the reader of the output gone",
       .ftp = noUpload,
       .urls = ProxyList(1, one),
       .holder = Holder::kKilled,
       .console = Output::kClosedPipe,
       .stages = {kAnonymous, kAnalysing},
       .output = oneWritten},
      {.name = "an unknown argument",
       .arguments = {"--bogus"},
       .exit = 2,
       .said = {"palisor-update: unknown argument '--bogus'", "--help"}},
      {.name = "a folder that cannot be entered",
       .arguments = {"--dir=htaccess.txt/site"},
       .exit = 1,
       .said = {"palisor-update: htaccess.txt/site: Not a directory"}},
      {.name = "CAFILE in the settings file trusts the site's certificate",
       .ftp = "CAFILE=" + certificate + "\n",
       .urls = ProxyList(1, one),
       .site = Site::kFtpes,
       .stages = {kAnonymous, kAnalysing, kSending},
       .output = oneWritten,
       .uploaded = oneWritten},
      {.name = "CAFILE emptied once the file is written",
       .driver = kInProcess,
       .ftp = "CAFILE=" + certificate + "\n",
       .urls = ProxyList(1, one),
       .site = Site::kFtpes,
       .confirm = onceWritten([](Settings& s) { s.CAFILE.clear(); }),
       .exit = 1,
       .stages = {kAnonymous, kAnalysing, kSending},
       .said = {"certificate"},
       .output = oneWritten},
      {.name = "LCFILE changed once the file is written: that file is published",
       .driver = kInProcess,
       .urls = ProxyList(1, one),
       .confirm = onceWritten([](Settings& s) { s.LCFILE = ".\\elsewhere.txt"; }),
       .stages = {kAnonymous, kAnalysing, kSending},
       .said = {"unencrypted"},
       .output = oneWritten,
       .uploaded = oneWritten},
      // What list servers may send.
      FromList("NUL bytes", Serve("1.2.3.4\0x\n\0\n5.6.7.8"s), "deny from 5.6.7.8\n",
               R"(: 2 lines skipped, not read by Apache as meant: "1.2.3.4\x00x", "\x00")"),
      FromList("invalid UTF-8", Serve("\xC3\x28\n\xFF\xFE 1.2.3.4\n\xED\xA0\x80\xC0\xAF"),
               std::nullopt, R"(no address in 3 lines; first line "\xC3(")"),
      FromList("Shift_JIS, a backslash as the second byte of a character",
               Serve("\x95\x5C 1.2.3.4\r\n\x83\x76\x83\x8D\x83\x4C\x83\x56\r\n"), std::nullopt,
               R"(first line "\x95\x5C 1.2.3.4")"),
      FromList("control bytes", Serve("\x1B[2J\f\v1.2.3.4\x7F\n"), std::nullopt,
               R"(first line "\x1B[2J\x0C\x0B1.2.3.4\x7F")"),
      FromList("a long line before an address", Serve(std::string(200, 'x') + "\n1.2.3.4"),
               "deny from 1.2.3.4\n", "1 line skipped, not read by Apache as meant: " + x60),
      FromList("a single line of 50 MB",
               http.Url("/repeat?text=x&count=" + std::to_string(50 << 20)), std::nullopt,
               "no address in 1 line; first line " + x60),
      FromList("a million empty lines", http.Url("/repeat?text=%0A" + million), ""),
      {.name = "a country list of a million CR LF",
       .driver = kInProcess,
       .ftp = noUpload,
       .countries = CountryList(kJapan, kModeAllow, http.Url("/repeat?text=%0D%0A" + million)),
       .stages = {kFetchingJapan, kAnalysing},
       .output = ""},
      FromList("a body cut short", http.Url("/cut"), std::nullopt, "the Anonymous list: "),
      FromList("a chunked body without its end", http.Url("/cut-chunked"), std::nullopt,
               "the Anonymous list: "),
      FromList("a server that never answers", http.Url("/stall"), std::nullopt, "timed out", 300ms),
      FromList("a server that stalls after the headers", http.Url("/headers-stall"), std::nullopt,
               "timed out", 300ms),
      FromList("a server that trickles", Serve(std::string(100000, '1')) + "?trickle=100",
               std::nullopt, "timed out", 300ms),
  };
  for (const Row& row : rows) {
    RunRow(row);
  }
}

struct Usage {
  std::size_t descriptors = 0;
  long residentBytes = 0;
};

Usage CurrentUsage() {
  Usage usage;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    ++usage.descriptors;
  }
  long totalPages = 0;
  long residentPages = 0;
  std::ifstream("/proc/self/statm") >> totalPages >> residentPages;
  usage.residentBytes = residentPages * ::sysconf(_SC_PAGESIZE);
  return usage;
}

unsigned SoakSeed() {
  if (const char* given = std::getenv("PALISOR_SOAK_SEED")) {
    return static_cast<unsigned>(std::strtoul(given, nullptr, 10));
  }
  return std::random_device{}();
}

// Months of unattended running: two hundred runs in one process, a random fifth of them
// failing at a random stage. Each ends as its row says, and once twenty have warmed the caches
// the process holds no more descriptors or memory than then.
TEST_F(WholeRunTest, TwoHundredRunsInARowHoldNothingMore) {
  constexpr int kRuns = 200;
  constexpr int kWarmUpRuns = 20;
  constexpr std::size_t kDescriptorSlack = 2;   // a connection libcurl may keep for the next run
  constexpr long kMemorySlackBytes = 4L << 20;  // a leak of one list per run would pass it
  const unsigned seed = SoakSeed();
  std::cout << "soak seed " << seed << " (PALISOR_SOAK_SEED=" << seed << " repeats it)\n";
  RecordProperty("seed", std::to_string(seed));
  std::mt19937 random(seed);

  const std::string written = Addresses(3000, "deny from ");
  const Row good = {.name = "a good run",
                    .driver = Driver::kInProcess,
                    .urls = ProxyList(1, Serve(Addresses(3000))),
                    .stages = {kAnonymous, kAnalysing, kSending},
                    .said = {"unencrypted"},
                    .output = written,
                    .uploaded = written};
  const std::string nowhere = "127.0.0.1:" + std::to_string(UnusedPort());
  const auto Refused = [&good](const char* name, std::string ftpLine) {
    Row row = good;
    row.name = name;
    row.ftp = std::move(ftpLine);
    row.exit = 1;
    row.said = {"unencrypted", ""};
    row.uploaded = kLive;
    return row;
  };
  const std::vector<Row> failing = {
      FromList("a list server error", http.Url("/status/503"), std::nullopt, "503"),
      FromList("a body cut short", http.Url("/cut-gzip"), std::nullopt, "stops before its end"),
      FromList("no list server", "http://" + nowhere + "/", std::nullopt, "the Anonymous list"),
      FromList("a stalled list server", http.Url("/stall"), std::nullopt, "timed out", 300ms),
      Refused("a refused login", "SVPSWD=wrong\n"),
      Refused("no such folder", "SVPATH=/no-such-directory\n"),
      Refused("no site server", "SVNAME=" + nowhere + "\n")};
  // A fifth of the runs fail, each failing row as often as the others, in a random order.
  std::vector<const Row*> plan(kRuns, &good);
  for (std::size_t run = 0; run < plan.size() / 5; ++run) {
    plan[run] = &failing[run % failing.size()];
  }
  std::shuffle(plan.begin(), plan.end(), random);

  Usage warm;
  for (int run = 0; run < kRuns && !HasFailure(); ++run) {
    SCOPED_TRACE("run " + std::to_string(run) + ", seed " + std::to_string(seed));
    RunRow(*plan[run]);
    const Usage now = CurrentUsage();
    if (run + 1 == kWarmUpRuns) {
      warm = now;
    } else if (run + 1 > kWarmUpRuns) {
      EXPECT_LE(now.descriptors, warm.descriptors + kDescriptorSlack);
      if (kResidentMemoryTells) {
        EXPECT_LE(now.residentBytes, warm.residentBytes + kMemorySlackBytes);
      }
    }
  }
}

}  // namespace
}  // namespace palisor::test
