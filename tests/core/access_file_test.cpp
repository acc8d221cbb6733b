#include "update/AccessFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "support/RecordingHost.h"
#include "support/ScratchWorkingDir.h"

namespace palisor {
namespace {

using test::FileNames;
using test::ReadBytes;
using test::RecordingHost;
using test::RunInChild;
using test::WriteBytes;
using namespace std::string_literals;

// The record as the load leaves it with no settings file: CHARBF carries its joined space.
Settings LoadedDefaults() {
  Settings s;
  s.LCFILE = ".\\htaccess.txt";
  s.CHARBF = "deny from ";
  s.LINESEP = "\n";
  s.MASK = 32;
  s.LISTMAX = 9999;
  s.FTPSW = true;
  s.MODE1 = true;
  return s;
}

class AccessFileTest : public test::ScratchWorkingDir {
 protected:
  StageResult Generate(std::string country, std::string proxy, std::string overseas = "") {
    return WriteAccessFile(std::move(country), std::move(proxy), std::move(overseas), settings,
                           host);
  }
  static std::string Output() { return ReadBytes("htaccess.txt"); }

  Settings settings = LoadedDefaults();
  RecordingHost host;
};

using AccessFileLayout = AccessFileTest;
using AccessFileLines = AccessFileTest;
using AccessFileRun = AccessFileTest;
using AccessFileSafety = AccessFileTest;

TEST_F(AccessFileLayout, AddressLineAffixesAndTheirNormalisedForms) {
  struct Case {
    const char* name;
    std::function<void(Settings&)> change;
    std::string line;  // the output line for the address 1.2.3.4
    std::string charbf;
    std::string charaf;
  };
  const std::vector<Case> cases = {
      {"defaults", [](Settings&) {}, "deny from 1.2.3.4", "deny from ", ""},
      {"MASK 24", [](Settings& s) { s.MASK = 24; }, "deny from 1.2.3.4/24", "deny from ", ""},
      {"CHARAF text", [](Settings& s) { s.CHARAF = "# open proxy"; },
       "deny from 1.2.3.4 # open proxy", "deny from ", " # open proxy"},
      {"SPC_PREV", [](Settings& s) { s.SPC_PREV = true; }, "deny from1.2.3.4", "deny from", ""},
      {"CHARBF empty", [](Settings& s) { s.CHARBF = ""; }, "1.2.3.4", "", ""},
      {"CHARBF spaces", [](Settings& s) { s.CHARBF = "   "; }, "1.2.3.4", "", ""},
      {"spaces around CHARBF", [](Settings& s) { s.CHARBF = "  deny from   "; },
       "deny from 1.2.3.4", "deny from ", ""},
      {"SPC_NEXT", [](Settings& s) { s.CHARAF = "  # x  ", s.SPC_NEXT = true; },
       "deny from 1.2.3.4# x", "deny from ", "# x"},
      {"MASK 16 and CHARAF", [](Settings& s) { s.MASK = 16, s.CHARAF = " #p"; },
       "deny from 1.2.3.4/16 #p", "deny from ", " #p"},
      {"tab kept in CHARBF", [](Settings& s) { s.CHARBF = "deny\tfrom\t "; },
       "deny\tfrom\t 1.2.3.4", "deny\tfrom\t ", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings = LoadedDefaults();
    c.change(settings);
    ASSERT_TRUE(Generate("", "1.2.3.4\n").ok());
    EXPECT_EQ(Output(), c.line + "\n");
    EXPECT_EQ(settings.CHARBF, c.charbf);
    EXPECT_EQ(settings.CHARAF, c.charaf);
  }
}

TEST_F(AccessFileLayout, MaskOnProxyAndOverseasLinesNeverOnCountryLines) {
  settings.IPG_JP = kModeAllow;
  settings.MODE4 = true;
  settings.MASK = 16;
  ASSERT_TRUE(Generate("allow from 10.0.0.0/8\n", "1.1.1.1\n", "2.2.2.2\n").ok());
  EXPECT_EQ(Output(), "allow from 10.0.0.0/8\ndeny from 1.1.1.1/16\ndeny from 2.2.2.2/16\n");
}

TEST_F(AccessFileLayout, SeparatorFollowsEveryLineAndNothingElseBreaksLines) {
  WriteBytes("add2htaccess.txt", "# head\r");
  WriteBytes("add2htaccess2.txt", "# tail");
  settings.IPG_KR = kModeDeny;
  for (const std::string sep : {"\n", "\r\n", "\t", ",", "|", ";"}) {
    SCOPED_TRACE(sep);
    settings.LINESEP = sep;
    ASSERT_TRUE(Generate("deny from 10.0.0.0/8\n", "1.2.3.4\r\n").ok());
    EXPECT_EQ(Output(), "# head" + sep + "deny from 10.0.0.0/8" + sep + "deny from 1.2.3.4" + sep +
                            "# tail" + sep);
  }
}

TEST_F(AccessFileLines, UserFilesEndLinesAtCrOrCrLfOnly) {
  struct Case {
    std::string head;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"a\rb\r\nc", "a|b|c|"},
      {"lf\nstays\ninside\r", "lf\nstays\ninside|"},
      {"only\nlf\n", "only\nlf\n|"},
      {"\r\r\n\r", "|||"},
      {"  not trimmed \t\r", "  not trimmed \t|"},
      {"", ""},
  };
  settings.LINESEP = "|";
  WriteBytes("add2htaccess2.txt", "tail\r\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    WriteBytes("add2htaccess.txt", c.head);
    ASSERT_TRUE(Generate("", "").ok());
    EXPECT_EQ(Output(), c.expected + "tail|");
  }
}

TEST_F(AccessFileLines, MissingOrUnreadableUserFilesAreLeftOut) {
  std::filesystem::create_directory("add2htaccess.txt");
  ASSERT_TRUE(Generate("", "1.2.3.4\n").ok());
  EXPECT_EQ(Output(), "deny from 1.2.3.4\n");
}

TEST_F(AccessFileLines, ListLinesEndAtCrLfLoneLfOrLoneCrOnce) {
  settings.LINESEP = "|";
  settings.IPG_TW = kModeAllow;
  ASSERT_TRUE(Generate("a\r\n\r\nb\r\nc\n\nd\r\re", "1.1.1.1\r\n2.2.2.2\n3.3.3.3\r4.4.4.4").ok());
  // Country lists keep their real empty lines, each one counted.
  EXPECT_EQ(Output(),
            "a||b|c||d||e|"
            "deny from 1.1.1.1|deny from 2.2.2.2|deny from 3.3.3.3|deny from 4.4.4.4|");
  EXPECT_EQ(host.lastCaption, "解析中(13件)");
}

TEST_F(AccessFileLines, BlankAddressLinesWriteNothingAndDoNotCount) {
  settings.LISTMAX = 3;
  settings.MODE4 = true;
  ASSERT_TRUE(Generate("", "1.1.1.1\n\n   \n\t \t\r\n2.2.2.2\n", "\n \r\n3.3.3.3\n4.4.4.4\n").ok());
  EXPECT_EQ(Output(), "deny from 1.1.1.1\ndeny from 2.2.2.2\ndeny from 3.3.3.3\n");
  EXPECT_EQ(host.log, (std::vector<std::string>{"events", "解析中(2件)", "events", "解析中(3件)",
                                                "events", "解析中(4件)"}));
}

TEST_F(AccessFileLines, SpacesTrimmedWhileTabsDuplicatesAndAnyBytesStay) {
  settings.IPG_HK = kModeAllow;
  const std::string odd = "\x82\xa0\xff\0 z"s;
  ASSERT_TRUE(Generate("  allow from 10.0.0.0/8  \n\tallow\t\n",
                       "  1.2.3.4:8080  \n\t5.6.7.8\n" + odd + "\n1.2.3.4:8080\n")
                  .ok());
  EXPECT_EQ(Output(),
            "allow from 10.0.0.0/8\n\tallow\t\n"
            "deny from 1.2.3.4:8080\ndeny from \t5.6.7.8\ndeny from " +
                odd + "\ndeny from 1.2.3.4:8080\n");
}

TEST_F(AccessFileRun, ListMaxCapsTheGroupsTogetherNotTheUserFiles) {
  struct Case {
    int listMax;
    std::string lines;
  };
  const std::vector<Case> cases = {
      {1, "c1\n"},
      {3, "c1\nc2\ndeny from p1\n"},
      {5, "c1\nc2\ndeny from p1\ndeny from p2\ndeny from p3\n"},
      {6, "c1\nc2\ndeny from p1\ndeny from p2\ndeny from p3\ndeny from o1\n"},
      {9999, "c1\nc2\ndeny from p1\ndeny from p2\ndeny from p3\ndeny from o1\ndeny from o2\n"},
  };
  WriteBytes("add2htaccess.txt", "H1\rH2\r");
  WriteBytes("add2htaccess2.txt", "T1\rT2\r");
  settings.IPG_CN = kModeDeny;
  settings.MODE4 = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listMax);
    settings.LISTMAX = c.listMax;
    ASSERT_TRUE(Generate("c1\nc2\n", "p1\np2\np3\n", "o1\no2\n").ok());
    EXPECT_EQ(Output(), "H1\nH2\n" + c.lines + "T1\nT2\n");
  }
}

TEST_F(AccessFileRun, EachGroupOnlyWhenItsSettingsAskForIt) {
  struct Case {
    const char* name;
    std::function<void(Settings&)> change;
    std::string overseas;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"defaults: proxy only", [](Settings&) {}, "o\n", "deny from p\n"},
      {"country modes summing to 0", [](Settings& s) { s.IPG_JP = kModeAllow, s.IPG_CN = -1; }, "",
       "deny from p\n"},
      {"a country mode", [](Settings& s) { s.IPG_KR = kModeAllow; }, "", "c\ndeny from p\n"},
      {"MODE1 to MODE3 off", [](Settings& s) { s.MODE1 = false, s.MODE6 = true; }, "o\n",
       "deny from o\n"},
      {"MODE3 alone", [](Settings& s) { s.MODE1 = false, s.MODE3 = true; }, "", "deny from p\n"},
      {"MODE5", [](Settings& s) { s.MODE5 = true; }, "o\n", "deny from p\ndeny from o\n"},
      {"MODE5, empty overseas text", [](Settings& s) { s.MODE5 = true; }, "", "deny from p\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings = LoadedDefaults();
    c.change(settings);
    ASSERT_TRUE(Generate("c\n", "p\n", c.overseas).ok());
    EXPECT_EQ(Output(), c.expected);
  }
}

TEST_F(AccessFileRun, EventsBeforeEachUserLineCaptionAfterEachListLine) {
  WriteBytes("add2htaccess.txt", "h1\rh2\r");
  WriteBytes("add2htaccess2.txt", "t\r");
  ASSERT_TRUE(Generate("", "1.1.1.1\n2.2.2.2\n").ok());
  EXPECT_EQ(host.log, (std::vector<std::string>{"events", "events", "events", "解析中(2件)",
                                                "events", "解析中(3件)", "events"}));
}

TEST_F(AccessFileRun, SettingsConfirmedDuringTheRunDoNotChangeTheFileHalfway) {
  settings.MODE4 = true;
  host.onEvents = [this] {
    settings.CHARBF = "allow from ";
    settings.LINESEP = "|";
    settings.LISTMAX = 1;
    settings.MASK = 16;
    settings.MODE4 = false;
  };
  ASSERT_TRUE(Generate("", "1.1.1.1\n2.2.2.2\n", "3.3.3.3\n").ok());
  EXPECT_EQ(Output(), "deny from 1.1.1.1\ndeny from 2.2.2.2\ndeny from 3.3.3.3\n");
  EXPECT_EQ(settings.CHARBF, "allow from ");  // the user's edit stays for the next run
}

TEST_F(AccessFileRun, OutputThatCannotBeOpenedStopsBeforeAnyOtherStep) {
  settings.LCFILE = ".\\missing\\out.txt";
  settings.CHARBF = "  deny from  ";
  WriteBytes("add2htaccess.txt", "h\r");
  const StageResult result = Generate("", "1.1.1.1\n");
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_NE(result.error.find("missing/out.txt"), std::string::npos) << result.error;
  EXPECT_EQ(settings.CHARBF, "  deny from  ");
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(FileNames(dir()), std::vector<std::string>{"add2htaccess.txt"});
}

TEST_F(AccessFileRun, OutputPathIsTrimmedAndBackslashesSeparateFolders) {
  std::filesystem::create_directory("site");
  settings.LCFILE = "  .\\site\\out.txt  ";
  ASSERT_TRUE(Generate("", "1.1.1.1\n").ok());
  EXPECT_EQ(ReadBytes("site/out.txt"), "deny from 1.1.1.1\n");
  EXPECT_EQ(FileNames(dir()), std::vector<std::string>{"site"});
  EXPECT_EQ(FileNames("site"), std::vector<std::string>{"out.txt"});
}

TEST_F(AccessFileRun, MillionLineListIsWrittenQuickly) {
  std::string proxy;
  std::size_t expectedSize = 0;
  constexpr int kLines = 1'000'000;
  for (int i = 0; i < kLines; ++i) {
    const std::string address = "10." + std::to_string(i / 65536) + '.' +
                                std::to_string(i / 256 % 256) + '.' + std::to_string(i % 256);
    proxy += address + "\r\n";
    expectedSize += std::string_view("deny from \n").size() + address.size();
  }
  settings.LISTMAX = 2 * kLines;
  host.keepLog = false;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Generate("", std::move(proxy)).ok());
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(20));
  EXPECT_EQ(std::filesystem::file_size("htaccess.txt"), expectedSize);
  EXPECT_EQ(host.lastCaption, "解析中(1000001件)");
  EXPECT_EQ(host.eventCalls, kLines);
}

TEST_F(AccessFileSafety, EndingTheProgramLeavesThePreviousFileAndNoTemporaries) {
  WriteBytes("add2htaccess.txt", "h\r");
  WriteBytes("add2htaccess2.txt", "t\r");
  settings.MODE4 = true;
  // Calls of ProcessEvents: 1 the head line, 2 to 4 the list lines, 5 the tail line.
  for (const int endAt : {1, 3, 4, 5}) {
    SCOPED_TRACE(endAt);
    WriteBytes("htaccess.txt", "previous\n");
    host = RecordingHost();
    host.endProgramAt = endAt;
    const StageResult result = Generate("", "1.1.1.1\n2.2.2.2\n", "3.3.3.3\n");
    EXPECT_EQ(result.outcome, Outcome::kAbandoned);
    EXPECT_EQ(Output(), "previous\n");
    EXPECT_EQ(host.log.back(), "events");  // nothing more once the user has ended the program
    EXPECT_EQ(host.eventCalls, endAt);
    EXPECT_EQ(FileNames(dir()),
              (std::vector<std::string>{"add2htaccess.txt", "add2htaccess2.txt", "htaccess.txt"}));
  }
}

TEST_F(AccessFileSafety, StaleLongerTemporaryFilesAddNoLines) {
  std::string stale;
  for (int i = 0; i < 50; ++i) {
    stale += "9.9.9.9\n";
  }
  for (const char* name : {"proxy_cnt.tmp", "proxy_cyber.tmp", "proxy_option.tmp"}) {
    WriteBytes(name, stale);
  }
  settings.IPG_JP = kModeAllow;
  settings.MODE4 = true;
  ASSERT_TRUE(Generate("c\n", "1.1.1.1\n", "2.2.2.2\n").ok());
  EXPECT_EQ(Output(), "c\ndeny from 1.1.1.1\ndeny from 2.2.2.2\n");
  EXPECT_EQ(FileNames(dir()), std::vector<std::string>{"htaccess.txt"});
}

TEST_F(AccessFileSafety, WriteFailureKeepsThePreviousOutput) {
  struct Case {
    int lines;               // 8 bytes each in the temporary file, 18 in the output
    std::string failedFile;  // the file the failure names
  };
  constexpr rlim_t kLimit = 4096;
  const std::vector<Case> cases = {{300, "htaccess.txt"}, {600, "proxy_cyber.tmp"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failedFile);
    WriteBytes("htaccess.txt", "previous\n");
    std::string proxy;
    for (int i = 0; i < c.lines; ++i) {
      proxy += "1.2.3.4\n";
    }
    const int exit = RunInChild([&] {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{kLimit, kLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      const StageResult result = Generate("", proxy);
      return result.outcome == Outcome::kFailed &&
                     result.error.find(c.failedFile) != std::string::npos
                 ? 0
                 : 1;
    });
    EXPECT_EQ(exit, 0);
    EXPECT_EQ(Output(), "previous\n");
    EXPECT_EQ(FileNames(dir()), std::vector<std::string>{"htaccess.txt"});
  }
}

TEST_F(AccessFileSafety, FullDeviceIsAFailedGeneration) {
  if (!std::filesystem::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full here";
  }
  settings.LCFILE = "/dev/full";
  const StageResult result = Generate("", "1.1.1.1\n");
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_NE(result.error.find("/dev/full"), std::string::npos) << result.error;
  EXPECT_TRUE(FileNames(dir()).empty());
}

TEST_F(AccessFileSafety, DeviceOutputIsWrittenInPlace) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  settings.LCFILE = "/dev/stdout";
  const int exit = RunInChild([&] {
    ::close(pipeFds[0]);
    if (::dup2(pipeFds[1], STDOUT_FILENO) < 0) {
      return 2;
    }
    return Generate("", "1.1.1.1\n").ok() ? 0 : 1;
  });
  ::close(pipeFds[1]);
  std::string written(64, '\0');
  const ssize_t n = ::read(pipeFds[0], written.data(), written.size());
  ::close(pipeFds[0]);
  EXPECT_EQ(exit, 0);
  EXPECT_EQ(written.substr(0, n > 0 ? n : 0), "deny from 1.1.1.1\n");
  EXPECT_TRUE(FileNames(dir()).empty());
}

TEST_F(AccessFileSafety, ExistingOutputTheUserMayNotWriteCannotBeOpened) {
  WriteBytes("htaccess.txt", "previous\n");
  std::filesystem::permissions("htaccess.txt", std::filesystem::perms(0444));
  const int exit = RunInChild([&] {
    // root may write anything: play an ordinary user who owns the folder but not the file.
    if (::geteuid() == 0 && (::chown(dir().c_str(), 65534, 65534) != 0 || ::setgid(65534) != 0 ||
                             ::setuid(65534) != 0)) {
      return 2;
    }
    const StageResult result = Generate("", "1.1.1.1\n");
    return result.outcome == Outcome::kFailed &&
                   result.error.find("htaccess.txt") != std::string::npos
               ? 0
               : 1;
  });
  EXPECT_EQ(exit, 0);
  EXPECT_EQ(Output(), "previous\n");
  EXPECT_EQ(FileNames(dir()), std::vector<std::string>{"htaccess.txt"});
}

TEST_F(AccessFileSafety, ExistingOutputKeepsItsPermissions) {
  WriteBytes("htaccess.txt", "previous\n");
  std::filesystem::permissions("htaccess.txt", std::filesystem::perms(0604));
  ASSERT_TRUE(Generate("", "1.1.1.1\n").ok());
  EXPECT_EQ(Output(), "deny from 1.1.1.1\n");
  EXPECT_EQ(std::filesystem::status("htaccess.txt").permissions(), std::filesystem::perms(0604));
}

TEST_F(AccessFileSafety, SymlinkedOutputIsReplacedAtItsTarget) {
  std::filesystem::create_directory("site");
  WriteBytes("site/.htaccess", "previous\n");
  std::filesystem::create_symlink("site/.htaccess", "htaccess.txt");
  ASSERT_TRUE(Generate("", "1.1.1.1\n").ok());
  EXPECT_TRUE(std::filesystem::is_symlink("htaccess.txt"));
  EXPECT_EQ(ReadBytes("site/.htaccess"), "deny from 1.1.1.1\n");
  EXPECT_EQ(FileNames("site"), std::vector<std::string>{".htaccess"});
}

}  // namespace
}  // namespace palisor
