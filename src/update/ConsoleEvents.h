#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "update/RunEvents.h"

namespace palisor {

// What palisor-update shows of a run: one line per stage, and the caption the run leaves
// standing, in the wording it is given. On a terminal the count of entries written, "解析中(n件)",
// is rewritten in place a few times a second; in a pipe or a file it is left out, so a scheduled
// job's log holds the stages only.
class ConsoleEvents final : public RunEvents {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  using Write = std::function<void(std::string_view)>;

  // How often at most the count is rewritten.
  static constexpr std::chrono::milliseconds kProgressInterval{100};

  ConsoleEvents(Write write, bool terminal, CaptionWording wording = {},
                Clock clock = std::chrono::steady_clock::now);
  ConsoleEvents(const ConsoleEvents&) = delete;
  ConsoleEvents& operator=(const ConsoleEvents&) = delete;

  void RunStarted() override {}
  void StageStarted(const StageReached& stage) override;
  void LinesWritten(std::uint64_t count) override;
  void RunEnded(const RunReport& report) override;

 private:
  void ShowLine(std::string_view text);
  // Ends a count left open, showing its latest value.
  void FinishCount();

  Write write_;
  bool terminal_;
  CaptionWording wording_;
  Clock clock_;
  bool countOpen_ = false;
  bool countPending_ = false;  // latestCount_ is newer than the count on screen
  std::uint64_t latestCount_ = 0;
  std::chrono::steady_clock::time_point countShownAt_;
};

}  // namespace palisor
