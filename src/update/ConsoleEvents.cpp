#include "update/ConsoleEvents.h"

#include <utility>

namespace palisor {

ConsoleEvents::ConsoleEvents(Write write, bool terminal, CaptionWording wording, Clock clock)
    : write_(std::move(write)),
      terminal_(terminal),
      wording_(std::move(wording)),
      clock_(std::move(clock)) {}

void ConsoleEvents::StageStarted(const StageReached& stage) {
  ShowLine(wording_.fixed(StageName(stage)));
}

void ConsoleEvents::RunEnded(const RunReport& report) {
  for (const std::string& note : PublishingNotes(report)) {
    ShowLine(note);
  }
  if (const auto caption = ClosingCaption(report)) {
    ShowLine(wording_.fixed(*caption));
  } else {
    FinishCount();
  }
}

void ConsoleEvents::ShowLine(std::string_view text) {
  FinishCount();
  std::string line(text);
  line += '\n';
  write_(line);
}

void ConsoleEvents::FinishCount() {
  if (countPending_) {
    write_("\r" + AnalysingCaption(latestCount_, wording_.analysing));
    countOpen_ = true;
  }
  if (countOpen_) {
    write_("\n");
  }
  countOpen_ = false;
  countPending_ = false;
}

void ConsoleEvents::LinesWritten(std::uint64_t count) {
  if (!terminal_) {
    return;
  }
  // Counts only grow, so each rewrite covers the previous one completely.
  latestCount_ = count;
  const auto now = clock_();
  if (countOpen_ && now - countShownAt_ < kProgressInterval) {
    countPending_ = true;
    return;
  }
  write_("\r" + AnalysingCaption(count, wording_.analysing));
  countOpen_ = true;
  countPending_ = false;
  countShownAt_ = now;
}

}  // namespace palisor
