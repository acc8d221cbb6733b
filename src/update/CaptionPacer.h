#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace palisor {

// Decides when what a run tells reaches the screen: a stage at once, the running count of
// entries written at most once per interval, and the latest count in the end.
class CaptionPacer final {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kInterval{50};

  enum class Action {
    kShowNow,
    kHeld,       // kept in place of a count held before
    kHeldFirst,  // kept; nothing was held before, so the caller arranges a Release at due()
  };

  // A stage is shown at once, and replaces any count not yet shown.
  void OfferStage() { held_.reset(); }
  Action OfferCount(std::uint64_t count, Clock::time_point now);
  // Whether a count waits for its release; a newer count then needs no time to decide.
  bool holding() const { return held_.has_value(); }
  // The held count, released to be shown now; nothing when a stage replaced it.
  std::optional<std::uint64_t> Release(Clock::time_point now);
  // When a held count may be shown.
  Clock::time_point due() const { return lastShown_ + kInterval; }

 private:
  std::optional<std::uint64_t> held_;
  Clock::time_point lastShown_{};
};

}  // namespace palisor
