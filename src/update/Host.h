#pragma once

#include <string_view>

namespace palisor {

// The buttons an update run disables while it works.
enum class RunButton { kCommand1, kCommand3, kCommand4, kCommand5 };

// What an update run needs of the window that hosts it. The Qt main window and the
// headless command each implement it.
class Host {
 public:
  virtual ~Host() = default;

  // Replaces the whole caption (UTF-8).
  virtual void SetCaption(std::string_view caption) = 0;
  virtual void EnableButton(RunButton button, bool enabled) = 0;
  // 0 stops the countdown timer, 1000 makes it tick once a second.
  virtual void SetTimerInterval(int milliseconds) = 0;
  // Handles pending user events. Returns false once the user has ended the program, so
  // the run abandons its work.
  virtual bool ProcessEvents() = 0;
};

}  // namespace palisor
