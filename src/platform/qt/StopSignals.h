#pragma once

#include <functional>

#include <QObject>
#include <QSocketNotifier>

namespace palisor {

// SIGINT, SIGTERM and SIGHUP (a logout, `kill`, a service manager) delivered to the event
// loop as a call of `stop`, so the window ends as "終了" ends it: a run in progress is
// abandoned cleanly and logged. A second signal ends the process at once. One per process.
class StopSignals final : public QObject {
 public:
  explicit StopSignals(std::function<void()> stop);
  ~StopSignals() override;
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The signal that asked the program to stop, or 0.
  int received() const { return received_; }

 private:
  void Deliver();

  std::function<void()> stop_;
  int fd_ = -1;  // the read end of the signals' pipe
  QSocketNotifier* notifier_ = nullptr;
  int received_ = 0;
};

}  // namespace palisor
