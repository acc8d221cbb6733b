#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

#include <QObject>

#include "settings/Settings.h"
#include "update/CaptionPacer.h"
#include "update/RunEvents.h"
#include "update/RunUpdate.h"

namespace palisor {

// An update run on a thread of its own, so the window answers throughout. What the run
// tells is passed to the window on the window's thread, the count of entries written paced;
// the window hears of the run's end once the thread is done. The run works on its own copy
// of the settings, brought up to date between stages from those the user confirmed.
// Everything but the RunEvents calls belongs to the window's thread.
class RunThread final : private RunEvents {
 public:
  using Run = std::function<RunReport(Settings& settings, RunEvents& events, std::stop_token stop,
                                      const RunOptions& options)>;

  // `window` hears what the run tells, on the window's thread.
  explicit RunThread(RunEvents& window);
  // Asks a run still going to stop and waits for it.
  ~RunThread() override;
  RunThread(const RunThread&) = delete;
  RunThread& operator=(const RunThread&) = delete;

  bool Running() const { return running_; }
  // Starts `run` on a copy of `settings`.
  void Start(const Settings& settings, Run run);
  // The settings the user has just confirmed; the run takes them at its next stage.
  void PublishSettings(const Settings& settings);
  // Asks the run to stop; it gives up within a moment.
  void Stop();

 private:
  // RunEvents, called by the run on its thread.
  void RunStarted() override;
  void StageStarted(const StageReached& stage) override;
  void LinesWritten(std::uint64_t count) override;
  void RunEnded(const RunReport& report) override;

  void TakeConfirmedSettings(Settings& settings);
  void Post(std::function<void()> call);
  void ShowHeldCount();
  void End(const RunReport& report);

  RunEvents& window_;
  QObject relay_;  // on the window's thread; calls posted to it vanish with it
  std::jthread thread_;
  bool running_ = false;
  Settings runSettings_;

  std::mutex mutex_;  // guards what follows
  CaptionPacer pacer_;
  Settings published_;
  std::uint64_t publishedGeneration_ = 0;
  std::uint64_t takenGeneration_ = 0;
};

}  // namespace palisor
