// Generation from arbitrary group texts, head and tail files and settings: the output must
// be exactly what the layout rules make of the lines the list-line rules use, which also means
// that no more than LISTMAX entries are written, every proxy or overseas line is prefix +
// addresses + suffix + LINESEP, and no line is longer than Apache reads. Every used line must
// also pass an independent check of what Apache reads as meant, and merged networks are
// checked against a cover computed another way (top down). No other file may be created.
//
// Input parts, separated by "@@\n": settings bytes, CHARBF, CHARAF, head file, tail file,
// country text, proxy text, overseas text. A head or tail part that is missing means no file.

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "FuzzSupport.h"
#include "platform/Paths.h"
#include "support/RecordingEvents.h"
#include "update/AccessFile.h"
#include "update/ListLines.h"

#include <arpa/inet.h>

namespace palisor::fuzz {
namespace {

constexpr std::array<std::string_view, 6> kSeparators = {"\n", "\r\n", "\t", ",", "|", ";;"};
constexpr const char* kOutput = "out.txt";

std::uint8_t Byte(std::string_view bytes, std::size_t index) {
  return index < bytes.size() ? static_cast<std::uint8_t>(bytes[index]) : 0;
}

Settings SettingsFrom(std::string_view bytes, std::string_view charbf, std::string_view charaf) {
  Settings s;
  const std::uint8_t listMax = Byte(bytes, 0);
  s.LISTMAX = listMax >= 0xF0 ? std::numeric_limits<std::int32_t>::max() : 1 + listMax % 16;
  s.MASK = 16 + Byte(bytes, 1) % 17;
  const std::uint8_t flags = Byte(bytes, 2);
  s.SPC_PREV = (flags & 1) != 0;
  s.SPC_NEXT = (flags & 2) != 0;
  s.MERGE = (flags & 4) != 0;
  const std::uint8_t perLine = Byte(bytes, 11);
  s.PERLINE = perLine == 0 ? 0 : perLine >= 0xF0 ? kPerLineMax : 1 + perLine % 4;
  const std::uint8_t modes = Byte(bytes, 3);
  s.lists[kAnonymousList].mode = (modes & 1) != 0;
  s.lists[kNonAnonymousList].mode = (modes & 2) != 0;
  s.lists[kSquidList].mode = (modes & 4) != 0;
  s.lists[kRussia1List].mode = (modes & 8) != 0;
  s.lists[kRussia2List].mode = (modes & 16) != 0;
  s.lists[kCanadaList].mode = (modes & 32) != 0;
  s.LINESEP = std::string(kSeparators[Byte(bytes, 4) % kSeparators.size()]);
  for (int c = 0; c < kCountryCount; ++c) {
    // -1 ... 3: modes outside 0 ... 2 reach generation from a hand-edited file.
    s.lists[c].mode = static_cast<std::int16_t>(Byte(bytes, 5 + c) % 5 - 1);
  }
  // Padding brings the lines near Apache's limit, which inputs of a few kilobytes never reach.
  s.CHARBF = std::string(std::size_t{Byte(bytes, 12)} * 32, 'x') + std::string(charbf);
  s.CHARAF = std::string(charaf);
  s.LCFILE = std::string(" .\\") + kOutput + " ";
  return s;
}

std::string_view TrimSpacesOnly(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

// What a used address must be, checked apart from the parser: an address inet_pton reads
// (never IPv4-mapped) and a prefix length within the family's range.
void CheckAddress(const ListedAddress& a) {
  const std::string address(a.address);
  FUZZ_CHECK(address.find_first_not_of("0123456789abcdefABCDEF:.") == std::string::npos);
  in6_addr binary{};
  FUZZ_CHECK(inet_pton(a.ipv6 ? AF_INET6 : AF_INET, address.c_str(), &binary) == 1);
  FUZZ_CHECK(!a.ipv6 || !IN6_IS_ADDR_V4MAPPED(&binary));
  if (!a.prefix.empty()) {
    FUZZ_CHECK(a.prefix.size() >= 2 && a.prefix.size() <= 4 && a.prefix[0] == '/' &&
               a.prefix[1] != '0');
    const int bits = std::stoi(std::string(a.prefix.substr(1)));
    FUZZ_CHECK(bits >= (a.ipv6 ? 16 : 8) && bits <= (a.ipv6 ? 128 : 32));
  }
}

bool StartsWithNoCase(std::string_view text, std::string_view lower) {
  if (text.size() < lower.size())
    return false;
  for (std::size_t i = 0; i < lower.size(); ++i) {
    if ((text[i] | 0x20) != lower[i])
      return false;
  }
  return true;
}

// A country line written as it stands: a comment or an access line, without control bytes and
// without a backslash that would continue it onto the next line.
void CheckLineAsItStands(std::string_view line) {
  FUZZ_CHECK(!line.empty() && line.back() != '\\');
  for (const char c : line) {
    FUZZ_CHECK(c == '\t' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F));
  }
  FUZZ_CHECK(line[0] == '#' || StartsWithNoCase(line, "allow") || StartsWithNoCase(line, "deny"));
}

// Lines of a downloaded list: CR LF, a lone LF and a lone CR each end one line.
std::vector<std::string_view> ListLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) {
      break;
    }
    const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    text.remove_prefix(end + (crlf ? 2 : 1));
  }
  return lines;
}

// Lines of a user file: a CR or a CR LF ends a line; a lone LF stays inside it.
std::vector<std::string_view> UserFileLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\r');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) {
      break;
    }
    const bool crlf = end + 1 < text.size() && text[end + 1] == '\n';
    text.remove_prefix(end + (crlf ? 2 : 1));
  }
  // A byte-order mark is the file's, not its first line's.
  if (!lines.empty() && lines.front().starts_with("\xEF\xBB\xBF")) {
    lines.front().remove_prefix(3);
  }
  return lines;
}

std::string Normalised(std::string_view text, bool joined, bool before) {
  const std::string_view trimmed = TrimSpacesOnly(text);
  if (trimmed.empty()) {
    return {};
  }
  if (joined) {
    return std::string(trimmed);
  }
  return before ? std::string(trimmed) + " " : " " + std::string(trimmed);
}

__extension__ using U128 = unsigned __int128;

// The addresses of a set of networks as disjoint spans, and its cover computed top down: a
// block wholly inside is one network, a block partly inside is split in two, from the
// broadest blocks merging may write (/8, /16) down.
class Cover {
 public:
  void Add(const ListedAddress& a, int ipv4Bits) {
    const std::string text(a.address);
    std::array<unsigned char, 16> bytes{};
    FUZZ_CHECK(inet_pton(a.ipv6 ? AF_INET6 : AF_INET, text.c_str(), bytes.data()) == 1);
    const int width = a.ipv6 ? 128 : 32;
    U128 value = 0;
    for (int i = 0; i < width / 8; ++i)
      value = (value << 8) | bytes[static_cast<std::size_t>(i)];
    const int bits =
        a.prefix.empty() ? (a.ipv6 ? 128 : ipv4Bits) : std::stoi(std::string(a.prefix.substr(1)));
    const U128 host = bits == width ? 0 : (U128(1) << (width - bits)) - 1;
    Insert(a.ipv6 ? ipv6_ : ipv4_, value & ~host, value | host);
  }

  std::vector<std::string> Networks() const {
    std::vector<std::string> out;
    for (U128 root = 0; root < 256; ++root)
      Split(ipv4_, root << 24, 8, 32, out);
    for (U128 root = 0; root < 65536; ++root)
      Split(ipv6_, root << 112, 16, 128, out);
    return out;
  }

 private:
  using Spans = std::map<U128, U128>;  // first -> last, disjoint and not touching

  // Whether a span ending at `last` overlaps or touches one beginning at `first`.
  static bool Touches(U128 last, U128 first) { return first <= last || first - last == 1; }

  static void Insert(Spans& spans, U128 first, U128 last) {
    auto it = spans.upper_bound(first);
    if (it != spans.begin() && Touches(std::prev(it)->second, first))
      --it;
    while (it != spans.end() && Touches(last, it->first)) {
      first = std::min(first, it->first);
      last = std::max(last, it->second);
      it = spans.erase(it);
    }
    spans[first] = last;
  }

  // 1 inside, 0 outside, -1 partly.
  static int Within(const Spans& spans, U128 first, U128 last) {
    auto it = spans.upper_bound(first);
    if (it != spans.begin()) {
      const auto before = std::prev(it);
      if (before->second >= last)
        return 1;
      if (before->second >= first)
        return -1;
    }
    return it != spans.end() && it->first <= last ? -1 : 0;
  }

  static void Split(const Spans& spans, U128 first, int bits, int width,
                    std::vector<std::string>& out) {
    const U128 last = first | ((U128(1) << (width - bits)) - 1);
    const int within = Within(spans, first, last);
    if (within == 0)
      return;
    if (within == 1) {
      out.push_back(Format(first, bits, width));
      return;
    }
    Split(spans, first, bits + 1, width, out);
    Split(spans, first | (U128(1) << (width - bits - 1)), bits + 1, width, out);
  }

  static std::string Format(U128 value, int bits, int width) {
    std::array<unsigned char, 16> bytes{};
    for (int i = width / 8 - 1; i >= 0; --i, value >>= 8)
      bytes[static_cast<std::size_t>(i)] = static_cast<unsigned char>(value);
    std::array<char, INET6_ADDRSTRLEN> text{};
    inet_ntop(width == 32 ? AF_INET : AF_INET6, bytes.data(), text.data(), text.size());
    return std::string(text.data()) + (bits == width ? "" : "/" + std::to_string(bits));
  }

  Spans ipv4_;
  Spans ipv6_;
};

struct Expected {
  bool ok = true;
  std::string output;
  std::string charbf;
  std::string charaf;
};

constexpr std::size_t kLineMax = 8191;

// Apache's lines, written out plainly: LINESEP "\n" or "\r\n" (whose CR counts) ends them;
// with any other separator the file is not for Apache and nothing is measured. A line that
// ends in a backslash is joined with the next.
struct Lines {
  explicit Lines(std::string_view separator)
      : measured(separator == "\n" || separator == "\r\n"), cr(separator == "\r\n" ? 1 : 0) {}
  bool Fits(std::size_t length) const { return !measured || carried + length + cr <= kLineMax; }
  // A user line, which LFs may split further; false when a piece is too long.
  bool TakeUserLine(std::string_view line) {
    if (!measured)
      return true;
    for (;;) {
      const std::size_t lf = line.find('\n');
      const std::string_view piece = line.substr(0, lf);
      const std::size_t length = carried + piece.size() + (lf == std::string_view::npos ? cr : 0);
      if (length > kLineMax)
        return false;
      carried = piece.ends_with('\\') ? length : 0;
      if (lf == std::string_view::npos)
        return true;
      line.remove_prefix(lf + 1);
    }
  }
  bool measured;
  std::size_t cr;
  std::size_t carried = 0;
};

// The layout rules, written out plainly.
class Model {
 public:
  Model(const Settings& s, bool allow)
      : s_(s),
        lines_(s.LINESEP),
        perLine_(s.PERLINE != 0        ? s.PERLINE
                 : IsRequire(s.CHARBF) ? 100
                                       : 1),
        allow_(allow) {
    e.charbf = Normalised(s.CHARBF, s.SPC_PREV, true);
    e.charaf = Normalised(s.CHARAF, s.SPC_NEXT, false);
    mask_ = s.MASK == 32 ? "" : "/" + std::to_string(s.MASK);
  }

  Expected Run(std::optional<std::string_view> head, std::optional<std::string_view> tail,
               std::string_view country, std::string_view proxy, std::string_view overseas) {
    const bool addressGroups = s_.lists[kAnonymousList].mode || s_.lists[kNonAnonymousList].mode ||
                               s_.lists[kSquidList].mode || s_.lists[kRussia1List].mode ||
                               s_.lists[kRussia2List].mode || s_.lists[kCanadaList].mode;
    if (addressGroups &&
        (e.charaf.ends_with('\\') || !lines_.Fits(e.charbf.size() + 2 + e.charaf.size())))
      return Failed();
    // A head file's last line may not continue onto the first list line.
    if (head && (!UserFile(*head) || lines_.carried > 0))
      return Failed();
    int countrySum = 0;
    for (int c = 0; c < kCountryCount; ++c)
      countrySum += s_.lists[c].mode;
    if (countrySum > 0)
      s_.MERGE ? MergedCountry(country) : CountryList(country);
    std::vector<std::string_view> addressLists;
    if (s_.lists[kAnonymousList].mode || s_.lists[kNonAnonymousList].mode ||
        s_.lists[kSquidList].mode)
      addressLists.push_back(proxy);
    if (!overseas.empty() &&
        (s_.lists[kRussia1List].mode || s_.lists[kRussia2List].mode || s_.lists[kCanadaList].mode))
      addressLists.push_back(overseas);
    s_.MERGE ? MergedAddresses(addressLists) : Addresses(addressLists);
    if (tail && !UserFile(*tail))
      return Failed();
    return e;
  }

 private:
  static bool IsRequire(std::string_view charbf) {
    while (!charbf.empty() && (charbf.front() == ' ' || charbf.front() == '\t'))
      charbf.remove_prefix(1);
    return StartsWithNoCase(charbf, "require") &&
           (charbf.size() == 7 || charbf[7] == ' ' || charbf[7] == '\t');
  }

  Expected Failed() {
    e.ok = false;
    return e;
  }

  bool UserFile(std::string_view text) {
    for (const auto line : UserFileLines(text)) {
      if (!lines_.TakeUserLine(line))
        return false;
      e.output += std::string(line) + s_.LINESEP;
    }
    return true;
  }

  bool CapReached() const { return written_ >= static_cast<std::int64_t>(s_.LISTMAX); }

  void Close() {
    if (entries_.empty())
      return;
    std::string line = prefix_;
    for (std::size_t i = 0; i < entries_.size(); ++i)
      line += (i == 0 ? "" : " ") + entries_[i];
    e.output += line + suffix_ + s_.LINESEP;
    lines_.carried = 0;
    entries_.clear();
  }

  std::size_t OpenLength() const {
    std::size_t length = prefix_.size() + suffix_.size();
    for (const auto& entry : entries_)
      length += entry.size() + 1;
    return length - 1;
  }

  // false: the entry fits no line and is skipped.
  bool Entry(const std::string& prefix, const std::string& suffix, const std::string& entry) {
    if (!entries_.empty() && static_cast<std::int32_t>(entries_.size()) < perLine_ &&
        lines_.Fits(OpenLength() + 1 + entry.size())) {
      entries_.push_back(entry);
      ++written_;
      return true;
    }
    Close();
    if (!lines_.Fits(prefix.size() + entry.size() + suffix.size()))
      return false;
    prefix_ = prefix;
    suffix_ = suffix;
    entries_.push_back(entry);
    ++written_;
    return true;
  }

  void AsItStands(std::string_view text) {
    CheckLineAsItStands(text);
    Close();
    if (!lines_.Fits(text.size()))
      return;
    e.output += std::string(text) + s_.LINESEP;
    lines_.carried = 0;
    ++written_;
  }

  std::string CountryPrefix() const { return allow_ ? "allow from " : "deny from "; }

  void CountryList(std::string_view text) {
    for (const auto line : ListLines(text)) {
      if (CapReached())
        break;
      const CountryLine parsed = ParseCountryLine(line);
      if (parsed.form == CountryLine::Form::kAsItStands) {
        AsItStands(parsed.text);
      } else if (parsed.form == CountryLine::Form::kBareAddress) {
        CheckAddress(parsed.address);
        FUZZ_CHECK(!parsed.address.hadPort);
        Entry(CountryPrefix(), "",
              std::string(parsed.address.address) + std::string(parsed.address.prefix));
      }
    }
    Close();
  }

  void Addresses(const std::vector<std::string_view>& lists) {
    for (const auto text : lists) {
      for (const auto line : ListLines(text)) {
        if (CapReached())
          break;
        const auto address = ParseAddressLine(line);
        if (!address)
          continue;
        CheckAddress(*address);
        const std::string prefix =
            address->prefix.empty() && !address->ipv6 ? mask_ : std::string(address->prefix);
        Entry(e.charbf, e.charaf, std::string(address->address) + prefix);
      }
    }
    Close();
  }

  void MergedCountry(std::string_view text) {
    Cover cover;
    for (const auto line : ListLines(text)) {
      const CountryLine parsed = ParseCountryLine(line);
      if (parsed.form == CountryLine::Form::kAsItStands && parsed.text.front() != '#') {
        if (!CapReached())
          AsItStands(parsed.text);
      } else if (parsed.form == CountryLine::Form::kBareAddress) {
        cover.Add(parsed.address, 32);
      }
    }
    WriteCover(cover, CountryPrefix(), "");
  }

  void MergedAddresses(const std::vector<std::string_view>& lists) {
    Cover cover;
    for (const auto text : lists) {
      for (const auto line : ListLines(text)) {
        if (const auto address = ParseAddressLine(line)) {
          CheckAddress(*address);
          cover.Add(*address, s_.MASK);
        }
      }
    }
    WriteCover(cover, e.charbf, e.charaf);
  }

  void WriteCover(const Cover& cover, const std::string& prefix, const std::string& suffix) {
    for (const std::string& network : cover.Networks()) {
      if (CapReached())
        break;
      Entry(prefix, suffix, network);
    }
    Close();
  }

  const Settings& s_;
  Lines lines_;
  std::int32_t perLine_;
  bool allow_;
  std::string mask_;
  std::int64_t written_ = 0;
  std::string prefix_;
  std::string suffix_;
  std::vector<std::string> entries_;

 public:
  Expected e;
};

// Every line Apache reads is within its limit, measured on the bytes written, whatever the
// model says.
void CheckLineLengths(std::string_view written, std::string_view separator) {
  if (separator != "\n" && separator != "\r\n")
    return;
  std::size_t joined = 0;
  while (!written.empty()) {
    const std::size_t lf = written.find('\n');
    const std::string_view line = written.substr(0, lf);
    FUZZ_CHECK(joined + line.size() <= kLineMax);
    const bool continued = line.ends_with('\\') || line.ends_with("\\\r");
    joined = continued ? joined + line.size() : 0;
    if (lf == std::string_view::npos)
      break;
    written.remove_prefix(lf + 1);
  }
}

std::optional<std::string_view> OptionalPart(const std::vector<std::string_view>& parts,
                                             std::size_t index) {
  if (index < parts.size())
    return parts[index];
  return std::nullopt;
}

void PlaceUserFile(const char* name, std::optional<std::string_view> bytes) {
  const std::filesystem::path file = NativePath(name);
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  if (bytes)
    WriteBytes(file, *bytes);
}

std::set<std::string> FilesHere() {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

}  // namespace
}  // namespace palisor::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace palisor;
  using namespace palisor::fuzz;
  ScratchWorkingDirectory();
  const auto parts = SplitParts(AsText(data, size));
  Settings settings = SettingsFrom(parts[0], PartOr(parts, 1), PartOr(parts, 2));
  const auto head = OptionalPart(parts, 3);
  const auto tail = OptionalPart(parts, 4);
  PlaceUserFile(kHeadFile, head);
  PlaceUserFile(kTailFile, tail);
  const std::string_view country = PartOr(parts, 5);
  const std::string_view proxy = PartOr(parts, 6);
  const std::string_view overseas = PartOr(parts, 7);
  const bool allow = (Byte(parts[0], 10) & 1) != 0;
  Model model(settings, allow);
  const Expected expected = model.Run(head, tail, country, proxy, overseas);
  // Each input starts without an output, so a failed generation must leave none.
  std::error_code missing;
  std::filesystem::remove(kOutput, missing);
  std::set<std::string> expectedFiles = FilesHere();
  expectedFiles.insert(kOutput);  // and nothing else

  // The lines a run lets go of are never read: the file is the one the whole lists give.
  GroupLists lists{{{std::string(country), "country", allow}},
                   {{std::string(proxy), "proxy"}},
                   {{std::string(overseas), "overseas"}}};
  DropLinesPastListMax(lists.country.front(), ListForm::kCountry, settings);
  DropLinesPastListMax(lists.proxy.front(), ListForm::kAddress, settings);
  DropLinesPastListMax(lists.overseas.front(), ListForm::kAddress, settings);
  test::RecordingEvents events;
  events.keepLog = false;
  const Result<std::string> result =
      WriteAccessFile(std::move(lists), settings, events, events.token());
  FUZZ_CHECK(result.ok() == expected.ok);
  if (!expected.ok) {
    expectedFiles.erase(kOutput);
    FUZZ_CHECK(FilesHere() == expectedFiles);
    return 0;
  }
  const std::string written = ReadBytes(kOutput);
  FUZZ_CHECK(written == expected.output);
  FUZZ_CHECK(result.value == written);  // what the upload sends is what the file holds
  CheckLineLengths(written, settings.LINESEP);
  FUZZ_CHECK(FilesHere() == expectedFiles);
  return 0;
}
