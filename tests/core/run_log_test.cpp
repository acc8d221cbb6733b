#include "update/RunLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "support/TestServers.h"
#include "update/CaptionPacer.h"

namespace palisor {
namespace {

using test::ReadBytes;
using test::ScratchDir;

const StageReached kAnonymous{Stage::kDownloading, &kListSources[5]};
const StageReached kAnalysing{Stage::kAnalysing};
const StageReached kSending{Stage::kSending};

RunReport Report(Outcome outcome, std::string error, std::optional<StageReached> stage,
                 bool nothingToDo = false) {
  RunReport report;
  report.outcome = outcome;
  report.error = std::move(error);
  report.stage = stage;
  report.nothingToDo = nothingToDo;
  return report;
}

RunReport AbandonedAfterWriting(StageReached stage) {
  RunReport report = Report(Outcome::kAbandoned, "", stage);
  report.outputWritten = true;
  return report;
}

TEST(RunLog, OneLinePerRunWithOutcomeStageAndReason) {
  RunReport skipping = Report(Outcome::kOk, "", kSending);
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
      {Report(Outcome::kOk, "", kAnonymous, true),
       "T  nothing to do  stage: PROXY情報の取得中[Anonymous]  lines written: 0"},
      {Report(Outcome::kFailed, "upload failed:\r\n530 Login incorrect", kSending),
       "T  failed  stage: 送信中  reason: upload failed:  530 Login incorrect  lines written: 0"},
      {Report(Outcome::kFailed, "", kAnalysing),
       "T  failed  stage: 解析中  reason: the run failed at \"解析中\"  lines written: 0"},
      {Report(Outcome::kAbandoned, "", kAnalysing),
       "T  abandoned  stage: 解析中  reason: interrupted; the output file was left as it was"
       "  lines written: 0"},
      {AbandonedAfterWriting(kAnalysing),
       "T  abandoned  stage: 解析中  reason: interrupted after the output file was written, "
       "before any upload  lines written: 0"},
      {AbandonedAfterWriting(kSending),
       "T  abandoned  stage: 送信中  reason: interrupted while sending; the output file was "
       "written, the upload may not have finished  lines written: 0"},
      {Report(Outcome::kOk, "", std::nullopt, true),
       "T  nothing to do  stage: -  lines written: 0"},
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
  pacer.OfferStage();
  EXPECT_EQ(pacer.OfferCount(1, t0), Action::kShowNow);
  EXPECT_EQ(pacer.OfferCount(2, t0 + milliseconds(10)), Action::kHeldFirst);
  EXPECT_EQ(pacer.OfferCount(3, t0 + milliseconds(60)), Action::kHeld)
      << "one release is already arranged";
  EXPECT_EQ(pacer.due(), t0 + CaptionPacer::kInterval);
  EXPECT_EQ(pacer.Release(t0 + milliseconds(61)), 3U);
  EXPECT_EQ(pacer.Release(t0 + milliseconds(62)), std::nullopt);

  EXPECT_EQ(pacer.OfferCount(4, t0 + milliseconds(70)), Action::kHeldFirst);
  pacer.OfferStage();
  EXPECT_EQ(pacer.Release(t0 + milliseconds(111)), std::nullopt) << "the stage replaced it";
  EXPECT_EQ(pacer.OfferCount(5, t0 + milliseconds(112)), Action::kShowNow);
}

}  // namespace
}  // namespace palisor
