#include "update/RunUpdate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/RecordingEvents.h"
#include "support/ScratchWorkingDir.h"
#include "support/TestServers.h"

namespace palisor {
namespace {

using test::ReadBytes;
using test::RecordingEvents;
using test::ScratchDir;
using Log = std::vector<std::string>;

// A run against real list and FTP servers, in a scratch working directory.
class RunUpdateTest : public test::ScratchWorkingDir {
 protected:
  RunUpdateTest() {
    lists.Write("c1.txt", "1.1.1.1\n");
    lists.Write("c2.txt", "2.2.2.2\n");
    lists.Write("ru1.txt", "7.7.7.7\n");
    lists.Write("deny_jp.txt", "deny from 10.0.0.0/8\n");
    lists.Write("allow_kr.txt", "allow from 11.0.0.0/8\n");

    Settings& s = state.settings;
    s.LCFILE = ".\\htaccess.txt";
    s.CHARBF = "deny from ";
    s.LINESEP = "\n";
    s.MASK = 32;
    s.LISTMAX = 9999;
    s.TMINT = 1800;
    s.URL1 = "  " + http.Url("/c1.txt") + "  ";
    s.URL2 = http.Url("/c2.txt");
    s.URL4 = http.Url("/ru1.txt");
    for (auto& urls : s.countryListUrls) {
      urls = {"", http.Url("/status/404"), http.Url("/status/404")};
    }
    s.countryListUrls[kJapan][2] = http.Url("/deny_jp.txt");
    s.countryListUrls[kKorea][1] = http.Url("/allow_kr.txt");
    s.SVNAME = ftp.Address();
    s.SVUSER = "site";
    s.SVPSWD = "secret";
    s.SVFILE = ".htaccess";
  }

  RunReport Run() {
    RunOptions options{std::chrono::seconds(5), confirmed, listBytes};
    return RunUpdate(state.settings, events, transfer, events.token(), options);
  }
  std::string Uploaded() const { return ReadBytes(ftpHome / ".htaccess"); }

  ScratchDir lists;
  ScratchDir ftpHome;
  test::HttpServer http{lists.path()};
  test::FtpServer ftp{ftpHome.path(), "site", "secret"};
  Module1 state;
  RecordingEvents events;
  std::function<void(Settings&)> confirmed;  // what the user confirms during the run
  std::size_t listBytes = RunOptions{}.listBytes;
  Transfer transfer;
};

TEST_F(RunUpdateTest, FullRunTellsEachStageInOrderWritesAndUploads) {
  Settings& s = state.settings;
  s.MODE1 = s.MODE2 = s.MODE4 = true;
  s.FTPSW = true;
  s.IPG_JP = kModeDeny;
  s.IPG_KR = kModeAllow;

  const RunReport report = Run();

  ASSERT_EQ(report.outcome, Outcome::kOk) << report.error;
  EXPECT_EQ(report.linesWritten, 5u);
  EXPECT_TRUE(report.skipped.empty());
  const std::string expected =
      "deny from 10.0.0.0/8\nallow from 11.0.0.0/8\n"
      "deny from 1.1.1.1\ndeny from 2.2.2.2\ndeny from 7.7.7.7\n";
  EXPECT_EQ(ReadBytes("htaccess.txt"), expected);
  EXPECT_EQ(Uploaded(), expected);
  EXPECT_EQ(events.log, (Log{"started", "国別情報の取得中[日本]", "国別情報の取得中[韓国]",
                             "PROXY情報の取得中[Anonymous]", "PROXY情報の取得中[Non-Anonymous]",
                             "PROXY情報の取得中[露①]", "解析中", "lines 1", "lines 2", "lines 3",
                             "lines 4", "lines 5", "送信中", "ended ok"}));
}

TEST_F(RunUpdateTest, SkippedLinesAreReportedPerListWithTheFirstThree) {
  lists.Write("allow_kr.txt", "order allow,deny\r\n11.0.0.0/8\n\n");
  lists.Write("c1.txt", "# proxies\n1.1.1.1:80\n<p>\n\t\n1.1.1.2\n10.1\n\"x\"\n");
  Settings& s = state.settings;
  s.MODE1 = s.MODE2 = true;
  s.IPG_KR = kModeAllow;

  const RunReport report = Run();

  ASSERT_EQ(report.outcome, Outcome::kOk) << report.error;
  EXPECT_EQ(ReadBytes("htaccess.txt"),
            "allow from 11.0.0.0/8\ndeny from 1.1.1.1\ndeny from 1.1.1.2\ndeny from 2.2.2.2\n");
  EXPECT_EQ(report.linesWritten, 4u);
  ASSERT_EQ(report.skipped.size(), 2u);
  EXPECT_EQ(report.skipped[0].list, "Korea (" + http.Url("/allow_kr.txt") + ")");
  EXPECT_EQ(report.skipped[0].count, 1u);
  EXPECT_EQ(report.skipped[0].first, std::vector<std::string>{"\"order allow,deny\""});
  EXPECT_EQ(report.skipped[1].list, "Anonymous (" + http.Url("/c1.txt") + ")");
  EXPECT_EQ(report.skipped[1].count, 4u);
  EXPECT_EQ(report.skipped[1].first,
            (std::vector<std::string>{"\"# proxies\"", "\"<p>\"", "\"10.1\""}));
  EXPECT_EQ(DescribeSkipped(report.skipped[0]),
            "list Korea (" + http.Url("/allow_kr.txt") +
                "): 1 line skipped, not read by Apache as meant: \"order allow,deny\"");
}

// However a run ends, it says where it got to and tells its end, and the previous output
// stays unless the file was written.
TEST_F(RunUpdateTest, EachEndSaysWhereItGotToAndLeavesTheRightFiles) {
  struct Case {
    const char* name;
    std::function<void(Settings&)> change;
    Outcome outcome;
    std::string stage;
    std::string reason;  // a part of the error
    std::string output;
    std::string uploaded;
    bool connects;
  };
  const Case cases[] = {
      {"nothing enabled", [](Settings&) {}, Outcome::kOk, "-", "", "previous", "", false},
      {"a country list alone", [](Settings& s) { s.IPG_JP = kModeDeny; }, Outcome::kOk, "送信中",
       "", "deny from 10.0.0.0/8\n", "deny from 10.0.0.0/8\n", true},
      {"a failed list",
       [this](Settings& s) {
         s.MODE1 = s.MODE2 = s.MODE4 = true;
         s.URL2 = http.Url("/status/500");
       },
       Outcome::kFailed, "PROXY情報の取得中[Non-Anonymous]", "Non-Anonymous", "previous", "",
       false},
      {"a refused upload",
       [](Settings& s) {
         s.MODE1 = true;
         s.SVPSWD = "wrong";
       },
       Outcome::kFailed, "送信中", "", "deny from 1.1.1.1\n", "", true},
  };
  const Module1 initial = state;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    state = initial;
    state.settings.FTPSW = true;
    c.change(state.settings);
    events = RecordingEvents();
    test::WriteBytes("htaccess.txt", "previous");
    std::filesystem::remove(ftpHome / ".htaccess");
    const std::size_t commandsBefore = ftp.Commands().size();

    const RunReport report = Run();

    EXPECT_EQ(report.outcome, c.outcome);
    EXPECT_NE(report.error.find(c.reason), std::string::npos) << report.error;
    EXPECT_EQ(report.stage ? std::string(StageName(*report.stage)) : "-", c.stage);
    EXPECT_EQ(ReadBytes("htaccess.txt"), c.output);
    EXPECT_EQ(Uploaded(), c.uploaded);
    EXPECT_EQ(ftp.Commands().size() > commandsBefore, c.connects);
    EXPECT_EQ(events.log.back(), "ended " + std::string(OutcomeName(report)));
  }
}

TEST_F(RunUpdateTest, TheChosenCountryListIsFetchedAndABadModeFailsItsStep) {
  Settings& s = state.settings;
  s.IPG_JP = kModeDeny;  // URL1 of Japan answers 404: only URL2 may be fetched
  ASSERT_EQ(Run().outcome, Outcome::kOk);

  s.IPG_CN = 3;
  const RunReport report = Run();
  EXPECT_EQ(report.outcome, Outcome::kFailed);
  EXPECT_EQ(events.log.end()[-2], "国別情報の取得中[中国]");
  EXPECT_NE(report.error.find("China"), std::string::npos) << report.error;
}

TEST_F(RunUpdateTest, EndingTheProgramMidRunAbandonsItAndLeavesTheOutputAlone) {
  state.settings.MODE1 = state.settings.MODE2 = true;
  state.settings.FTPSW = true;
  test::WriteBytes("htaccess.txt", "previous");
  for (const char* stopAt : {"started", "PROXY情報の取得中[Non-Anonymous]", "解析中", "lines 1"}) {
    events = RecordingEvents();
    events.StopAt(stopAt);

    EXPECT_EQ(Run().outcome, Outcome::kAbandoned) << stopAt;
    EXPECT_EQ(ReadBytes("htaccess.txt"), "previous") << stopAt;
    EXPECT_EQ(test::FileNames(dir()), (std::vector<std::string>{"htaccess.txt"})) << stopAt;
    EXPECT_EQ(Uploaded(), "") << stopAt;
  }
}

TEST_F(RunUpdateTest, EndingTheProgramOnceTheFileIsWrittenSaysItWasWritten) {
  state.settings.MODE1 = true;
  state.settings.FTPSW = true;
  test::WriteBytes("htaccess.txt", "previous");
  events.StopAt("送信中");

  const RunReport report = Run();

  EXPECT_EQ(report.outcome, Outcome::kAbandoned);
  EXPECT_TRUE(report.outputWritten);
  EXPECT_EQ(ReadBytes("htaccess.txt"), "deny from 1.1.1.1\n");
  EXPECT_EQ(Uploaded(), "");
}

// The certificates trusted for the upload are those CAFILE names when the upload starts.
TEST_F(RunUpdateTest, ACafileConfirmedDuringTheRunServesTheUpload) {
  const test::TestCertificate identity;
  const test::FtpServer tls(
      ftpHome.path(), "site", "secret",
      {"--tls", "explicit", identity.certificate().string(), identity.key().string()});
  const std::string trusted = identity.certificate().string();
  const struct {
    const char* name;
    std::string atStart;
    std::string confirmed;
    Outcome outcome;
    std::string uploaded;
  } cases[] = {
      {"named during the run", "", trusted, Outcome::kOk, "deny from 1.1.1.1\n"},
      {"removed during the run", trusted, "", Outcome::kFailed, "previous"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ftpHome.Write(".htaccess", "previous");
    Settings& s = state.settings;
    s.MODE1 = s.FTPSW = true;
    s.SVNAME = "ftpes://" + tls.Address();
    s.CAFILE = c.atStart;
    confirmed = [&c](Settings& taken) { taken.CAFILE = c.confirmed; };

    EXPECT_EQ(Run().outcome, c.outcome);
    EXPECT_EQ(Uploaded(), c.uploaded);
  }
}

TEST_F(RunUpdateTest, TheUploadPublishesTheFileTheRunWroteWhenLcfileChangesMeanwhile) {
  Settings& s = state.settings;
  s.MODE1 = s.FTPSW = true;
  confirmed = [](Settings& taken) {
    if (std::filesystem::exists("htaccess.txt")) {
      taken.LCFILE = ".\\elsewhere.txt";  // the dialog's OK, taken once the file was written
    }
  };

  ASSERT_EQ(Run().outcome, Outcome::kOk);

  EXPECT_EQ(Uploaded(), "deny from 1.1.1.1\n");
}

TEST_F(RunUpdateTest, SettingsConfirmedDuringTheDownloadsApplyToTheListsStillToCome) {
  Settings& s = state.settings;
  s.MODE1 = s.MODE2 = true;
  // The dialog's OK while the first list downloads.
  confirmed = [this](Settings& taken) {
    taken.MODE2 = taken.MODE2 && !events.Saw("PROXY情報の取得中[Anonymous]");
  };

  const RunReport report = Run();
  ASSERT_EQ(report.outcome, Outcome::kOk) << report.error;

  EXPECT_EQ(ReadBytes("htaccess.txt"), "deny from 1.1.1.1\n");
}

// Three lists of 300 bytes against a room of 700 for the run: a list that would take the run
// past it fails the run, unless LISTMAX lets the lists before it go but for what it uses.
// What is kept follows the settings of the first list, whatever is confirmed later.
TEST_F(RunUpdateTest, TheListsOfARunAreHeldWithinItsRoom) {
  std::string list;
  for (int i = 10; i < 40; ++i) {
    list += "192.0.2." + std::to_string(i) + "\n";
  }
  for (const char* name : {"big1.txt", "big2.txt", "big4.txt"}) {
    lists.Write(name, list);
  }
  const struct {
    const char* name;
    bool merge;
    std::int32_t listMax;
    std::int32_t listMaxConfirmed;
    std::size_t linesWritten;  // 0: the run fails at the third list
  } cases[] = {
      {"merged", true, 5, 5, 0},
      {"every line used", false, 9999, 9999, 0},
      {"five lines used", false, 5, 5, 5},
      {"LISTMAX raised during the downloads", false, 5, 9999, 5},
  };
  listBytes = 700;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove("htaccess.txt");
    Settings& s = state.settings;
    s.MODE1 = s.MODE2 = s.MODE4 = true;
    s.URL1 = http.Url("/big1.txt");
    s.URL2 = http.Url("/big2.txt");
    s.URL4 = http.Url("/big4.txt");
    s.MERGE = c.merge;
    s.LISTMAX = c.listMax;
    events.log.clear();
    // The dialog's OK once the first list has come.
    confirmed = [this, &c](Settings& taken) {
      if (events.Saw("PROXY情報の取得中[Anonymous]")) {
        taken.LISTMAX = c.listMaxConfirmed;
      }
    };

    const RunReport report = Run();

    if (c.linesWritten == 0) {
      EXPECT_EQ(report.outcome, Outcome::kFailed);
      EXPECT_NE(report.error.find("Russia 1"), std::string::npos) << report.error;
      EXPECT_NE(report.error.find("700 bytes in all"), std::string::npos) << report.error;
      EXPECT_FALSE(std::filesystem::exists("htaccess.txt"));
      continue;
    }
    ASSERT_EQ(report.outcome, Outcome::kOk) << report.error;
    EXPECT_EQ(report.linesWritten, c.linesWritten);
    EXPECT_EQ(ReadBytes("htaccess.txt").substr(0, 21), "deny from 192.0.2.10\n");
    // The lines let go still tell that LISTMAX left each list out or cut it short.
    ASSERT_EQ(report.warnings.size(), 1u);
    for (const char* name : {"big1.txt", "big2.txt", "big4.txt"}) {
      EXPECT_NE(report.warnings[0].find(name), std::string::npos) << report.warnings[0];
    }
  }
}

}  // namespace
}  // namespace palisor
