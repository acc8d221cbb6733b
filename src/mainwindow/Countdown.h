#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace palisor {

// Timer1's only two intervals: whether the countdown runs is read from the timer itself.
inline constexpr int kTimerStopped = 0;
inline constexpr int kTimerTicking = 1000;

// What the countdown needs of the main window.
class CountdownWindow {
 public:
  virtual ~CountdownWindow() = default;

  virtual int TimerInterval() const = 0;
  virtual void SetTimerInterval(int milliseconds) = 0;
  virtual void SetCaption(std::string_view caption) = 0;
  // Performs a whole update run and returns when it is over.
  virtual void RunUpdateNow() = 0;
};

// The one-second countdown to the next automatic update run. It counts ticks, not wall time.
class Countdown final {
 public:
  explicit Countdown(CountdownWindow& window) : window_(window) {}
  Countdown(const Countdown&) = delete;
  Countdown& operator=(const Countdown&) = delete;

  // One tick of Timer1: count down, run the update at 0, show the count while counting.
  void Tick();
  // "開始": resumes from the count it had; the next tick shows it.
  void Start();
  // "停止": keeps the count and says so in the caption.
  void Stop();
  // Counts from `seconds` again: at the start, after a run and after the settings' OK.
  void Restart(std::int32_t seconds) { secondsLeft_ = seconds; }
  std::int32_t secondsLeft() const { return secondsLeft_; }

 private:
  CountdownWindow& window_;
  std::int32_t secondsLeft_ = 0;
};

}  // namespace palisor
