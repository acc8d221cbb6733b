#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "update/RunEvents.h"
#include "update/RunLog.h"

namespace palisor::test {

// Records what an update run tells, one entry per event ("started", a stage's name,
// "lines n", "ended <outcome>"), and can play the user ending the program at any of them.
class RecordingEvents final : public RunEvents {
 public:
  void RunStarted() override { Record("started"); }
  void StageStarted(const StageReached& stage) override { Record(std::string(StageName(stage))); }
  void LinesWritten(std::uint64_t count) override {
    lines = count;
    Record("lines " + std::to_string(count));
  }
  void RunEnded(const RunReport& report) override {
    Record("ended " + std::string(OutcomeName(report)));
  }

  std::stop_token token() const { return stop.get_token(); }
  // Plays the user ending the program as the run tells `what`.
  void StopAt(std::string what) { stopAt = std::move(what); }
  // ... or once `delay` has passed.
  void StopAfter(std::chrono::milliseconds delay) {
    stopper = std::jthread([source = stop, delay](std::stop_token cancelled) mutable {
      std::mutex mutex;
      std::condition_variable_any wake;
      std::unique_lock lock(mutex);
      wake.wait_for(lock, cancelled, delay, [] { return false; });
      if (!cancelled.stop_requested()) {
        source.request_stop();
      }
    });
  }
  bool Saw(const std::string& what) const {
    return std::find(log.begin(), log.end(), what) != log.end();
  }

  std::vector<std::string> log;
  bool keepLog = true;
  std::uint64_t lines = 0;  // the last count told
  std::stop_source stop;
  std::string stopAt;
  std::function<void(const std::string& what)> onEvent;  // what the user does meanwhile
  std::jthread stopper;

 private:
  void Record(std::string what) {
    if (onEvent) {
      onEvent(what);
    }
    if (what == stopAt) {
      stop.request_stop();
    }
    if (keepLog) {
      log.push_back(std::move(what));
    }
  }
};

}  // namespace palisor::test
