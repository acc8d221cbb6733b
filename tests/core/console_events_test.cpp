#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "update/ConsoleEvents.h"

namespace palisor {
namespace {

using std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

const ListSource& kAnonymous = kListSources[5];

// What palisor-update writes of a run, into a string, on a clock the test moves by hand.
struct Console {
  explicit Console(bool terminal)
      : events([this](std::string_view text) { output += text; }, terminal, {},
               [this] { return now; }) {}

  void Advance(milliseconds step) { now += step; }
  void Ended(Outcome outcome, Stage stage) {
    RunReport report;
    report.outcome = outcome;
    report.stage = StageReached{stage};
    events.RunEnded(report);
  }

  std::string output;
  TimePoint now{};
  ConsoleEvents events;
};

TEST(ConsoleEvents, PipeGetsOneLinePerStageAndNoCount) {
  Console console(/*terminal=*/false);
  console.events.StageStarted({Stage::kDownloading, &kAnonymous});
  console.events.StageStarted({Stage::kAnalysing});
  console.events.LinesWritten(1);
  console.events.StageStarted({Stage::kSending});
  console.Ended(Outcome::kOk, Stage::kSending);
  EXPECT_EQ(console.output, "PROXY情報の取得中[Anonymous]\n解析中\n送信中\n待機中\n");
}

TEST(ConsoleEvents, TerminalRewritesTheCountInPlaceAtMostTenTimesASecond) {
  Console console(/*terminal=*/true);
  console.events.StageStarted({Stage::kAnalysing});
  console.events.LinesWritten(1);  // the first count shows at once
  console.Advance(milliseconds(40));
  console.events.LinesWritten(2);  // too soon: held back
  console.Advance(milliseconds(40));
  console.events.LinesWritten(3);  // still too soon
  EXPECT_EQ(console.output, "解析中\n\r解析中(2件)");

  console.Advance(milliseconds(30));
  console.events.LinesWritten(4);
  console.Advance(milliseconds(10));
  console.events.LinesWritten(5);                  // held back, but must not be lost
  console.events.StageStarted({Stage::kSending});  // the line ends with the latest count
  console.Ended(Outcome::kOk, Stage::kSending);
  EXPECT_EQ(console.output, "解析中\n\r解析中(2件)\r解析中(5件)\r解析中(6件)\n送信中\n待機中\n");
}

TEST(ConsoleEvents, AFailureWhileWritingEndsOnTheStageAndAnyOtherOnTheCountLeftOpen) {
  Console failed(/*terminal=*/true);
  failed.events.StageStarted({Stage::kAnalysing});
  failed.events.LinesWritten(1);
  failed.events.LinesWritten(2);
  failed.Ended(Outcome::kFailed, Stage::kAnalysing);
  EXPECT_EQ(failed.output, "解析中\n\r解析中(2件)\r解析中(3件)\n解析中\n");

  Console abandoned(/*terminal=*/true);
  abandoned.events.StageStarted({Stage::kAnalysing});
  abandoned.events.LinesWritten(1);
  abandoned.events.LinesWritten(2);
  abandoned.Ended(Outcome::kAbandoned, Stage::kAnalysing);
  EXPECT_EQ(abandoned.output, "解析中\n\r解析中(2件)\r解析中(3件)\n");
}

}  // namespace
}  // namespace palisor
