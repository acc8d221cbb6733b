#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace palisor {

// Decides when a run's caption reaches the screen: a stage's caption at once, the running
// count of analysed lines at most once per interval, and the latest count in the end.
class CaptionPacer final {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kInterval{50};

  enum class Action {
    kShowNow,
    kHeld,       // kept in place of a count held before
    kHeldFirst,  // kept; nothing was held before, so the caller arranges a Release at due()
  };

  Action Offer(std::string_view caption, Clock::time_point now);
  // Whether a count waits for its release; a newer count then needs no time to decide.
  bool holding() const { return held_.has_value(); }
  // The held count, released to be shown now; nothing when a stage's caption replaced it.
  std::optional<std::string> Release(Clock::time_point now);
  // When a held count may be shown.
  Clock::time_point due() const { return lastShown_ + kInterval; }

 private:
  std::optional<std::string> held_;
  Clock::time_point lastShown_{};
};

}  // namespace palisor
