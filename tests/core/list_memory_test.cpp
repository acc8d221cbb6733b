// How much of its lists a run holds: no more than its room in all, and of each list only what
// LISTMAX can use.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "settings/SettingsFile.h"
#include "support/RecordingEvents.h"
#include "support/ResidentMemory.h"
#include "support/ScratchWorkingDir.h"
#include "support/TestServers.h"
#include "support/UpdateCommand.h"
#include "update/RunUpdate.h"

namespace palisor {
namespace {

class ListMemoryTest : public test::ScratchWorkingDir {
 protected:
  test::ScratchDir lists;
  test::HttpServer http{lists.path()};
};

// Eleven lists of 250 MB, sent in chunks without their length: the run holds no more than
// its LISTMAX can use of them, and no list grows its buffer past its size.
TEST_F(ListMemoryTest, ElevenLargeListsAreHeldOnlyAsFarAsListmaxUsesThem) {
  constexpr long kListBytes = 250'000'000;
  const std::string line = "192.0.2.1\n";
  const std::string large = http.Url("/repeat?chunked=1&text=192.0.2.1%0A&count=" +
                                     std::to_string(kListBytes / line.size()));
  std::string ini = "[FTP]\nFTPSW=0\n[URL]\nLISTMAX=10\n";
  for (std::size_t row = kAnonymousList; row < kListCount; ++row) {
    ini += std::string(kListSources[row].urlKey) + "=" + large + "\n" +
           std::string(kListSources[row].modeKey) + "=-1\n";
  }
  ini += "[CNT]\n";
  for (std::size_t country = 0; country < kCountryCount; ++country) {
    ini += std::string(kListSources[country].modeKey) + "=2\n" +
           std::string(kListSources[country].denyUrlKey) + "=" + large + "\n";
  }
  test::WriteBytes("palisor.ini", ini);

  const test::Finished run = test::RunIn(std::filesystem::current_path());

  EXPECT_EQ(run.exitStatus, 0) << run.err;
  std::string expected;
  for (int i = 0; i < 10; ++i) {
    expected += "deny from " + line;
  }
  EXPECT_EQ(test::ReadBytes("htaccess.txt"), expected);
  if (test::kResidentMemoryTells) {
    EXPECT_LT(run.peakKilobytes, 600'000);
  }
}

// Three lists of 300 bytes against a room of 700 for the run: a list that would take the run
// past it fails the run, unless LISTMAX lets the lists before it go but for what it uses.
// What is kept follows the settings of the first list, whatever is confirmed later.
TEST_F(ListMemoryTest, TheListsOfARunAreHeldWithinItsRoom) {
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
  Transfer transfer;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove("htaccess.txt");
    Settings s = LoadSettings();
    s.FTPSW = false;
    for (const auto& [row, name] : {std::pair{kAnonymousList, "/big1.txt"},
                                    {kNonAnonymousList, "/big2.txt"},
                                    {kRussia1List, "/big4.txt"}}) {
      s.lists[row] = {http.Url(name), {}, 1};
    }
    s.MERGE = c.merge;
    s.LISTMAX = c.listMax;
    test::RecordingEvents events;
    RunOptions options;
    options.requestTimeout = std::chrono::seconds(5);
    options.listBytes = 700;
    // The dialog's OK once the first list has come.
    options.confirmedSettings = [&events, &c](Settings& taken) {
      if (events.Saw("PROXY情報の取得中[Anonymous]")) {
        taken.LISTMAX = c.listMaxConfirmed;
      }
    };

    const RunReport report = RunUpdate(s, events, transfer, events.token(), options);

    if (c.linesWritten == 0) {
      EXPECT_EQ(report.outcome, Outcome::kFailed);
      EXPECT_NE(report.error.find("Russia 1"), std::string::npos) << report.error;
      EXPECT_NE(report.error.find("700 bytes in all"), std::string::npos) << report.error;
      EXPECT_FALSE(std::filesystem::exists("htaccess.txt"));
      continue;
    }
    ASSERT_EQ(report.outcome, Outcome::kOk) << report.error;
    EXPECT_EQ(report.linesWritten, c.linesWritten);
    EXPECT_EQ(test::ReadBytes("htaccess.txt").substr(0, 21), "deny from 192.0.2.10\n");
    // The lines let go still tell that LISTMAX left each list out or cut it short.
    ASSERT_EQ(report.warnings.size(), 1u);
    for (const char* name : {"big1.txt", "big2.txt", "big4.txt"}) {
      EXPECT_NE(report.warnings[0].find(name), std::string::npos) << report.warnings[0];
    }
  }
}

}  // namespace
}  // namespace palisor
