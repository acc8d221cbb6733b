#include "update/AccessFile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/AtomicFile.h"
#include "platform/LineReader.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "update/ListLines.h"

namespace palisor {
namespace {

std::string Describe(const std::filesystem::path& path, int err) {
  return path.string() + ": " + std::strerror(err);
}

std::string NormalisedPrefix(std::string_view charbf, bool joinWithoutSpace) {
  const std::string_view text = TrimSpaces(charbf);
  if (text.empty() || joinWithoutSpace) {
    return std::string(text);
  }
  return std::string(text) + ' ';
}

std::string NormalisedSuffix(std::string_view charaf, bool joinWithoutSpace) {
  const std::string_view text = TrimSpaces(charaf);
  if (text.empty() || joinWithoutSpace) {
    return std::string(text);
  }
  return ' ' + std::string(text);
}

constexpr std::size_t kSkippedShown = 3;

bool CountryGroupEnabled(const Settings& s) {
  // The sum, not "any non-zero", decides, as it always has; int avoids 16-bit overflow.
  const int sum = int{s.IPG_JP} + s.IPG_CN + s.IPG_HK + s.IPG_TW + s.IPG_KR;
  return sum > 0;
}

// One generation: the output being written and the list-line count shared by all groups.
class Generation final {
 public:
  // The settings are copied: the settings dialog stays usable during a run, and confirming
  // it must not change the format halfway through the file.
  Generation(AtomicFile& out, Settings& record, Host& host)
      : out_(out), record_(record), settings_(record), host_(host) {}

  StageResult Run(const GroupLists& lists) {
    if (StageResult head = CopyUserFile(kHeadFile); !head.ok()) {
      return head;
    }
    PrepareAffixes();
    if (CountryGroupEnabled(settings_)) {
      for (const DownloadedList& list : lists.country) {
        StageResult country = WriteList(list, [this, &list](std::string_view line) {
          return WriteCountryLine(line, list.allow);
        });
        if (!country.ok()) {
          return country;
        }
      }
    }
    if (settings_.MODE1 || settings_.MODE2 || settings_.MODE3) {
      if (StageResult proxy = WriteAddressLists(lists.proxy); !proxy.ok()) {
        return proxy;
      }
    }
    if (settings_.MODE4 || settings_.MODE5 || settings_.MODE6) {
      if (StageResult overseas = WriteAddressLists(lists.overseas); !overseas.ok()) {
        return overseas;
      }
    }
    return CopyUserFile(kTailFile);
  }

  std::uint64_t linesWritten() const { return static_cast<std::uint64_t>(lineNo_ - 1); }
  std::vector<RunReport::SkippedLines>& skipped() { return skipped_; }

  // LISTMAX is a limit the user chose, yet addresses left out by it must not go unnoticed.
  std::string CapWarning() const {
    if (cutByCap_.empty()) {
      return {};
    }
    std::string text =
        "LISTMAX (" + std::to_string(settings_.LISTMAX) + " lines) was reached: lines of ";
    const char* separator = "";
    for (const std::string& list : cutByCap_) {
      text += separator + ("list " + list);
      separator = ", ";
    }
    return text + " were left out";
  }

 private:
  // Copies a user file line by line; a file that cannot be opened is left out silently.
  // Editors that save UTF-8 with a byte-order mark put it before the file's first line.
  StageResult CopyUserFile(const char* name) {
    const std::filesystem::path path = NativePath(name);
    int err = 0;
    auto reader = LineReader::Open(path, LineReader::Ends::kCrOrCrLf, err);
    if (!reader) {
      return StageResult::Ok();
    }
    std::string_view line;
    for (bool first = true;; first = false) {
      const LineReader::Result got = reader->Next(line);
      if (got == LineReader::Result::kEnd) {
        return StageResult::Ok();
      }
      if (got == LineReader::Result::kError) {
        return StageResult::Failed(Describe(path, reader->error()));
      }
      if (first) {
        DropByteOrderMark(line);
      }
      if (!host_.ProcessEvents()) {
        return StageResult::Abandoned();
      }
      if (!(out_.Write(line) && out_.Write(settings_.LINESEP))) {
        return OutputFailed();
      }
    }
  }

  // The record keeps the normalised forms, of what it holds now, so an edit made meanwhile
  // is not lost; a later save writes them.
  void PrepareAffixes() {
    maskSuffix_ = settings_.MASK == 32 ? std::string() : '/' + std::to_string(settings_.MASK);
    record_.CHARBF = NormalisedPrefix(record_.CHARBF, settings_.SPC_PREV);
    record_.CHARAF = NormalisedSuffix(record_.CHARAF, settings_.SPC_NEXT);
    settings_.CHARBF = record_.CHARBF;
    settings_.CHARAF = record_.CHARAF;
  }

  enum class Written { kSkipped, kWritten, kFailed };

  static Written WrittenIf(bool ok) { return ok ? Written::kWritten : Written::kFailed; }

  StageResult WriteAddressLists(const std::vector<DownloadedList>& group) {
    for (const DownloadedList& list : group) {
      StageResult written =
          WriteList(list, [this](std::string_view line) { return WriteAddressLine(line); });
      if (!written.ok()) {
        return written;
      }
    }
    return StageResult::Ok();
  }

  // The lines are views into the list's text, which is held once while the file is written.
  template <typename WriteLine>
  StageResult WriteList(const DownloadedList& list, WriteLine writeLine) {
    RunReport::SkippedLines skipped{list.name, 0, {}};
    LineSplitter lines(list.text);
    std::string_view line;
    StageResult result = StageResult::Ok();
    while (result.ok() && !CapReached() && lines.Next(line)) {
      const Written written = writeLine(line);
      if (written == Written::kSkipped) {
        Note(skipped, line);
      } else if (written == Written::kFailed) {
        result = OutputFailed();
      } else {
        ++lineNo_;
        result = host_.ProcessEvents() ? StageResult::Ok() : StageResult::Abandoned();
        if (result.ok()) {
          host_.SetCaption(ProgressCaption());
        }
      }
    }
    if (skipped.count > 0) {
      skipped_.push_back(std::move(skipped));
    }
    if (result.ok() && CapReached() && HasAnotherLine(lines)) {
      cutByCap_.push_back(list.name);
    }
    return result;
  }

  static bool HasAnotherLine(LineSplitter& lines) {
    std::string_view line;
    while (lines.Next(line)) {
      if (!IsBlankLine(line)) {
        return true;
      }
    }
    return false;
  }

  // Blank lines are left out silently; any other skipped line is reported.
  static void Note(RunReport::SkippedLines& skipped, std::string_view line) {
    if (IsBlankLine(line)) {
      return;
    }
    if (++skipped.count <= kSkippedShown) {
      skipped.first.push_back(QuoteLine(line));
    }
  }

  // MASK never widens an IPv6 address: "/24" on one is a huge network.
  Written WriteAddressLine(std::string_view line) {
    const auto found = ParseAddressLine(line);
    if (!found) {
      return Written::kSkipped;
    }
    const std::string_view prefix =
        found->prefix.empty() && !found->ipv6 ? std::string_view(maskSuffix_) : found->prefix;
    return WrittenIf(out_.Write(settings_.CHARBF) && out_.Write(found->address) &&
                     out_.Write(prefix) && out_.Write(settings_.CHARAF) &&
                     out_.Write(settings_.LINESEP));
  }

  Written WriteCountryLine(std::string_view line, bool allow) {
    const CountryLine parsed = ParseCountryLine(line);
    switch (parsed.form) {
      case CountryLine::Form::kSkipped:
        return Written::kSkipped;
      case CountryLine::Form::kAsItStands:
        return WrittenIf(out_.Write(parsed.text) && out_.Write(settings_.LINESEP));
      case CountryLine::Form::kBareAddress:
        break;
    }
    return WrittenIf(out_.Write(allow ? "allow from " : "deny from ") &&
                     out_.Write(parsed.address.address) && out_.Write(parsed.address.prefix) &&
                     out_.Write(settings_.LINESEP));
  }

  bool CapReached() const { return lineNo_ > settings_.LISTMAX; }

  // "解析中(" n "件)", composed in place: it is shown after every one of maybe a million lines.
  std::string_view ProgressCaption() {
    static constexpr std::string_view kOpen = "解析中(";
    static constexpr std::string_view kClose = "件)";
    char* const first = caption_.data();
    char* const last = first + caption_.size();
    char* p = std::copy(kOpen.begin(), kOpen.end(), first);
    p = std::to_chars(p, last, lineNo_).ptr;
    p = std::copy(kClose.begin(), kClose.end(), p);
    return {first, static_cast<std::size_t>(p - first)};
  }

  // The write error sticks in the output file; committing reports it and removes the temporary.
  StageResult OutputFailed() {
    std::string error;
    out_.Commit(error);
    return out_.abandoned() ? StageResult::Abandoned() : StageResult::Failed(error);
  }

  AtomicFile& out_;
  Settings& record_;
  Settings settings_;
  Host& host_;
  // 64 bits: LISTMAX may be the largest 32-bit number, and the count goes one past it.
  std::int64_t lineNo_ = 1;
  std::string maskSuffix_;
  std::array<char, 48> caption_{};
  std::vector<RunReport::SkippedLines> skipped_;
  std::vector<std::string> cutByCap_;  // names of the lists LISTMAX cut short or left out
};

}  // namespace

StageResult WriteAccessFile(GroupLists lists, Settings& settings, Host& host, RunReport* report,
                            std::chrono::milliseconds outputStallLimit) {
  std::string error;
  auto out = AtomicFile::Open(NativePath(TrimSpaces(settings.LCFILE)), error);
  if (!out) {
    return StageResult::Failed(error);
  }
  out->LimitWaits(outputStallLimit, [&host] { return host.ProcessEvents(); });
  Generation generation(*out, settings, host);
  StageResult result = generation.Run(lists);
  if (report != nullptr) {
    report->skipped = std::move(generation.skipped());
  }
  if (!result.ok()) {
    return result;
  }
  if (!out->Commit(error)) {
    return out->abandoned() ? StageResult::Abandoned() : StageResult::Failed(error);
  }
  if (report != nullptr) {
    report->linesWritten = generation.linesWritten();
    if (std::string warning = generation.CapWarning(); !warning.empty()) {
      report->warnings.push_back(std::move(warning));
    }
  }
  return StageResult::Ok();
}

}  // namespace palisor
