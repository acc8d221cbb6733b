#pragma once

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

  std::vector<std::string> log;
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
