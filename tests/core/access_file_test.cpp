#include "update/AccessFile.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/RecordingEvents.h"
#include "support/ScratchWorkingDir.h"

namespace palisor {
namespace {

using test::FileNames;
using test::ReadBytes;
using test::RecordingEvents;
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
  s.lists[kAnonymousList].mode = true;
  return s;
}

class AccessFileTest : public test::ScratchWorkingDir {
 protected:
  // `country` is one country's allow list; a list's name is its group's.
  // With `cut`, of what a run keeps of the lists as they arrive.
  Result<std::string> Generate(std::string country, std::string proxy, std::string overseas = "") {
    report = {};
    GroupLists lists{{{std::move(country), "country"}},
                     {{std::move(proxy), "proxy"}},
                     {{std::move(overseas), "overseas"}}};
    if (cut) {
      DropLinesPastListMax(lists.country.front(), ListForm::kCountry, settings);
      DropLinesPastListMax(lists.proxy.front(), ListForm::kAddress, settings);
      DropLinesPastListMax(lists.overseas.front(), ListForm::kAddress, settings);
    }
    return WriteAccessFile(std::move(lists), settings, events, events.token(), &report);
  }
  static std::string Output() { return ReadBytes("htaccess.txt"); }
  // The file, then what the run tells of it: its warnings and the lines it skipped.
  std::string OutputAndReport() const {
    std::string told = Output();
    for (const std::string& warning : report.warnings) {
      told += "\n" + warning;
    }
    for (const auto& skipped : report.skipped) {
      told += "\n" + DescribeSkipped(skipped);
    }
    return told;
  }

  // For a child process: 0 when generation fails and says it was the output file.
  int FailsNamingTheOutput(std::string proxy) {
    const auto result = Generate("", std::move(proxy));
    return result.outcome == Outcome::kFailed &&
                   result.error.find("htaccess.txt") != std::string::npos
               ? 0
               : 1;
  }
  void ExpectPreviousOutputAlone() const {
    EXPECT_EQ(Output(), "previous\n");
    EXPECT_EQ(FileNames(dir()), std::vector<std::string>{"htaccess.txt"});
  }

  Settings settings = LoadedDefaults();
  bool cut = false;
  RecordingEvents events;
  RunReport report;
};

using AccessFileLayout = AccessFileTest;
using AccessFileLines = AccessFileTest;
using AccessFileRun = AccessFileTest;
using AccessFileSafety = AccessFileTest;

TEST_F(AccessFileLayout, AddressLineAffixes) {
  struct Case {
    const char* name;
    std::function<void(Settings&)> change;
    std::string line;  // the output line for the address 1.2.3.4
  };
  const std::vector<Case> cases = {
      {"defaults", [](Settings&) {}, "deny from 1.2.3.4"},
      {"MASK 24", [](Settings& s) { s.MASK = 24; }, "deny from 1.2.3.4/24"},
      {"CHARAF text", [](Settings& s) { s.CHARAF = "# open proxy"; },
       "deny from 1.2.3.4 # open proxy"},
      {"SPC_PREV", [](Settings& s) { s.SPC_PREV = true; }, "deny from1.2.3.4"},
      {"CHARBF empty", [](Settings& s) { s.CHARBF = ""; }, "1.2.3.4"},
      {"CHARBF spaces", [](Settings& s) { s.CHARBF = "   "; }, "1.2.3.4"},
      {"spaces around CHARBF", [](Settings& s) { s.CHARBF = "  deny from   "; },
       "deny from 1.2.3.4"},
      {"SPC_NEXT", [](Settings& s) { s.CHARAF = "  # x  ", s.SPC_NEXT = true; },
       "deny from 1.2.3.4# x"},
      {"MASK 16 and CHARAF", [](Settings& s) { s.MASK = 16, s.CHARAF = " #p"; },
       "deny from 1.2.3.4/16 #p"},
      {"tab kept in CHARBF", [](Settings& s) { s.CHARBF = "deny\tfrom\t "; },
       "deny\tfrom\t 1.2.3.4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings = LoadedDefaults();
    c.change(settings);
    ASSERT_TRUE(Generate("", "1.2.3.4\n").ok());
    EXPECT_EQ(Output(), c.line + "\n");
  }
}

// PERLINE, MERGE and Apache's line limit. Japan's allow list is on; the proxy list is the
// first list of the address groups and the overseas list (MODE4) the second.
TEST_F(AccessFileLayout, PackedAndMergedEntriesStayWithinApachesLineLimit) {
  struct Case {
    const char* name;
    std::function<void(Settings&)> change;
    std::string country;
    std::string proxy;
    std::string overseas;
    std::string output;
    std::uint64_t skipped = 0;
    std::size_t warnings = 0;
  };
  // Normalised with its space, 8,184 bytes: 7 more make the longest line Apache reads.
  const std::string longPrefix(8183, 'x');
  const std::string longComment = "# " + std::string(8189, 'c');  // 8,191 bytes
  const std::vector<Case> cases = {
      {"packed across the proxy and overseas lists", [](Settings& s) { s.PERLINE = 3; }, "",
       "1.0.0.1\n1.0.0.2\n", "2.0.0.1\n2.0.0.2\n",
       "deny from 1.0.0.1 1.0.0.2 2.0.0.1\ndeny from 2.0.0.2\n"},
      {"each entry its own network or mask, SPC_PREV on the first, CHARAF once",
       [](Settings& s) { s.PERLINE = 5, s.MASK = 24, s.SPC_PREV = true, s.CHARAF = "#p"; }, "",
       "1.0.0.1\n1.0.0.0/28\n[2001:db8::1]:80\n", "",
       "deny from1.0.0.1/24 1.0.0.0/28 2001:db8::1 #p\n"},
      {"the Require form packs without PERLINE", [](Settings& s) { s.CHARBF = "Require not ip"; },
       "", "1.0.0.1\n1.0.0.2\n", "", "Require not ip 1.0.0.1 1.0.0.2\n"},
      {"PERLINE=1 with the Require form is obeyed, with a warning",
       [](Settings& s) { s.CHARBF = "require not ip", s.PERLINE = 1; }, "", "1.0.0.1\n1.0.0.2\n",
       "", "require not ip 1.0.0.1\nrequire not ip 1.0.0.2\n", 0, 1},
      {"a country list packed on its own, its lines as they stand in place",
       [](Settings& s) { s.PERLINE = 2; },
       "1.0.0.1\n1.0.0.2\n1.0.0.3\n# c\nallow from 9.0.0.0/8\n4.0.0.1", "5.0.0.1\n", "",
       "allow from 1.0.0.1 1.0.0.2\nallow from 1.0.0.3\n# c\nallow from 9.0.0.0/8\n"
       "allow from 4.0.0.1\ndeny from 5.0.0.1\n"},
      {"LISTMAX counts entries, not lines", [](Settings& s) { s.PERLINE = 3, s.LISTMAX = 4; }, "",
       "1.0.0.1\n1.0.0.2\n1.0.0.3\n1.0.0.4\n1.0.0.5\n", "",
       "deny from 1.0.0.1 1.0.0.2 1.0.0.3\ndeny from 1.0.0.4\n", 0, 1},
      {"a line closes early at the limit",
       [&](Settings& s) { s.CHARBF = longPrefix.substr(8), s.PERLINE = 500; }, "",
       "1.0.0.1\n1.0.0.2\n1.0.0.3\n", "",
       longPrefix.substr(8) + " 1.0.0.1 1.0.0.2\n" + longPrefix.substr(8) + " 1.0.0.3\n"},
      {"an entry that fits no line is skipped", [&](Settings& s) { s.CHARBF = longPrefix; }, "",
       "1.2.3.45\n1.2.3.4\n", "", longPrefix + " 1.2.3.4\n", 1},
      {"the CR of CR LF counts", [&](Settings& s) { s.CHARBF = longPrefix, s.LINESEP = "\r\n"; },
       "", "1.2.3.4\n::1\n", "", longPrefix + " ::1\r\n", 1},
      {"country lines as they stand past the limit are skipped", [](Settings&) {},
       longComment + "\n" + longComment + "c\n", "", "", longComment + "\n", 1},
      {"merged: duplicates, networks inside others, neighbours; IPv4 first, ascending",
       [](Settings& s) { s.MERGE = true; }, "",
       "2001:db8::1\n9.9.9.9\n1.0.0.1\n1.0.0.0/31\n1.0.0.2/31\n[2001:db8::]:80\n1.0.0.1\n",
       "1.0.0.4/30\n", "deny from 1.0.0.0/29\ndeny from 9.9.9.9\ndeny from 2001:db8::/127\n"},
      {"merged: MASK networks once, only aligned neighbours joined, never past /8",
       [](Settings& s) { s.MERGE = true, s.MASK = 24, s.PERLINE = 9; }, "",
       "1.2.3.4\n1.2.3.200\n1.2.4.0/24\n10.0.0.0/8\n11.0.0.0/8\n", "",
       "deny from 1.2.3.0/24 1.2.4.0/24 10.0.0.0/8 11.0.0.0/8\n"},
      {"merged: a country list's access lines in place, no comments, addresses after",
       [](Settings& s) { s.MERGE = true; }, "1.0.0.1\n# c\nallow from 9.0.0.0/8\nx\n1.0.0.0\n", "",
       "", "allow from 9.0.0.0/8\nallow from 1.0.0.0/31\n", 1},
      {"merged: LISTMAX applies after merging", [](Settings& s) { s.MERGE = true, s.LISTMAX = 1; },
       "", "1.0.0.1\n1.0.0.0\n3.0.0.1\n", "", "deny from 1.0.0.0/31\n", 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings = LoadedDefaults();
    settings.lists[kJapan].mode = kModeAllow;
    settings.lists[kRussia1List].mode = true;
    c.change(settings);
    ASSERT_TRUE(Generate(c.country, c.proxy, c.overseas).ok());
    EXPECT_EQ(Output(), c.output);
    std::uint64_t skipped = 0;
    for (const RunReport::SkippedLines& list : report.skipped) {
      skipped += list.count;
    }
    EXPECT_EQ(skipped, c.skipped);
    EXPECT_EQ(report.warnings.size(), c.warnings);
  }
}

TEST_F(AccessFileLayout, MaskOnProxyAndOverseasLinesNeverOnCountryLines) {
  settings.lists[kJapan].mode = kModeAllow;
  settings.lists[kRussia1List].mode = true;
  settings.MASK = 16;
  ASSERT_TRUE(Generate("allow from 10.0.0.0/8\n", "1.1.1.1\n", "2.2.2.2\n").ok());
  EXPECT_EQ(Output(), "allow from 10.0.0.0/8\ndeny from 1.1.1.1/16\ndeny from 2.2.2.2/16\n");
}

TEST_F(AccessFileLayout, SeparatorFollowsEveryLineAndNothingElseBreaksLines) {
  WriteBytes("add2htaccess.txt", "# head\r");
  WriteBytes("add2htaccess2.txt", "# tail");
  settings.lists[kKorea].mode = kModeDeny;
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
      // A byte-order mark belongs to the file, not to its first line; elsewhere it is text.
      {"\xEF\xBB\xBFOrder deny,allow\r\xEF\xBB\xBF#\r", "Order deny,allow|\xEF\xBB\xBF#|"},
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

// A user file's line or affixes that Apache could not read fail the run, and the previous
// output stays.
TEST_F(AccessFileLines, LinesPastApachesLimitFailTheRunNamingWhere) {
  struct Case {
    const char* name;
    std::function<void(Settings&)> change;
    std::string head;
    std::string tail;
    std::string failure;  // a part of the reason; empty: the run writes the file
  };
  const std::string longest(8191, 'x');
  const std::vector<Case> cases = {
      {"8,191 bytes", [](Settings&) {}, "a\r" + longest + "\r", "", ""},
      {"8,192 bytes", [](Settings&) {}, "a\r" + longest + "x", "", "add2htaccess.txt, line 2: "},
      {"an LF ends a line for Apache", [](Settings&) {}, "a\nb\n" + longest + "x\r", "",
       "add2htaccess.txt, line 3: "},
      {"a trailing backslash joins lines", [](Settings&) {}, "a\\\r" + longest.substr(1), "",
       "add2htaccess.txt, line 2: "},
      {"the CR of CR LF counts", [](Settings& s) { s.LINESEP = "\r\n"; }, longest, "",
       "add2htaccess.txt, line 1: "},
      {"the tail file", [](Settings&) {}, "", "# t\r" + longest + "x",
       "add2htaccess2.txt, line 2: "},
      {"the head file's last line joined to the first list line", [](Settings&) {},
       "# blocked below \\", "", "add2htaccess.txt: its last line ends in a backslash"},
      {"no line end between lines: not for Apache", [](Settings& s) { s.LINESEP = "|"; },
       longest + "x", "", ""},
      {"CHARAF ending in a backslash", [](Settings& s) { s.CHARAF = "# \\"; }, "", "",
       "CHARAF ends in a backslash"},
      {"affixes leaving no room for an address",
       [](Settings& s) { s.CHARBF = std::string(8190, 'x'); }, "", "", "no room for an address"},
      {"long affixes with every address list off",
       [](Settings& s) { s.CHARBF = std::string(8190, 'x'), s.lists[kAnonymousList].mode = false; },
       "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings = LoadedDefaults();
    c.change(settings);
    WriteBytes("htaccess.txt", "previous\n");
    WriteBytes("add2htaccess.txt", c.head);
    WriteBytes("add2htaccess2.txt", c.tail);
    const auto result = Generate("", "1.1.1.1\n");
    if (c.failure.empty()) {
      EXPECT_TRUE(result.ok()) << result.error;
      continue;
    }
    EXPECT_EQ(result.outcome, Outcome::kFailed);
    EXPECT_NE(result.error.find(c.failure), std::string::npos) << result.error;
    EXPECT_EQ(Output(), "previous\n");
  }
}

TEST_F(AccessFileLines, MissingOrUnreadableUserFilesAreLeftOut) {
  std::filesystem::create_directory("add2htaccess.txt");
  ASSERT_TRUE(Generate("", "1.2.3.4\n").ok());
  EXPECT_EQ(Output(), "deny from 1.2.3.4\n");
}

TEST_F(AccessFileLines, ListLinesEndAtCrLfLoneLfOrLoneCrOnce) {
  settings.LINESEP = "|";
  settings.lists[kTaiwan].mode = kModeAllow;
  ASSERT_TRUE(
      Generate("#a\r\n\r\n#b\r\n#c\n\n#d\r\r#e", "1.1.1.1\r\n2.2.2.2\n3.3.3.3\r4.4.4.4").ok());
  // Empty lines of a country list are skipped, not counted.
  EXPECT_EQ(Output(),
            "#a|#b|#c|#d|#e|"
            "deny from 1.1.1.1|deny from 2.2.2.2|deny from 3.3.3.3|deny from 4.4.4.4|");
  EXPECT_EQ(events.lines, 9U);
}

TEST_F(AccessFileLines, BlankAddressLinesWriteNothingAndDoNotCount) {
  settings.LISTMAX = 3;
  settings.lists[kRussia1List].mode = true;
  ASSERT_TRUE(Generate("", "1.1.1.1\n\n   \n\t \t\r\n2.2.2.2\n", "\n \r\n3.3.3.3\n4.4.4.4\n").ok());
  EXPECT_EQ(Output(), "deny from 1.1.1.1\ndeny from 2.2.2.2\ndeny from 3.3.3.3\n");
  EXPECT_EQ(events.log, (std::vector<std::string>{"lines 1", "lines 2", "lines 3"}));
}

// Which list lines reach the file and how, with MASK 24. An empty `written` means skipped.
TEST_F(AccessFileLines, OnlyLinesApacheReadsAsMeantAreWritten) {
  enum class From { kProxy, kAllowList, kDenyList };
  struct Case {
    From from;
    std::string line;
    std::string written;
  };
  const std::vector<Case> cases = {
      // Proxy lines: the token before a blank, ',', ';' or '#', its port dropped.
      {From::kProxy, "1.2.3.4", "deny from 1.2.3.4/24"},
      {From::kProxy, " \t1.2.3.4:8080\t ", "deny from 1.2.3.4/24"},
      {From::kProxy, "1.2.3.4 # open, anonymous", "deny from 1.2.3.4/24"},
      {From::kProxy, "1.2.3.4 80", "deny from 1.2.3.4/24"},
      {From::kProxy, "1.2.3.4,FR;2024", "deny from 1.2.3.4/24"},
      {From::kProxy, "1.2.3.4;x", "deny from 1.2.3.4/24"},
      {From::kProxy, "0.0.0.0", "deny from 0.0.0.0/24"},
      // A network keeps its own length; MASK never doubles it.
      {From::kProxy, "1.2.3.0/28", "deny from 1.2.3.0/28"},
      {From::kProxy, "1.0.0.0/8", "deny from 1.0.0.0/8"},
      {From::kProxy, "1.2.3.0/24/24", ""},
      {From::kProxy, "1.2.3.0/7", ""},
      {From::kProxy, "1.2.3.0/33", ""},
      {From::kProxy, "1.2.3.0/024", ""},
      {From::kProxy, "1.2.3.0/", ""},
      {From::kProxy, "1.2.3.4:80/24", ""},
      // Numbers Apache would read as something else, or not at all.
      {From::kProxy, "10.1", ""},
      {From::kProxy, "010.0.0.1", ""},
      {From::kProxy, "256.1.1.1", ""},
      {From::kProxy, "192.0.2.2198.51.100.1", ""},
      {From::kProxy, "1.2.3.4.5", ""},
      {From::kProxy, "1.2.3.4:123456", ""},
      {From::kProxy, "1.2.3.4:", ""},
      {From::kProxy, "1.2.3.4:http", ""},
      {From::kProxy, "1.2.3.4\0"s, ""},
      {From::kProxy,
       "\xEF\xBB\xBF"
       "1.2.3.4",
       ""},
      {From::kProxy, "1.2.3.4\f", ""},
      // Headers, pages and directives.
      {From::kProxy, "# ip:port", ""},
      {From::kProxy, "<!DOCTYPE html>", ""},
      {From::kProxy, R"({"ip": "1.2.3.4", "port": 80})", ""},
      {From::kProxy, "deny from 1.2.3.4", ""},
      {From::kProxy, "all", ""},
      {From::kProxy, "proxy.example.com", ""},
      {From::kProxy, "\xc2\xa9 2026", ""},
      // IPv6: never MASK, brackets and port dropped.
      {From::kProxy, "2001:db8::1", "deny from 2001:db8::1"},
      {From::kProxy, "[2001:db8::1]:8080", "deny from 2001:db8::1"},
      {From::kProxy, "[2001:db8::1]", "deny from 2001:db8::1"},
      {From::kProxy, "2001:DB8:0:0:0:0:0:1 # x", "deny from 2001:DB8:0:0:0:0:0:1"},
      {From::kProxy, "2001:db8::/32", "deny from 2001:db8::/32"},
      {From::kProxy, "[2001:db8::]/48", "deny from 2001:db8::/48"},
      {From::kProxy, "64:ff9b::192.0.2.1", "deny from 64:ff9b::192.0.2.1"},
      {From::kProxy, "::ffff:192.0.2.1", ""},
      {From::kProxy, "fe80::1%eth0", ""},
      {From::kProxy, "2001:db8::/8", ""},
      {From::kProxy, "2001:db8::/129", ""},
      {From::kProxy, "2001:db8:::1", ""},
      {From::kProxy, "1:2:3:4:5:6:7:8:9", ""},
      {From::kProxy, "[1.2.3.4]", ""},
      {From::kProxy, "[2001:db8::1", ""},
      {From::kProxy, "[2001:db8::1]8080", ""},
      // Country lines: comments and complete access lines as they stand, bare networks framed.
      {From::kAllowList, "  # Japan, 2026-12  ", "# Japan, 2026-12"},
      {From::kAllowList, "allow from 1.2.3.0/24 10.0.0.0/8 ", "allow from 1.2.3.0/24 10.0.0.0/8"},
      {From::kDenyList, "Deny\tFROM  2001:db8::/32", "Deny\tFROM  2001:db8::/32"},
      {From::kAllowList, "1.2.3.0/24", "allow from 1.2.3.0/24"},
      {From::kDenyList, "1.2.3.0/24", "deny from 1.2.3.0/24"},
      {From::kDenyList, "1.2.3.4", "deny from 1.2.3.4"},
      {From::kDenyList, "[2001:db8::]/32", "deny from 2001:db8::/32"},
      {From::kAllowList, "1.2.3.0/24 JP", "allow from 1.2.3.0/24"},
      {From::kAllowList, "1.2.3.4:80", ""},
      {From::kAllowList, "allow from 1.2.3.4:80", ""},
      {From::kAllowList, "allow from [2001:db8::1]", ""},
      {From::kAllowList, "allow from all", ""},
      {From::kAllowList, "allow from 1.2.3.4 # jp", ""},
      {From::kAllowList, "allow from 10.1", ""},
      {From::kAllowList, "allow from", ""},
      {From::kAllowList, "allowfrom 1.2.3.4", ""},
      {From::kAllowList, "allow 1.2.3.4", ""},
      {From::kAllowList, "Order deny,allow", ""},
      {From::kDenyList, "AddHandler application/x-httpd-php .txt", ""},
      {From::kDenyList, "php_value auto_prepend_file /tmp/x", ""},
      {From::kDenyList, "RewriteRule ^ http://example.com/ [R,L]", ""},
      {From::kDenyList, "<Files *>", ""},
      {From::kAllowList, "# continued \\", ""},
      {From::kAllowList, "# bell \a", ""},
      {From::kAllowList, " \t ", ""},
  };
  settings.MASK = 24;
  settings.lists[kJapan].mode = kModeAllow;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.line));
    const bool proxy = c.from == From::kProxy;
    const DownloadedList list{c.line + "\n", "list", c.from == From::kAllowList};
    ASSERT_TRUE(WriteAccessFile(proxy ? GroupLists{{}, {list}, {}} : GroupLists{{list}, {}, {}},
                                settings, events, events.token())
                    .ok());
    EXPECT_EQ(Output(), c.written.empty() ? "" : c.written + "\n");
  }
}

TEST_F(AccessFileRun, ListMaxCapsTheGroupsTogetherNotTheUserFilesAndSaysWhatItLeftOut) {
  struct Case {
    int listMax;
    std::string lines;
    std::vector<std::string> leftOut;  // the lists the warning names
  };
  const std::vector<Case> cases = {
      {1, "#c1\n", {"country", "proxy", "overseas"}},
      {3, "#c1\n#c2\ndeny from 1.0.0.1\n", {"proxy", "overseas"}},
      {5, "#c1\n#c2\ndeny from 1.0.0.1\ndeny from 1.0.0.2\ndeny from 1.0.0.3\n", {"overseas"}},
      {6,
       "#c1\n#c2\ndeny from 1.0.0.1\ndeny from 1.0.0.2\ndeny from 1.0.0.3\ndeny from 2.0.0.1\n",
       {"overseas"}},
      {9999,
       "#c1\n#c2\ndeny from 1.0.0.1\ndeny from 1.0.0.2\ndeny from 1.0.0.3\ndeny from 2.0.0.1\n"
       "deny from 2.0.0.2\n",
       {}},
  };
  WriteBytes("add2htaccess.txt", "H1\rH2\r");
  WriteBytes("add2htaccess2.txt", "T1\rT2\r");
  settings.lists[kChina].mode = kModeDeny;
  settings.lists[kRussia1List].mode = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listMax);
    settings.LISTMAX = c.listMax;
    // Skipped lines do not count against the cap.
    ASSERT_TRUE(
        Generate("#c1\nc\n#c2\n", "1.0.0.1\np\n1.0.0.2\n1.0.0.3\n", "o\n2.0.0.1\n2.0.0.2\n").ok());
    EXPECT_EQ(Output(), "H1\nH2\n" + c.lines + "T1\nT2\n");
    ASSERT_EQ(report.warnings.size(), c.leftOut.empty() ? 0U : 1U);
    for (const char* list : {"country", "proxy", "overseas"}) {
      const bool named = !c.leftOut.empty() &&
                         report.warnings[0].find(std::string("list ") + list) != std::string::npos;
      EXPECT_EQ(named, std::find(c.leftOut.begin(), c.leftOut.end(), list) != c.leftOut.end())
          << list;
    }
  }
}

// A run keeps of each list only what generation reads of it: the file and what the run tells
// are those of the whole lists, also where Apache's line limit skips usable lines.
TEST_F(AccessFileRun, ListsCutPastListMaxGiveTheSameFileAndReport) {
  struct Case {
    const char* name;
    std::function<void(Settings&)> change;
    std::string country;
    std::string proxy;
  };
  const std::vector<Case> cases = {
      {"blank lines before the line after the cap", [](Settings& s) { s.LISTMAX = 2; }, "",
       "1.1.1.1\n1.1.1.2\n\n \n# after\n1.1.1.3\n"},
      {"the cap reached by the list before", [](Settings& s) { s.LISTMAX = 2; },
       "#c1\n192.0.2.0/24\n#c2\n", "1.1.1.1\n"},
      {"an IPv6 address too long with CHARBF",
       [](Settings& s) { s.CHARBF = std::string(8175, 'x'), s.LISTMAX = 2; }, "",
       "2001:db8:0:0:1:2:3:4\n1.1.1.1\n2.2.2.2\n3.3.3.3\n"},
      {"a country comment too long", [](Settings& s) { s.LISTMAX = 1; },
       "# " + std::string(8200, 'c') + "\n192.0.2.0/24\n198.51.100.0/24\n", ""},
      {"merged", [](Settings& s) { s.MERGE = true, s.LISTMAX = 1; }, "",
       "1.1.1.3\n1.1.1.2\n1.1.1.1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings = LoadedDefaults();
    settings.lists[kChina].mode = kModeDeny;
    c.change(settings);
    cut = false;
    ASSERT_TRUE(Generate(c.country, c.proxy).ok());
    const std::string whole = OutputAndReport();
    cut = true;
    ASSERT_TRUE(Generate(c.country, c.proxy).ok());
    EXPECT_EQ(OutputAndReport(), whole);
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
      {"defaults: proxy only", [](Settings&) {}, "2.2.2.2\n", "deny from 1.1.1.1\n"},
      {"country modes summing to 0",
       [](Settings& s) { s.lists[kJapan].mode = kModeAllow, s.lists[kChina].mode = -1; }, "",
       "deny from 1.1.1.1\n"},
      {"a country mode", [](Settings& s) { s.lists[kKorea].mode = kModeAllow; }, "",
       "# c\ndeny from 1.1.1.1\n"},
      {"MODE1 to MODE3 off",
       [](Settings& s) { s.lists[kAnonymousList].mode = false, s.lists[kCanadaList].mode = true; },
       "2.2.2.2\n", "deny from 2.2.2.2\n"},
      {"MODE3 alone",
       [](Settings& s) { s.lists[kAnonymousList].mode = false, s.lists[kSquidList].mode = true; },
       "", "deny from 1.1.1.1\n"},
      {"MODE5", [](Settings& s) { s.lists[kRussia2List].mode = true; }, "2.2.2.2\n",
       "deny from 1.1.1.1\ndeny from 2.2.2.2\n"},
      {"MODE5, empty overseas text", [](Settings& s) { s.lists[kRussia2List].mode = true; }, "",
       "deny from 1.1.1.1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings = LoadedDefaults();
    c.change(settings);
    ASSERT_TRUE(Generate("# c\n", "1.1.1.1\n", c.overseas).ok());
    EXPECT_EQ(Output(), c.expected);
  }
}

TEST_F(AccessFileRun, SettingsConfirmedDuringTheRunDoNotChangeTheFileHalfway) {
  settings.lists[kRussia1List].mode = true;
  events.onEvent = [this](const std::string&) {
    settings.CHARBF = "allow from ";
    settings.LINESEP = "|";
    settings.LISTMAX = 1;
    settings.MASK = 16;
    settings.lists[kRussia1List].mode = false;
  };
  ASSERT_TRUE(Generate("", "1.1.1.1\n2.2.2.2\n", "3.3.3.3\n").ok());
  EXPECT_EQ(Output(), "deny from 1.1.1.1\ndeny from 2.2.2.2\ndeny from 3.3.3.3\n");
  EXPECT_EQ(settings.CHARBF, "allow from ");  // the user's edit stays for the next run
}

TEST_F(AccessFileRun, OutputThatCannotBeOpenedStopsBeforeAnyOtherStep) {
  settings.LCFILE = ".\\missing\\out.txt";
  settings.CHARBF = "  deny from  ";
  WriteBytes("add2htaccess.txt", "h\r");
  const auto result = Generate("", "1.1.1.1\n");
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_NE(result.error.find("missing/out.txt"), std::string::npos) << result.error;
  EXPECT_EQ(settings.CHARBF, "  deny from  ");
  EXPECT_TRUE(events.log.empty());
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
  events.keepLog = false;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Generate("", std::move(proxy)).ok());
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(20));
  EXPECT_EQ(std::filesystem::file_size("htaccess.txt"), expectedSize);
  EXPECT_EQ(events.lines, std::uint64_t{kLines});
}

TEST_F(AccessFileSafety, EndingTheProgramLeavesThePreviousFileAndNoTemporaries) {
  WriteBytes("add2htaccess.txt", "h\r");
  WriteBytes("add2htaccess2.txt", "t\r");
  settings.lists[kRussia1List].mode = true;
  // Before the head file, after a list line, after the last one (before the tail file).
  for (const std::string stopAt : {"", "lines 2", "lines 3"}) {
    SCOPED_TRACE(stopAt);
    WriteBytes("htaccess.txt", "previous\n");
    events = RecordingEvents();
    events.StopAt(stopAt);
    if (stopAt.empty()) {
      events.stop.request_stop();
    }
    const auto result = Generate("", "1.1.1.1\n2.2.2.2\n", "3.3.3.3\n");
    EXPECT_EQ(result.outcome, Outcome::kAbandoned);
    EXPECT_EQ(Output(), "previous\n");
    // Nothing more is told once the user has ended the program.
    EXPECT_EQ(events.log.empty() ? "" : events.log.back(), stopAt);
    EXPECT_EQ(FileNames(dir()),
              (std::vector<std::string>{"add2htaccess.txt", "add2htaccess2.txt", "htaccess.txt"}));
  }
}

TEST_F(AccessFileSafety, FilesOfTheFolderAreNeitherReadNorWrittenThroughOnTheWay) {
  // Names once used for splitting lines, one a link a stranger could have planted.
  WriteBytes("victim", "kept\n");
  std::filesystem::create_symlink("victim", "proxy_cyber.tmp");
  WriteBytes("proxy_cnt.tmp", "9.9.9.9\n");
  settings.lists[kJapan].mode = kModeAllow;
  settings.lists[kRussia1List].mode = true;
  ASSERT_TRUE(Generate("# c\n", "1.1.1.1\n", "2.2.2.2\n").ok());
  EXPECT_EQ(Output(), "# c\ndeny from 1.1.1.1\ndeny from 2.2.2.2\n");
  EXPECT_EQ(ReadBytes("victim"), "kept\n");
  EXPECT_EQ(ReadBytes("proxy_cnt.tmp"), "9.9.9.9\n");
}

TEST_F(AccessFileSafety, WriteFailureKeepsThePreviousOutput) {
  constexpr rlim_t kLimit = 4096;
  WriteBytes("htaccess.txt", "previous\n");
  std::string proxy;
  for (int i = 0; i < 300; ++i) {  // 18 bytes each in the output
    proxy += "1.2.3.4\n";
  }
  const int exit = RunInChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kLimit, kLimit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    return FailsNamingTheOutput(proxy);
  });
  EXPECT_EQ(exit, 0);
  ExpectPreviousOutputAlone();
}

TEST_F(AccessFileSafety, FullDeviceIsAFailedGeneration) {
  if (!std::filesystem::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full here";
  }
  settings.LCFILE = "/dev/full";
  const auto result = Generate("", "1.1.1.1\n");
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_NE(result.error.find("/dev/full"), std::string::npos) << result.error;
  EXPECT_TRUE(FileNames(dir()).empty());
}

TEST_F(AccessFileSafety, DeviceOutputIsWrittenInPlace) {
  int controller = -1;
  int terminal = -1;
  ASSERT_EQ(::openpty(&controller, &terminal, nullptr, nullptr, nullptr), 0);
  termios raw{};
  ::tcgetattr(terminal, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(terminal, TCSANOW, &raw);
  settings.LCFILE = ::ttyname(terminal);
  const bool generated = Generate("", "1.1.1.1\n").ok();
  std::string written(64, '\0');
  const ssize_t n = ::read(controller, written.data(), written.size());
  ::close(terminal);
  ::close(controller);
  EXPECT_TRUE(generated);
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
    return FailsNamingTheOutput("1.1.1.1\n");
  });
  EXPECT_EQ(exit, 0);
  ExpectPreviousOutputAlone();
}

TEST_F(AccessFileSafety, ExistingOutputKeepsItsPermissions) {
  WriteBytes("htaccess.txt", "previous\n");
  std::filesystem::permissions("htaccess.txt", std::filesystem::perms(0604));
  ASSERT_TRUE(Generate("", "1.1.1.1\n").ok());
  EXPECT_EQ(Output(), "deny from 1.1.1.1\n");
  EXPECT_EQ(std::filesystem::status("htaccess.txt").permissions(), std::filesystem::perms(0604));
}

}  // namespace
}  // namespace palisor
