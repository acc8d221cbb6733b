#include "update/CaptionPacer.h"

#include <utility>

#include "update/ConsoleHost.h"

namespace palisor {

CaptionPacer::Action CaptionPacer::Offer(std::string_view caption, Clock::time_point now) {
  if (!IsProgressCaption(caption)) {
    held_.reset();  // a stage's caption replaces any count not yet shown
    return Action::kShowNow;
  }
  if (!held_ && now >= due()) {
    lastShown_ = now;
    return Action::kShowNow;
  }
  if (held_) {
    held_->assign(caption);  // in place: this happens for nearly every line
    return Action::kHeld;
  }
  held_.emplace(caption);
  return Action::kHeldFirst;
}

std::optional<std::string> CaptionPacer::Release(Clock::time_point now) {
  if (!held_) {
    return std::nullopt;
  }
  lastShown_ = now;
  return std::exchange(held_, std::nullopt);
}

}  // namespace palisor
