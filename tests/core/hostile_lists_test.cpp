// What list servers may send: bytes that are not text, huge lines, endless empty lines,
// bodies that stop early, stalls, redirect loops and redirects elsewhere. Each goes through
// the whole run: only addresses reach the file, a body without one fails cleanly, within its
// time-out, leaving the window idle and no temporary file behind.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/RecordingEvents.h"
#include "support/ScratchWorkingDir.h"
#include "support/TestServers.h"
#include "update/RunUpdate.h"

namespace palisor {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr const char* kOutput = "htaccess.txt";
const std::string kPrevious = "deny from 192.0.2.1\n";

// Compares without printing megabytes: the sizes and where the bytes first differ.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) {
    return ::testing::AssertionSuccess();
  }
  std::size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
    ++at;
  }
  return ::testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                       << " were expected, first difference at byte " << at;
}

class HostileListTest : public test::ScratchWorkingDir {
 protected:
  void SetUp() override {
    test::ScratchWorkingDir::SetUp();
    test::WriteBytes(kOutput, kPrevious);
    events.keepLog = false;  // a million lines would make a million entries
    Settings& s = state.settings;
    s.LCFILE = ".\\htaccess.txt";
    s.CHARBF = "deny from ";
    s.LINESEP = "\n";
    s.LISTMAX = 9999;
    s.MASK = 32;
    s.TMINT = 3600;
    s.lists[kAnonymousList].mode = true;  // the Anonymous list; no upload (FTPSW off)
  }

  // One run with the Anonymous list at `pathAndQuery` on the local server.
  RunReport RunWithList(std::string_view pathAndQuery, std::chrono::milliseconds timeout = 20s) {
    state.settings.lists[kAnonymousList].url = server.Url(pathAndQuery);
    return Run(timeout);
  }

  RunReport Run(std::chrono::milliseconds timeout) {
    const auto started = std::chrono::steady_clock::now();
    RunReport report =
        RunUpdate(state.settings, events, transfer, events.token(), RunOptions{timeout, {}});
    elapsed = std::chrono::steady_clock::now() - started;
    return report;
  }

  // However a run ended: no file but the output.
  void ExpectCleanEnd() const {
    EXPECT_EQ(test::FileNames(dir()), std::vector<std::string>{kOutput});
  }

  // A failed download leaves its list's caption and the previous output.
  void ExpectFailedCleanly(const RunReport& report) const {
    EXPECT_EQ(report.outcome, Outcome::kFailed);
    EXPECT_FALSE(report.error.empty());
    ASSERT_TRUE(report.stage);
    EXPECT_EQ(StageName(*report.stage), "PROXY情報の取得中[Anonymous]");
    EXPECT_TRUE(SameBytes(test::ReadBytes(dir() / kOutput), kPrevious));
    ExpectCleanEnd();
  }

  void ExpectWritten(const RunReport& report, const std::string& expected) const {
    ASSERT_EQ(report.outcome, Outcome::kOk) << report.error;
    EXPECT_TRUE(SameBytes(test::ReadBytes(dir() / kOutput), expected));
    ExpectCleanEnd();
  }

  test::ScratchDir root;
  test::HttpServer server{root.path()};
  Module1 state;
  test::RecordingEvents events;
  Transfer transfer;
  std::chrono::steady_clock::duration elapsed{};
};

TEST_F(HostileListTest, BytesThatAreNotTextNeverReachTheFile) {
  struct Case {
    const char* name;
    std::string body;
    std::string output;  // empty: the run fails, naming the first line
    std::string firstLineQuoted;
  };
  const Case cases[] = {
      {"NUL bytes", "1.2.3.4\0x\n\0\n5.6.7.8"s, "deny from 5.6.7.8\n", R"("1.2.3.4\x00x")"},
      {"invalid UTF-8", "\xC3\x28\n\xFF\xFE 1.2.3.4\n\xED\xA0\x80\xC0\xAF", "", R"("\xC3(")"},
      // 0x5C (a backslash) as the second byte of a double-byte character.
      {"Shift_JIS", "\x95\x5C 1.2.3.4\r\n\x83\x76\x83\x8D\x83\x4C\x83\x56\r\n", "",
       R"("\x95\x5C 1.2.3.4")"},
      {"control bytes", "\x1B[2J\f\v1.2.3.4\x7F\n", "", R"("\x1B[2J\x0C\x0B1.2.3.4\x7F")"},
      {"a long line", std::string(200, 'x') + "\n1.2.3.4", "deny from 1.2.3.4\n",
       '"' + std::string(60, 'x') + '"'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteBytes(kOutput, kPrevious);
    root.Write("list.txt", c.body);
    const RunReport report = RunWithList("/list.txt");
    if (c.output.empty()) {
      ExpectFailedCleanly(report);
      EXPECT_NE(report.error.find("first line " + c.firstLineQuoted), std::string::npos)
          << report.error;
      continue;
    }
    ExpectWritten(report, c.output);
    ASSERT_EQ(report.skipped.size(), 1u);
    EXPECT_EQ(report.skipped[0].first.front(), c.firstLineQuoted);
  }
}

TEST_F(HostileListTest, ASingleLineOfFiftyMegabytesIsNoList) {
  constexpr std::size_t kLength = std::size_t{50} << 20;
  const RunReport report = RunWithList("/repeat?text=x&count=" + std::to_string(kLength));
  ExpectFailedCleanly(report);
  EXPECT_NE(report.error.find("no address in 1 line; first line \"" + std::string(60, 'x') + "\""),
            std::string::npos);
}

TEST_F(HostileListTest, AMillionEmptyLines) {
  // Empty lines write nothing: the file holds no list line at all.
  ExpectWritten(RunWithList("/repeat?text=%0A&count=1000000"), "");
  ExpectWritten(RunWithList("/repeat?text=%0D%0A&count=1000000"), "");
  state.settings.lists[kAnonymousList].mode = false;
  state.settings.lists[kJapan].mode = kModeAllow;
  state.settings.lists[kJapan].url = server.Url("/repeat?text=%0D%0A&count=1000000");
  ExpectWritten(Run(20s), "");
}

TEST_F(HostileListTest, ABodyThatStopsEarlyFails) {
  for (const char* path : {"/cut", "/cut-chunked", "/cut-gzip"}) {
    SCOPED_TRACE(path);
    ExpectFailedCleanly(RunWithList(path));
  }
}

TEST_F(HostileListTest, AStalledServerFailsAtTheTimeOut) {
  root.Write("slow.txt", std::string(100000, '1'));
  for (const char* path : {"/stall", "/headers-stall", "/slow.txt?trickle=100"}) {
    SCOPED_TRACE(path);
    ExpectFailedCleanly(RunWithList(path, 1s));
    EXPECT_GE(elapsed, 900ms);
    EXPECT_LT(elapsed, 6s);
  }
}

TEST_F(HostileListTest, RedirectLoopsAndOtherSchemesFail) {
  root.Write("list.txt", "1.2.3.4\n");
  const std::string ftp = "ftp://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/list.txt";
  for (const std::string& path :
       {"/loop"s, "/redirect?to=file:///etc/passwd"s, "/redirect?to=" + ftp,
        "/redirect?to=gopher://127.0.0.1/x"s, "/redirect?to=dict://127.0.0.1/x"s}) {
    SCOPED_TRACE(path);
    ExpectFailedCleanly(RunWithList(path));
  }
  // The same list through a redirect that stays on HTTP arrives.
  ExpectWritten(RunWithList("/redirect?to=/list.txt"), "deny from 1.2.3.4\n");
}

}  // namespace
}  // namespace palisor
