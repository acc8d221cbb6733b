#include "update/CaptionPacer.h"

#include <utility>

namespace palisor {

CaptionPacer::Action CaptionPacer::OfferCount(std::uint64_t count, Clock::time_point now) {
  if (!held_ && now >= due()) {
    lastShown_ = now;
    return Action::kShowNow;
  }
  const bool first = !held_;
  held_ = count;
  return first ? Action::kHeldFirst : Action::kHeld;
}

std::optional<std::uint64_t> CaptionPacer::Release(Clock::time_point now) {
  if (!held_) {
    return std::nullopt;
  }
  lastShown_ = now;
  return std::exchange(held_, std::nullopt);
}

}  // namespace palisor
