#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "update/Host.h"

namespace palisor::test {

// Records what an update run tells its window, and can play the user ending the program.
class RecordingHost final : public Host {
 public:
  void SetCaption(std::string_view caption) override {
    lastCaption = caption;
    Record(lastCaption);
  }
  void EnableButton(RunButton button, bool enabled) override {
    static const char* const kNames[] = {"Command1", "Command3", "Command4", "Command5"};
    buttonEnabled[static_cast<std::size_t>(button)] = enabled;
    Record(std::string(enabled ? "enable " : "disable ") + kNames[static_cast<int>(button)]);
  }
  void SetTimerInterval(int milliseconds) override {
    timerInterval = milliseconds;
    Record("timer " + std::to_string(milliseconds));
  }
  bool ProcessEvents() override {
    Record("events");
    if (onEvents) {
      onEvents();
    }
    return ++eventCalls != endProgramAt;
  }

  // The four buttons enabled and the timer ticking once a second, as after every run.
  bool Idle() const {
    for (const bool enabled : buttonEnabled) {
      if (!enabled) {
        return false;
      }
    }
    return timerInterval == 1000;
  }
  // Plays the user ending the program at the first events processed once `delay` has passed.
  void EndProgramAfter(std::chrono::milliseconds delay) {
    const auto when = std::chrono::steady_clock::now() + delay;
    onEvents = [this, when] {
      if (std::chrono::steady_clock::now() >= when) {
        endProgramAt = eventCalls + 1;
      }
    };
  }
  // Shows the window as in the middle of a run, so that a run that forgets to give any of
  // it back is seen.
  void PretendBusy() {
    buttonEnabled.fill(false);
    timerInterval = 0;
  }

  std::vector<std::string> log;
  std::array<bool, 4> buttonEnabled{true, true, true, true};  // kept with or without the log
  bool keepLog = true;
  std::string lastCaption;
  int timerInterval = -1;
  int eventCalls = 0;
  int endProgramAt = 0;            // the call of ProcessEvents on which the user ends the program
  std::function<void()> onEvents;  // what the user does while events are processed

 private:
  void Record(const std::string& what) {
    if (keepLog) {
      log.push_back(what);
    }
  }
};

}  // namespace palisor::test
