#pragma once

#include <atomic>
#include <stop_token>
#include <thread>

namespace palisor {

// Turns SIGINT, SIGTERM and SIGHUP into one byte each (the signal's number) on a pipe, whose
// read end it returns (-1 when no pipe could be made): a handler may do no more. Each signal
// is caught once; a second one ends the process at once. One per process, released by
// ReleaseStopSignals.
int CatchStopSignalsInPipe();
// Gives the signals back to the system and closes the pipe.
void ReleaseStopSignals();

// For a program without an event loop: the first stop signal requests a stop of `source`,
// from a thread of its own.
class StopOnSignals final {
 public:
  explicit StopOnSignals(std::stop_source source);
  ~StopOnSignals();
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

  // The signal that asked for the stop, or 0.
  int received() const { return received_; }

 private:
  std::stop_source source_;
  std::atomic<int> received_ = 0;
  std::jthread watcher_;
};

}  // namespace palisor
