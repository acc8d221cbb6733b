#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Result.h"
#include "settings/Settings.h"

namespace palisor {

// The lines that enclose what Palisor owns in a live file it shares with the site owner.
inline constexpr std::string_view kBlockBegin = "# BEGIN Palisor";
inline constexpr std::string_view kBlockEnd = "# END Palisor";

// What is to replace the live file, and the owner's lines the live file holds.
struct Composed {
  std::string bytes;
  // Lines of the live file that are neither Palisor's (in what it last published there, in
  // its block, or in the new file) nor blank, in their order.
  std::vector<std::string> ownerLines;
  // The owner's lines would be lost and OTHERLINES does not say what to do: nothing may go.
  bool mustAsk = false;
};

// What replaces `live` (none: there is no live file) when Palisor generated `generated` and
// last published `published` there, by the rule `rule`:
// - kReplace, or no lines of the owner's: the generated file alone;
// - kKeep: the live file with its block replaced by one holding the generated file, or with
//   that block put at its top; the block's marker lines end in `lineEnd`;
// - kAsk with lines of the owner's: mustAsk.
// Fails only for kKeep and a live file whose block has a beginning without an end.
Result<Composed> ComposeUpload(const std::optional<std::string>& live,
                               const std::optional<std::string>& published,
                               std::string_view generated, OtherLines rule,
                               std::string_view lineEnd);

// The lines `after` has that `before` has not (added) and the other way round (removed),
// each in its order and at most `most` of each, with the full counts.
struct LineChanges {
  std::vector<std::string> added;
  std::vector<std::string> removed;
  std::size_t addedCount = 0;
  std::size_t removedCount = 0;
};
LineChanges CompareLines(std::string_view before, std::string_view after, std::size_t most);

// The lines of `text`, split at LF, CR LF or a lone CR, without their line ends.
std::vector<std::string_view> SplitLines(std::string_view text);

}  // namespace palisor
