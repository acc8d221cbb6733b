#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <QWidget>

#include "mainwindow/Countdown.h"
#include "mainwindow/LastRun.h"
#include "mainwindow/RunThread.h"
#include "mainwindow/TrayDock.h"
#include "platform/qt/Tray.h"
#include "settings/Settings.h"
#include "update/RunEvents.h"

class QPushButton;
class QTimer;

namespace palisor {

// The program's window: one row of six buttons, the caption as its status line, the
// countdown timer and the way to the notification area.
class Form1 final : public QWidget, public CountdownWindow, private RunEvents, private TrayWindow {
  Q_OBJECT

 public:
  // One whole update run hosted by this window (the program passes RunUpdate). It runs on
  // a thread of its own and reaches the window only through the events it tells.
  using UpdateRun = RunThread::Run;

  // Prepares the tray, loads the settings and starts the countdown; the caller shows the
  // window. Without `tray` the desktop's own notification area is used.
  Form1(Module1& state, UpdateRun run, std::unique_ptr<Tray> tray = {});
  ~Form1() override;
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // The countdown's view of the window.
  void SetCaption(std::string_view caption) override;
  void SetTimerInterval(int milliseconds) override;
  int TimerInterval() const override;
  // Starts a run unless one is going; returns at once.
  void RunUpdateNow() override;
  bool RunInProgress() const { return runThread_.Running(); }
  Countdown& countdown() { return countdown_; }
  // A second start in the folder found this window: shown and raised, out of the tray.
  void ShowAgain() { dock_.Restore(); }
  // At the first start in a folder there is no settings file yet: the settings come first.
  void OpenSettingsWhenNoFile();

 protected:
  void changeEvent(QEvent* event) override;
  // The window manager's close ends the program as "終了" does.
  void closeEvent(QCloseEvent* event) override;

 private:
  void HideWindow() override;
  void ShowWindowNormal() override;

  // What a run tells, on the window's thread: the caption, the four buttons a run locks and
  // the countdown follow it.
  void RunStarted() override;
  void StageStarted(const StageReached& stage) override;
  void LinesWritten(std::uint64_t count) override;
  // Also shows the run's outcome in the tooltips, and a failure from the tray.
  void RunEnded(const RunReport& report) override;
  void EnableRunButtons(bool enabled);

  void BuildControls();
  // Places the next button of the row by its layout, wider where its caption needs it, which
  // moves the buttons after it to the right.
  QPushButton* AddButton(const char* name, int leftTwips, int widthTwips, const QString& caption,
                         const QString& toolTip);
  void ConnectControls();
  void OpenSettings();
  // After an upload refused for lines of the site owner's own: asks whether to keep them or
  // replace the whole file, saves the answer as OTHERLINES and runs again.
  void AskAboutOwnerLines(std::size_t lines, const std::string& reason);
  // Ends the program at once; a run in progress is asked to stop and gives up within a
  // moment, leaving the output file and the site as they were or wholly replaced.
  void EndProgram();

  Module1& state_;
  UpdateRun run_;
  std::unique_ptr<Tray> tray_;
  Countdown countdown_;
  TrayDock dock_;
  bool ending_ = false;
  std::string logError_;  // why the last run's line is not in the log
  LastRun lastRun_;
  RunThread runThread_;

  QPushButton* command1_ = nullptr;
  QPushButton* command2_ = nullptr;
  QPushButton* command3_ = nullptr;
  QPushButton* command4_ = nullptr;
  QPushButton* command5_ = nullptr;
  QPushButton* command6_ = nullptr;
  QTimer* timer1_ = nullptr;
  QTimer* trayWatch_ = nullptr;
  // What the row of buttons grew by, left to right, so that no caption is cut.
  int rowGrowth_ = 0;
  // Each button with its own tooltip: the buttons cover the whole window, so the last run's
  // summary is added under each of them to be seen wherever the pointer rests.
  std::vector<std::pair<QPushButton*, QString>> buttonToolTips_;
};

}  // namespace palisor
