#pragma once

#include <string>
#include <utility>
#include <variant>

namespace palisor {

// How a stage or a transfer ended.
enum class Outcome {
  kOk,
  kFailed,     // it failed; `error` says what failed and why
  kAbandoned,  // the user ended the program; the work unwinds without touching the output
};

// The end of a stage or a transfer, and its value when it has one and worked.
template <typename Value = std::monostate>
struct Result {
  Outcome outcome = Outcome::kOk;
  std::string error;  // for a failure: what failed and why
  Value value{};

  static Result Ok(Value value = {}) { return {Outcome::kOk, {}, std::move(value)}; }
  static Result Failed(std::string why) { return {Outcome::kFailed, std::move(why), {}}; }
  static Result Abandoned() { return {Outcome::kAbandoned, {}, {}}; }
  bool ok() const { return outcome == Outcome::kOk; }

  // The same end without a value of this kind: a failure or an abandon handed on.
  template <typename Other = std::monostate>
  Result<Other> Without() const {
    return {outcome, error, {}};
  }
};

}  // namespace palisor
