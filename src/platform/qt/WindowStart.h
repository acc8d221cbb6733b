#pragma once

#include <QApplication>
#include <functional>
#include <memory>
#include <optional>

#include "platform/LockFile.h"

class QLocalServer;

namespace palisor {

// What `palisor` does before its window opens: the options, the working folder, one window
// per folder and the display. When the program is to end here (help, version, a usage error,
// another window in the folder, no display), exitCode() says how; each case printed one line
// or the help first. A second start in a folder where a window runs shows that window and
// exits 0.
class WindowStart final {
 public:
  WindowStart(int argc, char** argv);
  WindowStart(const WindowStart&) = delete;
  WindowStart& operator=(const WindowStart&) = delete;
  ~WindowStart();

  std::optional<int> exitCode() const { return exitCode_; }
  // What a second start in the folder asks of this window.
  void OnSummoned(std::function<void()> show);

 private:
  std::optional<int> Prepare(int argc, char** argv);
  void OpenDisplay();
  std::optional<int> TakeWindowLock();
  void ListenForSummons();

  std::optional<int> exitCode_;
  std::optional<LockFile> windowLock_;  // held while the window runs
  int qtArgc_ = 1;
  char* qtArgv_[2] = {nullptr, nullptr};
  std::unique_ptr<QApplication> application_;
  std::unique_ptr<QLocalServer> summons_;  // where a second start in the folder knocks
};

}  // namespace palisor
