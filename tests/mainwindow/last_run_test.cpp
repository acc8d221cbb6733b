#include "mainwindow/LastRun.h"

#include <string>

#include <gtest/gtest.h>

namespace palisor {
namespace {

bool Holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Runs one after another, each with the caption the countdown shows after it: a failure warns
// until a run ends well, and the tray tells the countdown beside the last outcome.
TEST(LastRunTest, AFailureWarnsUntilTheNextGoodRun) {
  const struct {
    Outcome outcome;
    bool nothingToDo;
    const char* error;
    bool warns;
  } runs[] = {
      {Outcome::kFailed, false, "the Anonymous list: download failed", true},
      {Outcome::kAbandoned, false, "", true},
      {Outcome::kOk, true, "", false},
      {Outcome::kAbandoned, false, "", false},
      {Outcome::kFailed, false, "upload refused", true},
      {Outcome::kOk, false, "", false},
  };
  LastRun lastRun;
  lastRun.CaptionShown("first caption");
  EXPECT_FALSE(lastRun.Warns());
  EXPECT_TRUE(lastRun.Summary().empty());
  EXPECT_TRUE(Holds(lastRun.TrayToolTip(), "first caption"));

  int number = 0;
  for (const auto& run : runs) {
    SCOPED_TRACE(++number);
    RunReport report;
    report.outcome = run.outcome;
    report.nothingToDo = run.nothingToDo;
    report.error = run.error;
    lastRun.Ended(report, "at " + std::to_string(number), "log not written");
    const std::string caption = "caption " + std::to_string(number);
    lastRun.CaptionShown(caption);

    EXPECT_EQ(lastRun.Warns(), run.warns);
    for (const std::string& told :
         {"at " + std::to_string(number), std::string(run.error), std::string("log not written")}) {
      EXPECT_TRUE(Holds(lastRun.Summary(), told)) << told;
      EXPECT_TRUE(Holds(lastRun.TrayToolTip(), told)) << told;
    }
    EXPECT_TRUE(Holds(lastRun.TrayToolTip(), caption));
    EXPECT_FALSE(Holds(lastRun.Summary(), caption)) << "the window shows it in its caption";
  }
}

}  // namespace
}  // namespace palisor
