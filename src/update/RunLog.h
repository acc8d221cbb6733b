#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "update/RunUpdate.h"

namespace palisor {

// The run log in the working folder: one line per update run, by the window and by
// palisor-update alike.
inline constexpr const char* kRunLogFile = "palisor.log";
// Past this size the oldest half of the log is dropped before the next line goes in.
inline constexpr std::uintmax_t kRunLogLimit = std::uintmax_t{1} << 20;

// "ok", "nothing to do", "failed", "skipped" (another run held the folder) or "abandoned".
std::string_view OutcomeName(const RunReport& report);

// Why the run did not end well, on one line: the text palisor-update prints on standard
// error. Empty for a run that ended well.
std::string RunReason(const RunReport& report);

// `text` on one line: line breaks become spaces.
std::string OneLine(std::string_view text);

// "2026-12-07 13:04:38 +0900": local time with its offset, so lines stay comparable across
// a change of the clock's zone.
std::string LocalTimeText(std::chrono::system_clock::time_point when);

// The log's line for a run (without its line end): time, outcome, stage ("-" when no stage
// was reached), reason, lines written, then lines skipped per list and warnings when there
// are any.
std::string RunLogLine(const RunReport& report, std::string_view localTime);

// Appends `line` and a line end to `file`, first dropping the oldest half of its lines when
// the file would grow past `limit`. Empty when done, else why not.
std::string AppendRunLog(const std::filesystem::path& file, std::string_view line,
                         std::uintmax_t limit = kRunLogLimit);

// Appends the line for `report`, stamped now, to the run log of the working folder. Empty
// when done, else why not.
std::string RecordRun(const RunReport& report);

}  // namespace palisor
