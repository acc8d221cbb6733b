#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "update/Host.h"

namespace palisor {

// The host of a headless update run: every caption becomes one line of output. On a
// terminal the per-line progress "解析中(n件)" is rewritten in place a few times a second; in
// a pipe or a file it is left out, so a scheduled job's log holds the stages only.
class ConsoleHost final : public Host {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  using Write = std::function<void(std::string_view)>;
  using StopRequested = std::function<bool()>;

  // How often at most the progress line is rewritten.
  static constexpr std::chrono::milliseconds kProgressInterval{100};

  ConsoleHost(Write write, bool terminal, StopRequested stopRequested,
              Clock clock = std::chrono::steady_clock::now);
  ConsoleHost(const ConsoleHost&) = delete;
  ConsoleHost& operator=(const ConsoleHost&) = delete;

  void SetCaption(std::string_view caption) override;
  // There are no buttons and no countdown without a window.
  void EnableButton(RunButton, bool) override {}
  void SetTimerInterval(int) override {}
  // False once a stop was requested (a signal), so the run is abandoned cleanly.
  bool ProcessEvents() override;

  // Ends a progress line left open, showing its latest count.
  void Finish();

 private:
  void ShowProgress(std::string_view caption);

  Write write_;
  bool terminal_;
  StopRequested stopRequested_;
  Clock clock_;
  bool progressLineOpen_ = false;
  bool progressPending_ = false;  // latestProgress_ is newer than the count on screen
  std::string latestProgress_;
  std::chrono::steady_clock::time_point progressShownAt_;
};

// True for the per-line progress caption "解析中(n件)".
bool IsProgressCaption(std::string_view caption);

}  // namespace palisor
