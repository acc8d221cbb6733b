#pragma once

#include <cstdint>

#include "update/RunReport.h"

namespace palisor {

// What an update run tells the program hosting it, as it happens, on the run's own thread.
// Each program decides what to show of it: the window its caption, buttons and countdown,
// palisor-update its lines.
class RunEvents {
 public:
  virtual ~RunEvents() = default;

  virtual void RunStarted() = 0;
  virtual void StageStarted(const StageReached& stage) = 0;
  // After each entry written to the access file, with the count so far.
  virtual void LinesWritten(std::uint64_t count) = 0;
  virtual void RunEnded(const RunReport& report) = 0;
};

}  // namespace palisor
