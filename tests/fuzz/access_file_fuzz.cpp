// Generation from arbitrary group texts, head and tail files and settings: the output must
// be exactly what the layout rules make of the lines the list-line rules use, which also means
// that no more than LISTMAX list lines are written and every proxy or overseas line is prefix +
// address + mask + suffix + LINESEP. Every used line must also pass an independent check of
// what Apache reads as meant. No other file may be created.
//
// Input parts, separated by "@@\n": settings bytes, CHARBF, CHARAF, head file, tail file,
// country text, proxy text, overseas text. A head or tail part that is missing means no file.

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <string>

#include "FuzzSupport.h"
#include "platform/Paths.h"
#include "support/RecordingHost.h"
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
  const std::uint8_t modes = Byte(bytes, 3);
  s.MODE1 = (modes & 1) != 0;
  s.MODE2 = (modes & 2) != 0;
  s.MODE3 = (modes & 4) != 0;
  s.MODE4 = (modes & 8) != 0;
  s.MODE5 = (modes & 16) != 0;
  s.MODE6 = (modes & 32) != 0;
  s.LINESEP = std::string(kSeparators[Byte(bytes, 4) % kSeparators.size()]);
  for (int c = 0; c < kCountryCount; ++c) {
    // -1 ... 3: modes outside 0 ... 2 reach generation from a hand-edited file.
    s.CountryMode(static_cast<Country>(c)) = static_cast<std::int16_t>(Byte(bytes, 5 + c) % 5 - 1);
  }
  s.CHARBF = std::string(charbf);
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

struct Expected {
  std::string output;
  std::string charbf;
  std::string charaf;
};

// The layout rules, written out plainly.
Expected Layout(const Settings& s, std::optional<std::string_view> head,
                std::optional<std::string_view> tail, std::string_view country,
                std::string_view proxy, std::string_view overseas, bool allow) {
  Expected e;
  e.charbf = Normalised(s.CHARBF, s.SPC_PREV, true);
  e.charaf = Normalised(s.CHARAF, s.SPC_NEXT, false);
  const std::string mask = s.MASK == 32 ? "" : "/" + std::to_string(s.MASK);
  if (head) {
    for (const auto line : UserFileLines(*head))
      e.output += std::string(line) + s.LINESEP;
  }
  std::int64_t lineNo = 1;
  int countrySum = 0;
  for (int c = 0; c < kCountryCount; ++c)
    countrySum += s.CountryMode(static_cast<Country>(c));
  if (countrySum > 0) {
    for (const auto line : ListLines(country)) {
      if (lineNo > s.LISTMAX)
        break;
      const CountryLine parsed = ParseCountryLine(line);
      if (parsed.form == CountryLine::Form::kSkipped)
        continue;
      if (parsed.form == CountryLine::Form::kAsItStands) {
        CheckLineAsItStands(parsed.text);
        e.output += std::string(parsed.text) + s.LINESEP;
      } else {
        CheckAddress(parsed.address);
        FUZZ_CHECK(!parsed.address.hadPort);
        e.output += std::string(allow ? "allow from " : "deny from ") +
                    std::string(parsed.address.address) + std::string(parsed.address.prefix) +
                    s.LINESEP;
      }
      ++lineNo;
    }
  }
  const auto addresses = [&](std::string_view text) {
    for (const auto line : ListLines(text)) {
      if (lineNo > s.LISTMAX)
        break;
      const auto address = ParseAddressLine(line);
      if (!address)
        continue;
      CheckAddress(*address);
      const std::string prefix =
          address->prefix.empty() && !address->ipv6 ? mask : std::string(address->prefix);
      e.output += e.charbf + std::string(address->address) + prefix + e.charaf + s.LINESEP;
      ++lineNo;
    }
  };
  if (s.MODE1 || s.MODE2 || s.MODE3)
    addresses(proxy);
  if (!overseas.empty() && (s.MODE4 || s.MODE5 || s.MODE6))
    addresses(overseas);
  if (tail) {
    for (const auto line : UserFileLines(*tail))
      e.output += std::string(line) + s.LINESEP;
  }
  return e;
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
  const Expected expected = Layout(settings, head, tail, country, proxy, overseas, allow);
  std::set<std::string> expectedFiles = FilesHere();
  expectedFiles.insert(kOutput);  // and nothing else

  test::RecordingHost host;
  host.keepLog = false;
  const StageResult result = WriteAccessFile({{{std::string(country), "country", allow}},
                                              {{std::string(proxy), "proxy"}},
                                              {{std::string(overseas), "overseas"}}},
                                             settings, host);
  FUZZ_CHECK(result.ok());
  FUZZ_CHECK(ReadBytes(kOutput) == expected.output);
  FUZZ_CHECK(settings.CHARBF == expected.charbf);
  FUZZ_CHECK(settings.CHARAF == expected.charaf);
  FUZZ_CHECK(FilesHere() == expectedFiles);
  return 0;
}
