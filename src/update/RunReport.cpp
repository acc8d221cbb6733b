#include "update/RunReport.h"

#include "update/ListLines.h"

namespace palisor {
namespace {

constexpr std::string_view kCaptionWaiting = "待機中";
constexpr std::string_view kCaptionAnalysing = "解析中";
constexpr std::string_view kCaptionSending = "送信中";
constexpr std::size_t kSkippedShown = 3;

}  // namespace

std::string CountOfLines(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " line" : " lines");
}

std::string_view StageName(const StageReached& stage) {
  switch (stage.stage) {
    case Stage::kDownloading:
      return stage.list != nullptr ? stage.list->caption : std::string_view{};
    case Stage::kAnalysing:
      return kCaptionAnalysing;
    case Stage::kSending:
      break;
  }
  return kCaptionSending;
}

std::optional<std::string_view> ClosingCaption(const RunReport& report) {
  if (report.outcome == Outcome::kOk) {
    return kCaptionWaiting;
  }
  if (report.outcome == Outcome::kFailed && report.stage &&
      report.stage->stage == Stage::kAnalysing) {
    return kCaptionAnalysing;
  }
  return std::nullopt;
}

std::string AnalysingCaption(std::uint64_t linesWritten, std::string_view pattern) {
  std::string caption(pattern);
  if (const std::size_t at = caption.find("%1"); at != std::string::npos) {
    caption.replace(at, 2, std::to_string(linesWritten + 1));
  }
  return caption;
}

std::vector<std::string> PublishingNotes(const RunReport& report) {
  std::vector<std::string> notes;
  if (report.unchanged) {
    notes.emplace_back("unchanged: the site's file already held this file, so nothing was sent");
  }
  if (!report.keptAs.empty()) {
    notes.push_back("the site's file was kept as " + report.keptAs.string());
  }
  return notes;
}

void NoteSkippedLine(RunReport::SkippedLines& skipped, std::string_view line) {
  if (IsBlankLine(line)) {
    return;
  }
  if (++skipped.count <= kSkippedShown) {
    skipped.first.push_back(QuoteLine(line));
  }
}

std::string SkippedLinesText(const RunReport::SkippedLines& skipped) {
  std::string text = CountOfLines(skipped.count) + " skipped, not read by Apache as meant";
  const char* separator = ": ";
  for (const std::string& line : skipped.first) {
    text += separator + line;
    separator = ", ";
  }
  return text;
}

std::string DescribeSkipped(const RunReport::SkippedLines& skipped) {
  return "list " + skipped.list + ": " + SkippedLinesText(skipped);
}

}  // namespace palisor
