#include "update/RunLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/TestServers.h"
#include "update/CaptionPacer.h"

namespace palisor {
namespace {

using test::ReadBytes;
using test::ScratchDir;

RunReport Report(Outcome outcome, std::string error, std::string stage, bool nothingToDo = false) {
  RunReport report;
  report.outcome = outcome;
  report.error = std::move(error);
  report.stage = std::move(stage);
  report.nothingToDo = nothingToDo;
  return report;
}

RunReport AbandonedAfterWriting(std::string stage) {
  RunReport report = Report(Outcome::kAbandoned, "", std::move(stage));
  report.outputWritten = true;
  return report;
}

TEST(RunLog, OneLinePerRunWithOutcomeStageAndReason) {
  RunReport skipping = Report(Outcome::kOk, "", "送信中");
  skipping.linesWritten = 12;
  skipping.skipped.push_back({"the Anonymous list (http://a/b)", 3, {"x"}});
  skipping.warnings.push_back("the password went\nunencrypted");
  const struct {
    RunReport report;
    const char* line;
  } rows[] = {
      {skipping,
       "T  ok  stage: 送信中  lines written: 12  skipped from the Anonymous list (http://a/b): 3"
       "  warning: the password went unencrypted"},
      {Report(Outcome::kOk, "", "PROXY情報の取得中[Anonymous]", true),
       "T  nothing to do  stage: PROXY情報の取得中[Anonymous]  lines written: 0"},
      {Report(Outcome::kFailed, "upload failed:\r\n530 Login incorrect", "送信中"),
       "T  failed  stage: 送信中  reason: upload failed:  530 Login incorrect  lines written: 0"},
      {Report(Outcome::kFailed, "", "解析中"),
       "T  failed  stage: 解析中  reason: the run failed at \"解析中\"  lines written: 0"},
      {Report(Outcome::kAbandoned, "", "解析中"),
       "T  abandoned  stage: 解析中  reason: interrupted; the output file was left as it was"
       "  lines written: 0"},
      {AbandonedAfterWriting("解析中"),
       "T  abandoned  stage: 解析中  reason: interrupted after the output file was written, "
       "before any upload  lines written: 0"},
      {AbandonedAfterWriting("送信中"),
       "T  abandoned  stage: 送信中  reason: interrupted while sending; the output file was "
       "written, the upload may not have finished  lines written: 0"},
      {Report(Outcome::kOk, "", "", true), "T  nothing to do  stage: -  lines written: 0"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(RunLogLine(row.report, "T"), row.line);
  }
}

TEST(RunLog, PastTheLimitTheOldestHalfIsDroppedAtALineEnd) {
  ScratchDir dir;
  const auto log = dir / "palisor.log";
  constexpr std::uintmax_t kLimit = 1000;
  std::string last;
  for (int run = 0; run < 200; ++run) {
    last = "run " + std::to_string(run) + std::string(run % 7 * 5, '.');
    ASSERT_EQ(AppendRunLog(log, last, kLimit), "");
    ASSERT_LE(std::filesystem::file_size(log), kLimit);
  }
  const std::string text = ReadBytes(log);
  EXPECT_GT(text.size(), kLimit / 3) << "only the older half goes";
  EXPECT_TRUE(text.starts_with("run ")) << "no line is cut in the middle";
  EXPECT_TRUE(text.ends_with(last + "\n"));
}

TEST(RunLog, AFolderThatCannotTakeTheLogSaysWhy) {
  ScratchDir dir;
  const std::string why = AppendRunLog(dir / "missing" / "palisor.log", "line");
  EXPECT_NE(why.find("missing/palisor.log"), std::string::npos) << why;
}

// A run of counts offered faster than the interval: the first shows, then at most one per
// interval, and the latest is always released in the end unless a stage replaced it.
TEST(CaptionPacer, CountsAtMostOncePerIntervalAndTheLatestNeverLost) {
  using Action = CaptionPacer::Action;
  using std::chrono::milliseconds;
  const CaptionPacer::Clock::time_point t0{std::chrono::hours(1)};
  CaptionPacer pacer;
  EXPECT_EQ(pacer.Offer("解析中", t0), Action::kShowNow);
  EXPECT_EQ(pacer.Offer("解析中(1件)", t0), Action::kShowNow);
  EXPECT_EQ(pacer.Offer("解析中(2件)", t0 + milliseconds(10)), Action::kHeldFirst);
  EXPECT_EQ(pacer.Offer("解析中(3件)", t0 + milliseconds(60)), Action::kHeld)
      << "one release is already arranged";
  EXPECT_EQ(pacer.due(), t0 + CaptionPacer::kInterval);
  EXPECT_EQ(pacer.Release(t0 + milliseconds(61)), "解析中(3件)");
  EXPECT_EQ(pacer.Release(t0 + milliseconds(62)), std::nullopt);

  EXPECT_EQ(pacer.Offer("解析中(4件)", t0 + milliseconds(70)), Action::kHeldFirst);
  EXPECT_EQ(pacer.Offer("送信中", t0 + milliseconds(71)), Action::kShowNow);
  EXPECT_EQ(pacer.Release(t0 + milliseconds(111)), std::nullopt) << "the stage replaced it";
  EXPECT_EQ(pacer.Offer("解析中(5件)", t0 + milliseconds(112)), Action::kShowNow);
}

}  // namespace
}  // namespace palisor
