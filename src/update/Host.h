#pragma once

#include <string_view>

#include "settings/Settings.h"

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
  // Whether the run may go on: false once the user has ended the program, so the run
  // abandons its work. Called often, also from inside transfers, so it only looks.
  virtual bool ProcessEvents() = 0;
  // Brings the run's copy of the settings up to what the user confirmed since it was taken.
  // The run calls it before each of its stages; a host without a settings dialog keeps them.
  virtual void RefreshSettings(Settings& /*settings*/) {}
};

}  // namespace palisor
