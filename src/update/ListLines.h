#pragma once

// Which lines of a downloaded list reach the access file, and in what form. Apache reads an
// access file as configuration: a line it cannot parse answers every request with 500, and a
// line carrying any other directive is obeyed like the site owner's own. So only lines that
// Apache reads exactly as meant are used; every other line is skipped.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace palisor {

// Splits a text held in memory into lines: CR LF, a lone LF and a lone CR each end one line;
// a last line without a line end is a line too.
class LineSplitter final {
 public:
  explicit LineSplitter(std::string_view text) : rest_(text) {}
  bool Next(std::string_view& line);

 private:
  std::string_view rest_;
};

// An address or network as a list line gives it.
struct ListedAddress {
  std::string_view address;  // without brackets or port
  std::string_view prefix;   // its own "/n", or empty
  bool ipv6 = false;
  bool hadPort = false;
};

// A proxy or overseas list line: the address its first token holds, or nothing when the line
// is skipped.
std::optional<ListedAddress> ParseAddressLine(std::string_view line);

// What a country list line becomes.
struct CountryLine {
  enum class Form { kSkipped, kAsItStands, kBareAddress };
  Form form = Form::kSkipped;
  std::string_view text;  // kAsItStands: the line without its surrounding blanks
  ListedAddress address;  // kBareAddress: to be written after "allow from " or "deny from "
};
CountryLine ParseCountryLine(std::string_view line);

enum class ListForm { kAddress, kCountry };

bool LineUsed(std::string_view line, ListForm form);

// How the lines of one downloaded list fare, counted before anything is written.
struct ListScan {
  std::uint64_t lines = 0;
  std::uint64_t used = 0;
  std::uint64_t skipped = 0;              // blank lines are neither used nor skipped
  std::vector<std::string> firstSkipped;  // the first three, quoted
  std::string firstLine;                  // the first non-blank one, quoted
};
ListScan ScanList(std::string_view body, ListForm form);

// A line for a message: cut to 60 bytes, bytes other than printable ASCII written as \xNN,
// in double quotes.
std::string QuoteLine(std::string_view line);

// Joins a downloaded list to the text of its group: a UTF-8 byte-order mark at its start is
// dropped, and the text ends with a line end so the next list starts on a line of its own.
// Returns the list's own bytes in the text, without the line end added.
std::string_view AppendList(std::string& text, std::string body);

}  // namespace palisor
