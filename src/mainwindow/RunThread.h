#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include <QObject>
#include <QTimer>

#include "settings/Settings.h"
#include "update/CaptionPacer.h"
#include "update/Host.h"
#include "update/RunUpdate.h"

namespace palisor {

// An update run on a thread of its own, so the window answers throughout. The run's calls
// of its Host are passed to the window on the window's thread; the run works on its own
// copy of the settings, brought up to date between stages from those the user confirmed.
// Everything but the Host calls belongs to the window's thread.
class RunThread final : public Host {
 public:
  using Run = std::function<RunReport(Module1& state, Host& host)>;
  using Finished = std::function<void(const RunReport& report)>;

  // `window` draws what the run shows; `finished` hears of each run's end.
  RunThread(Host& window, Finished finished);
  // Asks a run still going to stop and waits for it.
  ~RunThread() override;
  RunThread(const RunThread&) = delete;
  RunThread& operator=(const RunThread&) = delete;

  bool Running() const { return running_; }
  // Starts `run` on a copy of `state`.
  void Start(const Module1& state, Run run);
  // The settings the user has just confirmed; the run takes them at its next stage.
  void PublishSettings(const Settings& settings);
  // Asks the run to stop. A run waiting inside a transfer is woken until it has seen it.
  void Stop();

  // Host, called by the run on its thread.
  void SetCaption(std::string_view caption) override;
  void EnableButton(RunButton button, bool enabled) override;
  void SetTimerInterval(int milliseconds) override;
  bool ProcessEvents() override { return !stopping_; }
  void RefreshSettings(Settings& settings) override;

 private:
  void Post(std::function<void()> call);
  void ShowHeldCaption();
  void End(const RunReport& report);
  // Interrupts the system call the run's thread may be waiting in, so it looks again.
  void Wake();

  Host& window_;
  Finished finished_;
  QObject relay_;  // on the window's thread; calls posted to it vanish with it
  std::thread thread_;
  bool running_ = false;
  std::atomic<bool> stopping_ = false;
  std::atomic<bool> returned_ = false;  // the run's function has returned
  QTimer waker_;                        // wakes the run again while it stops
  Module1 runState_;

  std::mutex mutex_;  // guards what follows
  CaptionPacer pacer_;
  Settings published_;
  std::uint64_t publishedGeneration_ = 0;
  std::uint64_t takenGeneration_ = 0;
};

}  // namespace palisor
