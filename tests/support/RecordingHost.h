#pragma once

// A host for whole update runs in tests: it keeps what the window would show (the caption,
// the buttons, the timer) and counts, without storing, the captions a long run sets.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "update/Host.h"

namespace palisor::test {

class RecordingHost final : public Host {
 public:
  void SetCaption(std::string_view caption) override {
    caption_ = caption;
    ++captionsSet_;
  }
  void EnableButton(RunButton button, bool enabled) override {
    enabled_[static_cast<std::size_t>(button)] = enabled;
  }
  void SetTimerInterval(int milliseconds) override { timerInterval_ = milliseconds; }
  bool ProcessEvents() override {
    ++eventPasses_;
    return true;
  }

  // Shows a window in the middle of a run (buttons disabled, timer stopped), so that a run
  // that forgets to restore any of them is seen.
  void PretendBusy() {
    enabled_.fill(false);
    timerInterval_ = 0;
  }
  // The four buttons enabled and the timer ticking once a second, as after every run.
  bool Idle() const {
    for (const bool enabled : enabled_) {
      if (!enabled) {
        return false;
      }
    }
    return timerInterval_ == 1000;
  }

  const std::string& caption() const { return caption_; }
  std::size_t captionsSet() const { return captionsSet_; }
  std::size_t eventPasses() const { return eventPasses_; }

 private:
  std::string caption_;
  std::size_t captionsSet_ = 0;
  std::size_t eventPasses_ = 0;
  std::array<bool, 4> enabled_{true, true, true, true};
  int timerInterval_ = 1000;
};

}  // namespace palisor::test
