#pragma once

#include <string>

namespace palisor {

enum class Outcome {
  kOk,
  kFailed,     // the stage failed; the run ends early
  kAbandoned,  // the user ended the program; the run unwinds without touching the output
};

struct StageResult {
  Outcome outcome = Outcome::kOk;
  std::string error;  // for a failure: what failed and why

  static StageResult Ok() { return {}; }
  static StageResult Failed(std::string why) { return {Outcome::kFailed, std::move(why)}; }
  static StageResult Abandoned() { return {Outcome::kAbandoned, {}}; }
  bool ok() const { return outcome == Outcome::kOk; }
};

}  // namespace palisor
