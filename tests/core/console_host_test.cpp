#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "update/ConsoleHost.h"

namespace palisor {
namespace {

using std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

// A console host writing into a string, on a clock the test moves by hand.
struct Console {
  explicit Console(bool terminal)
      : host([this](std::string_view text) { output += text; }, terminal,
             [this] { return stopRequested; }, [this] { return now; }) {}

  void Advance(milliseconds step) { now += step; }

  std::string output;
  bool stopRequested = false;
  TimePoint now{};
  ConsoleHost host;
};

TEST(ConsoleHost, PipeGetsOneLinePerStageAndNoProgress) {
  Console console(/*terminal=*/false);
  for (const char* caption : {"PROXY情報の取得中[Anonymous]", "解析中", "解析中(2件)",
                              "解析中(3件)", "送信中", "待機中"}) {
    console.host.SetCaption(caption);
  }
  console.host.Finish();
  EXPECT_EQ(console.output, "PROXY情報の取得中[Anonymous]\n解析中\n送信中\n待機中\n");
}

TEST(ConsoleHost, TerminalRewritesProgressInPlaceAtMostTenTimesASecond) {
  Console console(/*terminal=*/true);
  console.host.SetCaption("解析中");
  console.host.SetCaption("解析中(2件)");  // the first count shows at once
  console.Advance(milliseconds(40));
  console.host.SetCaption("解析中(3件)");  // too soon: held back
  console.Advance(milliseconds(40));
  console.host.SetCaption("解析中(4件)");  // still too soon
  EXPECT_EQ(console.output, "解析中\n\r解析中(2件)");

  console.Advance(milliseconds(30));
  console.host.SetCaption("解析中(5件)");
  console.Advance(milliseconds(10));
  console.host.SetCaption("解析中(6件)");  // held back, but must not be lost
  console.host.SetCaption("送信中");       // the line ends with the latest count first
  console.host.SetCaption("待機中");
  EXPECT_EQ(console.output, "解析中\n\r解析中(2件)\r解析中(5件)\r解析中(6件)\n送信中\n待機中\n");
}

TEST(ConsoleHost, FinishClosesAProgressLineLeftOpenByTheRun) {
  Console console(/*terminal=*/true);
  console.host.SetCaption("解析中");
  console.host.SetCaption("解析中(2件)");
  console.host.SetCaption("解析中(3件)");
  console.host.Finish();
  console.host.Finish();  // nothing left to close
  EXPECT_EQ(console.output, "解析中\n\r解析中(2件)\r解析中(3件)\n");
}

TEST(ConsoleHost, ProcessEventsTurnsFalseOnceAStopIsRequested) {
  Console console(/*terminal=*/false);
  EXPECT_TRUE(console.host.ProcessEvents());
  console.stopRequested = true;
  EXPECT_FALSE(console.host.ProcessEvents());
}

}  // namespace
}  // namespace palisor
