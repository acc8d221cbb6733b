#include "mainwindow/LastRun.h"

#include "update/RunLog.h"

namespace palisor {
namespace {

// The run's time and outcome, why it failed, what the upload did, the warnings and the skipped
// list lines.
std::string Account(const RunReport& report, std::string_view time, std::string_view logError) {
  std::string text = std::string(time) + ": " + std::string(OutcomeName(report));
  if (const std::string reason = RunReason(report); !reason.empty()) {
    text += "\n" + reason;
  }
  for (const std::string& note : PublishingNotes(report)) {
    text += "\n" + note;
  }
  for (const std::string& warning : report.warnings) {
    text += "\n" + warning;
  }
  for (const auto& skipped : report.skipped) {
    text += "\n" + DescribeSkipped(skipped);
  }
  if (!logError.empty()) {
    text += "\n" + std::string(kRunLogFile) + ": " + std::string(logError);
  }
  return text;
}

}  // namespace

void LastRun::Ended(const RunReport& report, std::string_view time, std::string_view logError) {
  if (report.outcome != Outcome::kAbandoned) {
    warns_ = report.outcome == Outcome::kFailed;
  }
  account_ = Account(report, time, logError);
}

std::string LastRun::Summary() const {
  return account_.empty() ? std::string() : std::string(kProductName) + "\n" + account_;
}

std::string LastRun::TrayToolTip() const {
  std::string text = std::string(kProductName) + "\n" + caption_;
  if (!account_.empty()) {
    text += "\n" + account_;
  }
  return text;
}

}  // namespace palisor
