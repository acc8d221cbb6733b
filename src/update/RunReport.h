#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/Settings.h"
#include "update/Outcome.h"

namespace palisor {

// The stages of a run, in their order.
enum class Stage {
  kDownloading,  // one list
  kAnalysing,    // writing the access file
  kSending,      // publishing it on the server
};

// A stage a run reached; for a download, which list.
struct StageReached {
  Stage stage = Stage::kDownloading;
  const ListSource* list = nullptr;  // a row of kListSources while downloading
};

// A stage's name as the window's caption, palisor-update's lines and the log give it: the
// list's caption while downloading, "解析中", "送信中".
std::string_view StageName(const StageReached& stage);

// How a run ended: kOk when it ended with "待機中" (nothing to do included), kFailed when it
// ended early (`stage` says where, `error` what and why), kAbandoned when the user ended
// the program during it.
struct RunReport {
  Outcome outcome = Outcome::kOk;
  std::string error;
  // Lines of one list that generation left out, for lists that had any (table order).
  struct SkippedLines {
    std::string list;  // the list's name and address, as failures name it
    std::uint64_t count = 0;
    std::vector<std::string> first;  // the first few, printable
  };
  std::vector<SkippedLines> skipped;
  // Every list generation read, in its order: entries used and lines skipped.
  struct ListUse {
    std::string list;
    std::uint64_t used = 0;
    std::uint64_t skipped = 0;
  };
  std::vector<ListUse> uses;
  // What the user must hear of even when the run succeeded, one line each.
  std::vector<std::string> warnings;
  // Entries in the access file: addresses, networks and country lines as they stand.
  std::uint64_t linesWritten = 0;
  // The last stage the run reached; none when it ended before the first.
  std::optional<StageReached> stage;
  // Every list was off or empty: nothing was written or sent.
  bool nothingToDo = false;
  // Another run held the folder, so this one failed before doing anything: it skipped its turn.
  bool anotherRunning = false;
  // The access file was replaced, so a run abandoned later no longer left it as it was.
  bool outputWritten = false;
  // The site's file already held what this run wrote: nothing was sent.
  bool unchanged = false;
  // Where the site's file was kept before it was replaced (or the upload refused).
  std::filesystem::path keptAs;
  // The upload was refused for this many lines of the site owner's own in the site's file.
  std::size_t ownerLinesRefused = 0;
};

// The caption a run leaves standing: "待機中" after a good run; after a failure while
// writing the file, "解析中" in place of its count; otherwise (nothing) the last stage's.
std::optional<std::string_view> ClosingCaption(const RunReport& report);

// "解析中(n件)": n the number of the entry to come, as the count has always been shown. A
// program in another language gives the caption's `pattern` there, "%1" standing for n.
inline constexpr std::string_view kAnalysingPattern = "解析中(%1件)";
std::string AnalysingCaption(std::uint64_t linesWritten,
                             std::string_view pattern = kAnalysingPattern);

// How a program shows the captions above: `fixed` turns StageName's and ClosingCaption's into
// its language, `analysing` is AnalysingCaption's pattern there. As given, in Japanese, unless
// it says otherwise.
struct CaptionWording {
  std::function<std::string(std::string_view)> fixed = [](std::string_view caption) {
    return std::string(caption);
  };
  std::string analysing{kAnalysingPattern};
};

// "1 line", "2 lines".
std::string CountOfLines(std::uint64_t count);

// What the upload did besides its outcome, one line each: the site's file unchanged, the
// replaced file kept.
std::vector<std::string> PublishingNotes(const RunReport& report);

// Counts a line the run left out; blank lines are left out silently, the first few others
// are kept, quoted.
void NoteSkippedLine(RunReport::SkippedLines& skipped, std::string_view line);

// "3 lines skipped, not read by Apache as meant: "a", "b", "c"".
std::string SkippedLinesText(const RunReport::SkippedLines& skipped);

// One line for the user: the list, how many of its lines were skipped and the first of them.
std::string DescribeSkipped(const RunReport::SkippedLines& skipped);

}  // namespace palisor
