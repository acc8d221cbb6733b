#include "update/LiveFile.h"

#include <unordered_set>

#include "platform/Text.h"
#include "settings/SettingKeys.h"

namespace palisor {
namespace {

// A line with its line end, as a span of the text it was found in.
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;  // past the line end
};

// Where the block stands in the live file, marker lines included.
struct Block {
  Span span;
  bool found = false;
  bool broken = false;  // a beginning without an end after it
};

std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.remove_suffix(1);
  }
  return line;
}

bool IsMarker(std::string_view line, std::string_view marker) {
  return TrimBlanks(WithoutLineEnd(line)) == marker;
}

std::string_view At(std::string_view text, Span span) {
  return text.substr(span.begin, span.end - span.begin);
}

std::vector<Span> LineSpans(std::string_view text) {
  std::vector<Span> spans;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string_view::npos) {
      end = text.size();
    } else if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
      end += 2;
    } else {
      ++end;
    }
    spans.push_back({begin, end});
    begin = end;
  }
  return spans;
}

Block FindBlock(std::string_view text) {
  Block block;
  const std::vector<Span> spans = LineSpans(text);
  for (std::size_t i = 0; i < spans.size(); ++i) {
    if (!IsMarker(At(text, spans[i]), kBlockBegin)) {
      continue;
    }
    for (std::size_t j = i + 1; j < spans.size(); ++j) {
      if (IsMarker(At(text, spans[j]), kBlockEnd)) {
        block.span = {spans[i].begin, spans[j].end};
        block.found = true;
        return block;
      }
    }
    block.broken = true;
    return block;
  }
  return block;
}

void AddLines(std::unordered_set<std::string_view>& lines, std::string_view text) {
  for (const std::string_view line : SplitLines(text)) {
    lines.insert(line);
  }
}

std::vector<std::string> OwnerLines(std::string_view live, const Block& block,
                                    const std::optional<std::string>& published,
                                    std::string_view generated) {
  std::unordered_set<std::string_view> palisors;
  if (published) {
    AddLines(palisors, *published);
  }
  AddLines(palisors, generated);
  std::vector<std::string> owners;
  for (const Span span : LineSpans(live)) {
    const bool inBlock =
        block.found && span.begin >= block.span.begin && span.end <= block.span.end;
    const std::string_view line = WithoutLineEnd(At(live, span));
    if (!inBlock && !IsBlank(TrimBlanks(line)) && !palisors.contains(line)) {
      owners.emplace_back(line);
    }
  }
  return owners;
}

std::string BlockHolding(std::string_view generated, std::string_view lineEnd) {
  std::string block(kBlockBegin);
  block += lineEnd;
  block += generated;
  if (!generated.empty() && generated.back() != '\n' && generated.back() != '\r') {
    block += lineEnd;
  }
  block += kBlockEnd;
  block += lineEnd;
  return block;
}

}  // namespace

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (const Span span : LineSpans(text)) {
    lines.push_back(WithoutLineEnd(At(text, span)));
  }
  return lines;
}

Result<Composed> ComposeUpload(const std::optional<std::string>& live,
                               const std::optional<std::string>& published,
                               std::string_view generated, OtherLines rule,
                               std::string_view lineEnd) {
  Composed composed;
  const Block block = live ? FindBlock(*live) : Block{};
  if (live) {
    composed.ownerLines = OwnerLines(*live, block, published, generated);
  }
  const bool owned = !composed.ownerLines.empty();
  switch (rule) {
    case OtherLines::kReplace:
      composed.bytes = generated;
      break;
    case OtherLines::kAsk:
      composed.mustAsk = owned;
      composed.bytes = owned ? std::string() : std::string(generated);
      break;
    case OtherLines::kKeep:
      if (block.broken) {
        return Result<Composed>::Failed(
            "the live file has a line \"" + std::string(kBlockBegin) + "\" without a line \"" +
            std::string(kBlockEnd) + "\" after it: mend it on the server, or choose replace in " +
            WhereToSet(keys::OTHERLINES));
      }
      composed.bytes = BlockHolding(generated, lineEnd);
      if (block.found) {
        composed.bytes =
            live->substr(0, block.span.begin) + composed.bytes + live->substr(block.span.end);
      } else if (owned) {
        composed.bytes += *live;
      }
      break;
  }
  return Result<Composed>::Ok(std::move(composed));
}

LineChanges CompareLines(std::string_view before, std::string_view after, std::size_t most) {
  std::unordered_set<std::string_view> beforeLines;
  std::unordered_set<std::string_view> afterLines;
  AddLines(beforeLines, before);
  AddLines(afterLines, after);
  LineChanges changes;
  const auto collect = [most](std::string_view text,
                              const std::unordered_set<std::string_view>& other,
                              std::vector<std::string>& shown, std::size_t& count) {
    std::unordered_set<std::string_view> seen;
    for (const std::string_view line : SplitLines(text)) {
      if (!other.contains(line) && seen.insert(line).second) {
        if (shown.size() < most) {
          shown.emplace_back(line);
        }
        ++count;
      }
    }
  };
  collect(after, beforeLines, changes.added, changes.addedCount);
  collect(before, afterLines, changes.removed, changes.removedCount);
  return changes;
}

}  // namespace palisor
