#include "update/AccessFile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

#include "platform/AtomicFile.h"
#include "platform/LineReader.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "settings/SettingKeys.h"
#include "update/ListLines.h"
#include "update/Networks.h"

namespace palisor {
namespace {

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

// The shortest address a list can give ("::"): when not even it fits, no address line does.
constexpr std::size_t kShortestAddress = 2;
constexpr const char* kMergedAddressLists = "proxy and overseas lists, merged";

// For the countries the sum of their modes, not "any non-zero", decides, as it always has; for
// the other groups any list that is on. int avoids 16-bit overflow.
bool GroupEnabled(const Settings& s, ListGroup group) {
  int sum = 0;
  for (std::size_t row = 0; row < kListCount; ++row) {
    if (kListSources[row].group == group) {
      sum += s.lists[row].mode;
    }
  }
  return sum > 0;
}

std::string_view CountryPrefix(bool allow) {
  return allow ? "allow from " : "deny from ";
}

std::string LineLimitText() {
  return "the " + std::to_string(kApacheLineMax) +
         " bytes Apache reads of a line (a longer one makes it answer every request with 500)";
}

// What became of one list's lines: entries used (written, or gathered to be merged) and
// lines skipped.
struct ListTally {
  RunReport::SkippedLines skipped;
  std::uint64_t used = 0;
};

// One generation: the output being written and the list-line count shared by all groups.
class Generation final {
 public:
  // The settings are copied: the settings dialog stays usable during a run, and confirming
  // it must not change the format halfway through the file.
  Generation(AtomicFile& out, const Settings& settings, RunEvents& events, std::stop_token stop)
      : out_(out),
        settings_(settings),
        events_(events),
        stop_(std::move(stop)),
        meter_(settings_.LINESEP),
        perLine_(PerLineFor(settings_)) {}

  StageResult Run(GroupLists& lists) {
    PrepareAffixes();
    if (StageResult affixes = CheckAffixes(); !affixes.ok()) {
      return affixes;
    }
    if (StageResult head = CopyUserFile(kHeadFile); !head.ok()) {
      return head;
    }
    // Joined to the head file's last line, the first list line would be swallowed by a
    // comment or break a directive; and list lines are cut on the grounds that each begins
    // a line of its own (DropLinesPastListMax).
    if (meter_.Continued()) {
      return StageResult::Failed(NativePath(kHeadFile).string() +
                                 ": its last line ends in a backslash, which joins the first "
                                 "list line to it");
    }
    if (GroupEnabled(settings_, ListGroup::kCountry)) {
      for (DownloadedList& list : lists.country) {
        StageResult country = settings_.MERGE ? MergeCountryList(list) : WriteCountryList(list);
        if (!country.ok()) {
          return country;
        }
      }
    }
    if (StageResult addresses = WriteAddressGroups(AddressLists(lists)); !addresses.ok()) {
      return addresses;
    }
    return CopyUserFile(kTailFile);
  }

  std::uint64_t linesWritten() const { return static_cast<std::uint64_t>(lineNo_ - 1); }
  std::vector<RunReport::SkippedLines>& skipped() { return skipped_; }
  std::vector<RunReport::ListUse>& uses() { return uses_; }
  std::string& written() { return written_; }

  // What the user must hear of even when the file was written, one line each.
  std::vector<std::string> Warnings() const {
    std::vector<std::string> warnings;
    if (!cutByCap_.empty()) {
      warnings.push_back(CapWarning());
    }
    if (AddressGroupsEnabled() && IsRequireForm(settings_.CHARBF) && perLine_ == 1) {
      warnings.push_back(
          "PERLINE=1 with the Require form: Apache's time for every request grows with the "
          "square of the line count (measured: 10,000 lines 120 ms a request, 550 times a site "
          "without the file); 100 in " +
          WhereToSet(keys::PERLINE) + " puts 100 addresses on a line");
    }
    return warnings;
  }

 private:
  enum class Written {
    kSkipped,   // reported as skipped
    kWritten,   // one entry: an address, a network or a line as it stands
    kFailed,    // the output failed
    kGathered,  // kept for merging, written later
    kDropped,   // left out on purpose, silently
  };

  static Written WrittenIf(bool ok) { return ok ? Written::kWritten : Written::kFailed; }

  bool AddressGroupsEnabled() const {
    return GroupEnabled(settings_, ListGroup::kProxy) ||
           GroupEnabled(settings_, ListGroup::kOverseas);
  }

  std::vector<DownloadedList*> AddressLists(GroupLists& lists) const {
    std::vector<DownloadedList*> enabled;
    const auto add = [&enabled](std::vector<DownloadedList>& group) {
      for (DownloadedList& list : group) {
        enabled.push_back(&list);
      }
    };
    if (GroupEnabled(settings_, ListGroup::kProxy)) {
      add(lists.proxy);
    }
    if (GroupEnabled(settings_, ListGroup::kOverseas)) {
      add(lists.overseas);
    }
    return enabled;
  }

  // LISTMAX is a limit the user chose, yet addresses left out by it must not go unnoticed.
  std::string CapWarning() const {
    std::string text =
        "LISTMAX (" + std::to_string(settings_.LISTMAX) + " lines) was reached: lines of ";
    const char* separator = "";
    for (const std::string& list : cutByCap_) {
      text += separator + ("list " + list);
      separator = ", ";
    }
    return text + " were left out; raise it in " + WhereToSet(keys::LISTMAX);
  }

  // Copies a user file line by line; a file that cannot be opened is left out silently.
  // Editors that save UTF-8 with a byte-order mark put it before the file's first line.
  StageResult CopyUserFile(const char* name) {
    const std::filesystem::path path = NativePath(name);
    int err = 0;
    auto reader = LineReader::Open(path, err);
    if (!reader) {
      return StageResult::Ok();
    }
    std::string_view line;
    std::size_t linesBefore = 0;  // as an editor counts them: an LF ends one too
    for (bool first = true;; first = false) {
      const LineReader::Result got = reader->Next(line);
      if (got == LineReader::Result::kEnd) {
        return StageResult::Ok();
      }
      if (got == LineReader::Result::kError) {
        return StageResult::Failed(DescribeError(path, reader->error()));
      }
      if (first) {
        DropByteOrderMark(line);
      }
      if (stop_.stop_requested()) {
        return StageResult::Abandoned();
      }
      if (const std::size_t tooLong = meter_.WroteUserLine(line); tooLong != 0) {
        return StageResult::Failed(path.string() + ", line " +
                                   std::to_string(linesBefore + tooLong) + ": longer than " +
                                   LineLimitText());
      }
      linesBefore += 1 + static_cast<std::size_t>(std::count(line.begin(), line.end(), '\n'));
      if (!(Write(line) && Write(settings_.LINESEP))) {
        return OutputFailed();
      }
    }
  }

  void PrepareAffixes() {
    maskSuffix_ = settings_.MASK == 32 ? std::string() : '/' + std::to_string(settings_.MASK);
    settings_.CHARBF = NormalisedPrefix(settings_.CHARBF, settings_.SPC_PREV);
    settings_.CHARAF = NormalisedSuffix(settings_.CHARAF, settings_.SPC_NEXT);
  }

  // Affixes that would break every address line fail the run before a line is written.
  StageResult CheckAffixes() const {
    if (!AddressGroupsEnabled()) {
      return StageResult::Ok();
    }
    if (settings_.CHARAF.ends_with('\\')) {
      return StageResult::Failed(
          "CHARAF ends in a backslash, which makes Apache join every address line with the "
          "next; mend it in " +
          WhereToSet(keys::CHARAF));
    }
    if (!meter_.Fits(settings_.CHARBF.size() + kShortestAddress + settings_.CHARAF.size())) {
      return StageResult::Failed("CHARBF and CHARAF leave no room for an address within " +
                                 LineLimitText() + "; shorten them in " +
                                 WhereToSet(keys::CHARBF.field, "CHARBF and CHARAF"));
    }
    return StageResult::Ok();
  }

  StageResult WriteAddressGroups(const std::vector<DownloadedList*>& lists) {
    if (settings_.MERGE) {
      return MergeAddressLists(lists);
    }
    for (const DownloadedList* list : lists) {
      StageResult written =
          WriteList(*list, [this](std::string_view line) { return WriteAddressLine(line); });
      if (!written.ok()) {
        return written;
      }
    }
    return CloseLine();
  }

  StageResult WriteCountryList(const DownloadedList& list) {
    StageResult written = WriteList(
        list, [this, &list](std::string_view line) { return WriteCountryLine(line, list.allow); });
    return written.ok() ? CloseLine() : written;
  }

  // The proxy and overseas lists as one set of networks, written after the last is read.
  StageResult MergeAddressLists(const std::vector<DownloadedList*>& lists) {
    NetworkSet networks;
    std::vector<std::string> sources;
    for (DownloadedList* list : lists) {
      StageResult read = ReadWhole(*list, [this, &networks](std::string_view line) {
        const auto found = ParseAddressLine(line);
        if (!found) {
          return Written::kSkipped;
        }
        networks.Add(*found, settings_.MASK);
        return Written::kGathered;
      });
      if (!read.ok()) {
        return read;
      }
      sources.push_back(list->name);
    }
    return WriteNetworks(networks, settings_.CHARBF, settings_.CHARAF, kMergedAddressLists,
                         sources);
  }

  // A country list's lines as they stand in place, its comments left out (the file is for
  // Apache then, not for reading), its bare addresses merged after them.
  StageResult MergeCountryList(DownloadedList& list) {
    NetworkSet networks;
    bool cut = false;
    StageResult read = ReadWhole(list, [this, &networks, &cut](std::string_view line) {
      const CountryLine parsed = ParseCountryLine(line);
      switch (parsed.form) {
        case CountryLine::Form::kSkipped:
          return Written::kSkipped;
        case CountryLine::Form::kAsItStands:
          if (parsed.text.front() == '#') {
            return Written::kDropped;
          }
          if (CapReached()) {
            cut = true;
            return Written::kDropped;
          }
          return WriteAsItStands(parsed.text);
        case CountryLine::Form::kBareAddress:
          break;
      }
      networks.Add(parsed.address);
      return Written::kGathered;
    });
    if (!read.ok()) {
      return read;
    }
    if (cut) {
      NoteCut(list.name);
    }
    return WriteNetworks(networks, CountryPrefix(list.allow), {}, list.name, {list.name});
  }

  // `sources` are named when LISTMAX leaves networks out; networks too long for a line are
  // reported as skipped lines of `name`.
  StageResult WriteNetworks(NetworkSet& networks, std::string_view prefix, std::string_view suffix,
                            std::string_view name, const std::vector<std::string>& sources) {
    ListTally tally{{std::string(name), 0, {}}};
    StageResult result = StageResult::Ok();
    const bool all = networks.TakeMerged([&](std::string_view network) {
      if (CapReached()) {
        return false;
      }
      result = Counted(Entry(prefix, suffix, network, {}), tally, network);
      return result.ok();
    });
    Keep(std::move(tally));
    if (!result.ok()) {
      return result;
    }
    if (!all) {
      for (const std::string& source : sources) {
        NoteCut(source);
      }
    }
    return CloseLine();
  }

  // Writes a list line by line up to LISTMAX. The lines are views into the list's text,
  // which is held once while the file is written.
  template <typename WriteLine>
  StageResult WriteList(const DownloadedList& list, WriteLine writeLine) {
    ListTally tally{{list.name, 0, {}}};
    LineSplitter lines(list.text);
    std::string_view line;
    StageResult result = StageResult::Ok();
    while (result.ok() && !CapReached() && lines.Next(line)) {
      result = Counted(writeLine(line), tally, line);
    }
    Keep(std::move(tally));
    if (result.ok() && CapReached() && HasAnotherLine(lines)) {
      NoteCut(list.name);
    }
    return result;
  }

  void NoteCut(const std::string& list) {
    if (std::find(cutByCap_.begin(), cutByCap_.end(), list) == cutByCap_.end()) {
      cutByCap_.push_back(list);
    }
  }

  // Reads every line of a list to merge it, then lets its text go: merging holds what it
  // gathered from every list at once.
  template <typename TakeLine>
  StageResult ReadWhole(DownloadedList& list, TakeLine takeLine) {
    ListTally tally{{list.name, 0, {}}};
    LineSplitter lines(list.text);
    std::string_view line;
    StageResult result = StageResult::Ok();
    while (result.ok() && lines.Next(line)) {
      result = Counted(takeLine(line), tally, line);
    }
    Keep(std::move(tally));
    std::string().swap(list.text);
    return result;
  }

  // Counts what became of one line; the window hears of every entry written.
  StageResult Counted(Written written, ListTally& tally, std::string_view line) {
    switch (written) {
      case Written::kSkipped:
        NoteSkippedLine(tally.skipped, line);
        return StageResult::Ok();
      case Written::kFailed:
        return OutputFailed();
      case Written::kDropped:
        return StageResult::Ok();
      case Written::kGathered:
        ++tally.used;
        return stop_.stop_requested() ? StageResult::Abandoned() : StageResult::Ok();
      case Written::kWritten:
        break;
    }
    ++tally.used;
    ++lineNo_;
    if (stop_.stop_requested()) {
      return StageResult::Abandoned();
    }
    events_.LinesWritten(linesWritten());
    return StageResult::Ok();
  }

  void Keep(ListTally tally) {
    uses_.push_back({tally.skipped.list, tally.used, tally.skipped.count});
    if (tally.skipped.count > 0) {
      skipped_.push_back(std::move(tally.skipped));
    }
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

  // MASK never widens an IPv6 address: "/24" on one is a huge network.
  Written WriteAddressLine(std::string_view line) {
    const auto found = ParseAddressLine(line);
    if (!found) {
      return Written::kSkipped;
    }
    const std::string_view prefix =
        found->prefix.empty() && !found->ipv6 ? std::string_view(maskSuffix_) : found->prefix;
    return Entry(settings_.CHARBF, settings_.CHARAF, found->address, prefix);
  }

  Written WriteCountryLine(std::string_view line, bool allow) {
    const CountryLine parsed = ParseCountryLine(line);
    switch (parsed.form) {
      case CountryLine::Form::kSkipped:
        return Written::kSkipped;
      case CountryLine::Form::kAsItStands:
        return WriteAsItStands(parsed.text);
      case CountryLine::Form::kBareAddress:
        break;
    }
    return Entry(CountryPrefix(allow), {}, parsed.address.address, parsed.address.prefix);
  }

  // A line a country list carries keeps its place: the line of entries before it ends.
  Written WriteAsItStands(std::string_view text) {
    if (!CloseLine().ok()) {
      return Written::kFailed;
    }
    if (!meter_.Fits(text.size())) {
      return Written::kSkipped;
    }
    meter_.Wrote();
    return WrittenIf(Write(text) && Write(settings_.LINESEP));
  }

  // Adds an address or network (`address` then `bits`) to the line under way while it holds
  // fewer than PERLINE and stays within Apache's limit, or begins a new line with it. The
  // bytes are written as the line grows, each entry once it is known to fit.
  Written Entry(std::string_view prefix, std::string_view suffix, std::string_view address,
                std::string_view bits) {
    const std::size_t entry = address.size() + bits.size();
    if (entriesOnLine_ > 0 && entriesOnLine_ < perLine_ &&
        meter_.Fits(lineLength_ + 1 + entry + suffix.size())) {
      ++entriesOnLine_;
      lineLength_ += 1 + entry;
      return WrittenIf(Write(" ") && Write(address) && Write(bits));
    }
    if (!CloseLine().ok()) {
      return Written::kFailed;
    }
    if (!meter_.Fits(prefix.size() + entry + suffix.size())) {
      return Written::kSkipped;
    }
    entriesOnLine_ = 1;
    lineLength_ = prefix.size() + entry;
    lineSuffix_ = suffix;
    return WrittenIf(Write(prefix) && Write(address) && Write(bits));
  }

  // Ends the line of entries under way, if any.
  StageResult CloseLine() {
    if (entriesOnLine_ == 0) {
      return StageResult::Ok();
    }
    entriesOnLine_ = 0;
    meter_.Wrote();
    return Write(lineSuffix_) && Write(settings_.LINESEP) ? StageResult::Ok() : OutputFailed();
  }

  bool CapReached() const { return lineNo_ > settings_.LISTMAX; }

  // Everything written is also kept, so that the upload sends exactly these bytes and never
  // reads the file again by its name.
  bool Write(std::string_view bytes) {
    written_ += bytes;
    return out_.Write(bytes);
  }

  // The write error sticks in the output file; committing reports it and removes the temporary.
  StageResult OutputFailed() {
    std::string error;
    out_.Commit(error);
    return out_.abandoned() ? StageResult::Abandoned() : StageResult::Failed(error);
  }

  AtomicFile& out_;
  std::string written_;
  Settings settings_;
  RunEvents& events_;
  std::stop_token stop_;
  ApacheLineMeter meter_;
  std::int32_t perLine_;
  // 64 bits: LISTMAX may be the largest 32-bit number, and the count goes one past it.
  // Counts entries, not lines, so that LISTMAX means as much protection in any layout.
  std::int64_t lineNo_ = 1;
  std::string maskSuffix_;
  // The line of entries under way.
  std::int32_t entriesOnLine_ = 0;
  std::size_t lineLength_ = 0;  // its bytes so far, without the suffix
  std::string_view lineSuffix_;
  std::vector<RunReport::SkippedLines> skipped_;
  std::vector<RunReport::ListUse> uses_;
  std::vector<std::string> cutByCap_;  // names of the lists LISTMAX cut short or left out
};

// Whether generation writes a list line whatever came before it: the line is usable, and its
// entry fits Apache's limit on a line of its own after the longest carry a line end leaves,
// with the longest MASK suffix and both affixes' spaces, whatever MASK, SPC_PREV and SPC_NEXT.
class SureLines final {
 public:
  SureLines(const Settings& s, ListForm form, bool allow)
      : meter_(s.LINESEP),
        form_(form),
        allow_(allow),
        affixes_(TrimSpaces(s.CHARBF).size() + TrimSpaces(s.CHARAF).size() + 2) {
    meter_.Wrote();
  }

  bool Sure(std::string_view line) const {
    const std::optional<std::size_t> length =
        form_ == ListForm::kAddress ? AddressLength(line) : CountryLength(line);
    return length && meter_.Fits(*length);
  }

 private:
  static constexpr std::size_t kLongestMaskSuffix = 3;  // "/16" ... "/31"

  std::optional<std::size_t> AddressLength(std::string_view line) const {
    const auto found = ParseAddressLine(line);
    if (!found) {
      return std::nullopt;
    }
    const std::size_t bits =
        found->prefix.empty() && !found->ipv6 ? kLongestMaskSuffix : found->prefix.size();
    return affixes_ + found->address.size() + bits;
  }

  std::optional<std::size_t> CountryLength(std::string_view line) const {
    const CountryLine parsed = ParseCountryLine(line);
    switch (parsed.form) {
      case CountryLine::Form::kSkipped:
        return std::nullopt;
      case CountryLine::Form::kAsItStands:
        return parsed.text.size();
      case CountryLine::Form::kBareAddress:
        break;
    }
    return CountryPrefix(allow_).size() + parsed.address.address.size() +
           parsed.address.prefix.size();
  }

  ApacheLineMeter meter_;
  ListForm form_;
  bool allow_;
  std::size_t affixes_;  // the most CHARBF and CHARAF add to an address
};

// Where generation stops reading `text`: after the next non-blank line once LISTMAX sure lines
// were read, as each line gives at most one entry.
std::size_t ReadLength(std::string_view text, const SureLines& sure, std::int32_t listMax) {
  LineSplitter lines(text);
  std::string_view line;
  for (std::int32_t count = 0; count < listMax && lines.Next(line);) {
    count += sure.Sure(line) ? 1 : 0;
  }
  while (lines.Next(line)) {
    if (!IsBlankLine(line)) {
      return static_cast<std::size_t>(line.data() + line.size() - text.data());
    }
  }
  return text.size();
}

// Whether `text` has no more lines than `count`, judged by its line ends alone, which is
// fast: a list that short is read whole, and need not be parsed twice.
bool AtMostLines(std::string_view text, std::int32_t count) {
  const auto ends =
      std::count(text.begin(), text.end(), '\n') + std::count(text.begin(), text.end(), '\r');
  return ends < count;
}

}  // namespace

std::filesystem::path OutputFile(const Settings& settings) {
  return NativePath(TrimSpaces(settings.LCFILE));
}

void DropLinesPastListMax(DownloadedList& list, ListForm form, const Settings& settings) {
  // Merging reads every line.
  if (settings.MERGE || AtMostLines(list.text, settings.LISTMAX)) {
    return;
  }
  const std::size_t read =
      ReadLength(list.text, SureLines(settings, form, list.allow), settings.LISTMAX);
  if (read < list.text.size()) {
    list.text = list.text.substr(0, read);
  }
}

void TakeListMaxSettings(const Settings& from, Settings& to) {
  to.LISTMAX = from.LISTMAX;
  to.MERGE = from.MERGE;
  to.CHARBF = from.CHARBF;
  to.CHARAF = from.CHARAF;
  to.LINESEP = from.LINESEP;
}

Result<std::string> WriteAccessFile(GroupLists lists, const Settings& settings, RunEvents& events,
                                    std::stop_token stop, RunReport* report,
                                    std::chrono::milliseconds outputStallLimit) {
  using Written = Result<std::string>;
  std::string error;
  auto out = AtomicFile::Open(OutputFile(settings), error);
  if (!out) {
    return Written::Failed(error);
  }
  out->LimitWaits(outputStallLimit, [stop] { return !stop.stop_requested(); });
  Generation generation(*out, settings, events, stop);
  StageResult result = generation.Run(lists);
  if (report != nullptr) {
    report->skipped = std::move(generation.skipped());
    report->uses = std::move(generation.uses());
  }
  if (!result.ok()) {
    return result.Without<std::string>();
  }
  if (!out->Commit(error)) {
    return out->abandoned() ? Written::Abandoned() : Written::Failed(error);
  }
  if (report != nullptr) {
    report->linesWritten = generation.linesWritten();
    for (std::string& warning : generation.Warnings()) {
      report->warnings.push_back(std::move(warning));
    }
  }
  return Written::Ok(std::move(generation.written()));
}

}  // namespace palisor
