#include "update/ListLines.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>

#include "platform/Text.h"
#include "update/RunReport.h"

namespace palisor {
namespace {

constexpr std::size_t kQuotedBytes = 60;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Plain comparisons in lambdas the compiler inlines, rather than find_first_of: these run for
// every byte of lists of a million lines.
constexpr auto IsBlankChar = [](char c) { return c == ' ' || c == '\t'; };
constexpr auto EndsToken = [](char c) {
  return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '#';
};
constexpr auto IsDigit = [](char c) { return c >= '0' && c <= '9'; };
constexpr auto IsIpv6Char = [](char c) {
  return IsDigit(c) || c == '.' || c == ':' || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
};

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlankChar(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlankChar(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool IsDigits(std::string_view text, std::size_t maxDigits) {
  return !text.empty() && text.size() <= maxDigits &&
         std::all_of(text.begin(), text.end(), IsDigit);
}

// The length of the dotted quad `text` starts with, 0 for none: four numbers 0-255 of 1-3 digits
// joined by dots; no leading zeros ("010" may be meant as octal), no partial forms ("10.1"
// would be a whole /16).
std::size_t DottedQuadLength(std::string_view text) {
  std::size_t at = 0;
  for (int part = 1;; ++part) {
    const std::size_t start = at;
    int value = 0;
    while (at < text.size() && at - start < 3 && IsDigit(text[at])) {
      value = value * 10 + (text[at++] - '0');
    }
    const std::size_t digits = at - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) {
      return 0;
    }
    if (part == 4) {
      return at;
    }
    if (at == text.size() || text[at++] != '.') {
      return 0;
    }
  }
}

bool IsIpv4(std::string_view text) {
  return !text.empty() && DottedQuadLength(text) == text.size();
}

// The standard text forms inet_pton reads, which are Apache's; the character check first keeps
// NUL, zone indexes and anything else out. Apache refuses IPv4-mapped addresses
// (::ffff:a.b.c.d) as invalid, which takes the site down.
bool IsIpv6(std::string_view text) {
  std::array<char, INET6_ADDRSTRLEN> buffer{};
  if (text.empty() || text.size() >= buffer.size() ||
      !std::all_of(text.begin(), text.end(), IsIpv6Char)) {
    return false;
  }
  std::copy(text.begin(), text.end(), buffer.begin());
  in6_addr binary{};
  return inet_pton(AF_INET6, buffer.data(), &binary) == 1 && !IN6_IS_ADDR_V4MAPPED(&binary);
}

// "/n" with n in [low, high], written without leading zeros.
bool IsPrefix(std::string_view prefix, int low, int high) {
  if (prefix.empty()) {
    return true;
  }
  const std::string_view digits = prefix.substr(1);
  if (!IsDigits(digits, 3) || digits.front() == '0') {
    return false;
  }
  int bits = 0;
  for (const char digit : digits) {
    bits = bits * 10 + (digit - '0');
  }
  return bits >= low && bits <= high;
}

std::optional<ListedAddress> Checked(ListedAddress found) {
  const bool valid = found.ipv6 ? IsIpv6(found.address) && IsPrefix(found.prefix, 16, 128)
                                : IsIpv4(found.address) && IsPrefix(found.prefix, 8, 32);
  if (!valid) {
    return std::nullopt;
  }
  return found;
}

// "[v6]", "[v6]:port" or "[v6]/n".
std::optional<ListedAddress> ParseBracketed(std::string_view token) {
  const std::size_t close = token.find(']');
  if (close == std::string_view::npos) {
    return std::nullopt;
  }
  ListedAddress found{token.substr(1, close - 1), {}, true, false};
  const std::string_view after = token.substr(close + 1);
  if (!after.empty() && after.front() == ':') {
    if (!IsDigits(after.substr(1), 5)) {
      return std::nullopt;
    }
    found.hadPort = true;
  } else if (!after.empty() && after.front() == '/') {
    found.prefix = after;
  } else if (!after.empty()) {
    return std::nullopt;
  }
  return Checked(found);
}

// An address, network or (IPv4 only, without a network) address with port, all of one token.
std::optional<ListedAddress> ParseToken(std::string_view token) {
  if (token.empty()) {
    return std::nullopt;
  }
  if (token.front() == '[') {
    return ParseBracketed(token);
  }
  ListedAddress found{token, {}, false, false};
  if (const std::size_t slash = token.find('/'); slash != std::string_view::npos) {
    found.address = token.substr(0, slash);
    found.prefix = token.substr(slash);
  }
  const std::size_t colons = std::count(found.address.begin(), found.address.end(), ':');
  if (colons == 1 && found.prefix.empty()) {
    const std::size_t colon = found.address.find(':');
    if (!IsDigits(found.address.substr(colon + 1), 5)) {
      return std::nullopt;
    }
    found.address = found.address.substr(0, colon);
    found.hadPort = true;
  } else {
    found.ipv6 = colons > 1;
  }
  return Checked(found);
}

// The usual line, an IPv4 address with perhaps a port, its network or a comment, in one pass;
// nothing when the line is of any other form.
std::optional<ListedAddress> ParsePlainIpv4(std::string_view line) {
  const std::size_t quad = DottedQuadLength(line);
  if (quad == 0) {
    return std::nullopt;
  }
  ListedAddress found{line.substr(0, quad), {}, false, false};
  std::size_t at = quad;
  if (at < line.size() && (line[at] == ':' || line[at] == '/')) {
    const std::size_t start = at++;
    while (at < line.size() && IsDigit(line[at])) {
      ++at;
    }
    const std::string_view suffix = line.substr(start, at - start);
    if (suffix.front() == ':') {
      if (suffix.size() < 2 || suffix.size() > 6) {
        return std::nullopt;
      }
      found.hadPort = true;
    } else if (IsPrefix(suffix, 8, 32)) {
      found.prefix = suffix;
    } else {
      return std::nullopt;
    }
  }
  if (at < line.size() && !EndsToken(line[at])) {
    return std::nullopt;
  }
  return found;
}

// An argument of an "allow from" or "deny from" line: Apache reads it as it stands, so no
// brackets and no port.
bool IsPlainNetwork(std::string_view argument) {
  const auto found = ParseToken(argument);
  return found && !found->hadPort && argument.front() != '[';
}

bool StartsWithWord(std::string_view text, std::string_view word) {
  return text.size() > word.size() && IsBlankChar(text[word.size()]) &&
         StartsWithNoCase(text, word);
}

std::string_view SkipBlanks(std::string_view text) {
  const auto start = std::find_if_not(text.begin(), text.end(), IsBlankChar);
  return text.substr(static_cast<std::size_t>(start - text.begin()));
}

// "allow from" or "deny from" (any case, blanks between) and one or more plain networks.
bool IsAccessLine(std::string_view line) {
  std::string_view rest;
  if (StartsWithWord(line, "allow")) {
    rest = SkipBlanks(line.substr(5));
  } else if (StartsWithWord(line, "deny")) {
    rest = SkipBlanks(line.substr(4));
  } else {
    return false;
  }
  if (!StartsWithWord(rest, "from")) {
    return false;
  }
  rest = SkipBlanks(rest.substr(4));
  if (rest.empty()) {
    return false;
  }
  while (!rest.empty()) {
    const auto end = static_cast<std::size_t>(std::find_if(rest.begin(), rest.end(), IsBlankChar) -
                                              rest.begin());
    if (!IsPlainNetwork(rest.substr(0, end))) {
      return false;
    }
    rest = SkipBlanks(rest.substr(end));
  }
  return true;
}

// A comment ending in a backslash would continue onto the next line and swallow it; control
// bytes have no business in a comment.
bool IsSafeComment(std::string_view line) {
  return line.front() == '#' && line.back() != '\\' &&
         std::none_of(line.begin(), line.end(), [](char c) {
           const auto byte = static_cast<unsigned char>(c);
           return (byte < 0x20 && byte != '\t') || byte == 0x7F;
         });
}

}  // namespace

bool LineSplitter::Next(std::string_view& line) {
  if (rest_.empty()) {
    return false;
  }
  const auto found =
      std::find_if(rest_.begin(), rest_.end(), [](char c) { return c == '\n' || c == '\r'; });
  if (found == rest_.end()) {
    line = rest_;
    rest_ = {};
    return true;
  }
  const auto end = static_cast<std::size_t>(found - rest_.begin());
  line = rest_.substr(0, end);
  std::size_t next = end + 1;
  if (rest_[end] == '\r' && next < rest_.size() && rest_[next] == '\n') {
    ++next;
  }
  rest_.remove_prefix(next);
  return true;
}

std::optional<ListedAddress> ParseAddressLine(std::string_view line) {
  const std::string_view trimmed = Trimmed(line);
  if (auto plain = ParsePlainIpv4(trimmed)) {
    return plain;
  }
  const auto end = std::find_if(trimmed.begin(), trimmed.end(), EndsToken);
  return ParseToken(trimmed.substr(0, static_cast<std::size_t>(end - trimmed.begin())));
}

CountryLine ParseCountryLine(std::string_view line) {
  const std::string_view trimmed = Trimmed(line);
  if (trimmed.empty()) {
    return {};
  }
  if (IsSafeComment(trimmed) || IsAccessLine(trimmed)) {
    return {CountryLine::Form::kAsItStands, trimmed, {}};
  }
  if (const auto found = ParseAddressLine(trimmed); found && !found->hadPort) {
    return {CountryLine::Form::kBareAddress, {}, *found};
  }
  return {};
}

bool IsBlankLine(std::string_view line) {
  return Trimmed(line).empty();
}

bool LineUsed(std::string_view line, ListForm form) {
  if (form == ListForm::kAddress) {
    return ParseAddressLine(line).has_value();
  }
  return ParseCountryLine(line).form != CountryLine::Form::kSkipped;
}

std::optional<NoList> FindNoList(std::string_view body, ListForm form) {
  NoList found;
  LineSplitter lines(body);
  std::string_view line;
  while (lines.Next(line)) {
    ++found.lines;
    if (IsBlankLine(line)) {
      continue;
    }
    if (LineUsed(line, form)) {
      return std::nullopt;
    }
    if (found.firstLine.empty()) {
      found.firstLine = QuoteLine(Trimmed(line));
    }
  }
  if (found.firstLine.empty()) {
    return std::nullopt;
  }
  return found;
}

std::string DescribeNoList(const NoList& noList) {
  return "no address in " + CountOfLines(noList.lines) + "; first line " + noList.firstLine;
}

std::string QuoteLine(std::string_view line) {
  return "\"" + EscapeBytes(line.substr(0, kQuotedBytes), "\"") + "\"";
}

void DropByteOrderMark(std::string& body) {
  if (std::string_view(body).starts_with(kByteOrderMark)) {
    body.erase(0, kByteOrderMark.size());
  }
}

void DropByteOrderMark(std::string_view& text) {
  if (text.starts_with(kByteOrderMark)) {
    text.remove_prefix(kByteOrderMark.size());
  }
}

ApacheLineMeter::ApacheLineMeter(std::string_view separator) {
  const std::size_t end = separator.find_first_of("\r\n");
  measures_ = end != std::string_view::npos;
  if (!measures_) {
    return;
  }
  // Apache ends a line at an LF or a lone CR; the CR of a CR LF is part of the line.
  const bool crLf = separator[end] == '\r' && separator.substr(end + 1).starts_with('\n');
  head_ = end + (crLf ? 1 : 0);
  tail_ = separator.size() - separator.find_last_of("\r\n") - 1;
  backslashEndsLine_ = end == 0;
}

// A line ending in a backslash is continued by the next one, and the two count as one.
std::size_t ApacheLineMeter::WroteUserLine(std::string_view line) {
  if (!measures_) {
    return 0;
  }
  for (std::size_t number = 1;; ++number) {
    const std::size_t lf = line.find('\n');
    const bool last = lf == std::string_view::npos;
    const std::string_view piece = line.substr(0, lf);
    const std::size_t length = carried_ + piece.size() + (last ? head_ : 0);
    if (length > kApacheLineMax) {
      return number;
    }
    const bool continued = piece.ends_with('\\') && (!last || backslashEndsLine_);
    carried_ = continued ? length : 0;
    if (last) {
      carried_ += tail_;
      return 0;
    }
    line.remove_prefix(lf + 1);
  }
}

}  // namespace palisor
