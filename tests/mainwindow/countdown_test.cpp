#include "mainwindow/Countdown.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace palisor {
namespace {

// A window whose timer ticks only when the test says so, and whose update run does what
// every run does at its end: the count back to TMINT, the timer running, "待機中" left.
class TickedWindow final : public CountdownWindow {
 public:
  int TimerInterval() const override { return interval; }
  void SetTimerInterval(int milliseconds) override { interval = milliseconds; }
  void SetCaption(std::string_view text) override { caption = text; }
  void RunUpdateNow() override {
    ++runs;
    intervalDuringRun = interval;
    caption = "待機中";
    countdown->Restart(tmint);
    if (restartsTimer) {
      interval = kTimerTicking;
    }
  }

  int interval = kTimerTicking;
  std::string caption = "Palisor";
  int runs = 0;
  int intervalDuringRun = -1;
  bool restartsTimer = true;
  std::int32_t tmint = 0;
  Countdown* countdown = nullptr;
};

class CountdownTest : public ::testing::Test {
 protected:
  void SetUpState(std::int32_t tmint) {
    window.tmint = tmint;
    window.countdown = &countdown;
    countdown.Restart(tmint);
  }
  // Timer1 delivers a tick only while its interval is not 0.
  void Ticks(int count) {
    for (int i = 0; i < count; ++i) {
      if (window.interval != kTimerStopped) {
        countdown.Tick();
      }
    }
  }

  TickedWindow window;
  Countdown countdown{window};
};

TEST_F(CountdownTest, FirstTickReplacesTheProductNameWithTheCount) {
  SetUpState(3600);
  EXPECT_EQ(window.caption, "Palisor");
  Ticks(1);
  EXPECT_EQ(countdown.secondsLeft(), 3599);
  EXPECT_EQ(window.caption, "待機中(3599秒)");
  EXPECT_EQ(window.runs, 0);
}

TEST_F(CountdownTest, ShortestIntervalRunsOnItsSixtiethTickAndShowsTheFullIntervalAtOnce) {
  SetUpState(60);
  std::vector<std::string> captions;
  for (int tick = 1; tick <= 59; ++tick) {
    Ticks(1);
    captions.push_back(window.caption);
  }
  EXPECT_EQ(captions.front(), "待機中(59秒)");
  EXPECT_EQ(captions.back(), "待機中(1秒)");
  EXPECT_EQ(window.runs, 0);

  Ticks(1);
  EXPECT_EQ(window.runs, 1);
  EXPECT_EQ(window.intervalDuringRun, kTimerStopped) << "the tick stops the timer before the run";
  EXPECT_EQ(window.caption, "待機中(60秒)");
  EXPECT_EQ(window.interval, kTimerTicking);

  Ticks(59);
  EXPECT_EQ(window.runs, 1);
  Ticks(1);
  EXPECT_EQ(window.runs, 2) << "the next run comes TMINT ticks after the previous one ended";
}

TEST_F(CountdownTest, StopKeepsTheCountAndStartResumesFromIt) {
  SetUpState(3600);
  Ticks(3600 - 1234);
  ASSERT_EQ(countdown.secondsLeft(), 1234);

  countdown.Stop();
  EXPECT_EQ(window.interval, kTimerStopped);
  EXPECT_EQ(window.caption, "停止中");
  Ticks(100);  // time passes; no tick arrives
  EXPECT_EQ(countdown.secondsLeft(), 1234);

  countdown.Stop();  // stopping again only writes the caption again
  EXPECT_EQ(window.caption, "停止中");

  countdown.Start();
  EXPECT_EQ(window.interval, kTimerTicking);
  EXPECT_EQ(window.caption, "停止中") << "the next tick shows the count, not the start";
  EXPECT_EQ(countdown.secondsLeft(), 1234);
  Ticks(1);
  EXPECT_EQ(window.caption, "待機中(1233秒)");
}

TEST_F(CountdownTest, StartWhileCountingChangesNothing) {
  SetUpState(3600);
  Ticks(5);
  countdown.Start();
  EXPECT_EQ(window.interval, kTimerTicking);
  EXPECT_EQ(countdown.secondsLeft(), 3595);
  EXPECT_EQ(window.caption, "待機中(3595秒)");
}

TEST_F(CountdownTest, CountAlreadySpentRunsAtTheNextTick) {
  // A count at 0 or below (the settings dialog's OK can set any TMINT) still means "now".
  SetUpState(3600);
  countdown.Restart(0);
  Ticks(1);
  EXPECT_EQ(window.runs, 1);
  EXPECT_EQ(window.caption, "待機中(3600秒)");
}

TEST_F(CountdownTest, RunThatLeavesTheTimerStoppedKeepsItsCaption) {
  SetUpState(60);
  window.restartsTimer = false;
  countdown.Restart(1);
  Ticks(1);
  EXPECT_EQ(window.runs, 1);
  EXPECT_EQ(window.caption, "待機中");
}

}  // namespace
}  // namespace palisor
