#pragma once

#include <string>
#include <string_view>

#include "update/RunReport.h"

namespace palisor {

inline constexpr const char* kProductName = "Palisor";

// What the window shows of the last run besides its caption: the summary in the tooltips and
// whether the icons warn. A failed run warns until a run ends well; a run abandoned leaves
// the warning as it was.
class LastRun final {
 public:
  // A run has ended at `time`; `logError` says why its line is not in the run log, if so.
  void Ended(const RunReport& report, std::string_view time, std::string_view logError);
  void CaptionShown(std::string_view caption) { caption_ = caption; }

  bool Warns() const { return warns_; }
  // The product's name, then the run's time and outcome, why it failed, and what
  // palisor-update would have printed on standard error besides; empty before the first run.
  std::string Summary() const;
  // The caption (the countdown) before the summary: the tray's icon is all there is to see
  // while the window waits in the tray.
  std::string TrayToolTip() const;

 private:
  bool warns_ = false;
  std::string account_;  // the summary without the product's name
  std::string caption_;
};

}  // namespace palisor
