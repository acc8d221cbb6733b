#include "update/ConsoleHost.h"

#include <utility>

namespace palisor {

namespace {
constexpr std::string_view kProgressPrefix = "解析中(";
}  // namespace

bool IsProgressCaption(std::string_view caption) {
  return caption.starts_with(kProgressPrefix);
}

ConsoleHost::ConsoleHost(Write write, bool terminal, StopRequested stopRequested, Clock clock)
    : write_(std::move(write)),
      terminal_(terminal),
      stopRequested_(std::move(stopRequested)),
      clock_(std::move(clock)) {}

void ConsoleHost::SetCaption(std::string_view caption) {
  if (IsProgressCaption(caption)) {
    ShowProgress(caption);
    return;
  }
  Finish();
  std::string line(caption);
  line += '\n';
  write_(line);
}

bool ConsoleHost::ProcessEvents() {
  return !stopRequested_();
}

void ConsoleHost::Finish() {
  if (progressPending_) {
    write_("\r" + latestProgress_);
    progressLineOpen_ = true;
  }
  if (progressLineOpen_) {
    write_("\n");
  }
  progressLineOpen_ = false;
  progressPending_ = false;
}

void ConsoleHost::ShowProgress(std::string_view caption) {
  if (!terminal_) {
    return;
  }
  // Counts only grow, so each rewrite covers the previous one completely.
  latestProgress_.assign(caption);
  const auto now = clock_();
  if (progressLineOpen_ && now - progressShownAt_ < kProgressInterval) {
    progressPending_ = true;
    return;
  }
  std::string text = "\r";
  text += caption;
  write_(text);
  progressLineOpen_ = true;
  progressPending_ = false;
  progressShownAt_ = now;
}

}  // namespace palisor
