#pragma once

// Which lines of a downloaded list reach the access file, and in what form. Apache reads an
// access file as configuration: a line it cannot parse answers every request with 500, and a
// line carrying any other directive is obeyed like the site owner's own. So only lines that
// Apache reads exactly as meant are used; every other line is skipped.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// Which rules a list's lines follow: address lines (proxy and overseas lists) or country lines.
enum class ListForm { kAddress, kCountry };

// True for a line of spaces and tabs only.
bool IsBlankLine(std::string_view line);

// Whether a line of a list of `form` reaches the access file.
bool LineUsed(std::string_view line, ListForm form);

// A downloaded list with text but not one usable line (an HTML page, a JSON body): how many
// lines it has and its first non-blank line, quoted.
struct NoList {
  std::uint64_t lines = 0;
  std::string firstLine;
};
// Nothing when the list has a usable line or no text at all; reading stops at the first
// usable line.
std::optional<NoList> FindNoList(std::string_view body, ListForm form);

// "no address in 7 lines; first line "<!DOCTYPE html>"": why such a list fails.
std::string DescribeNoList(const NoList& noList);

// A line for a message: cut to 60 bytes, in double quotes; bytes other than printable ASCII,
// and quotes and backslashes, written as \xNN so the quote stays unambiguous.
std::string QuoteLine(std::string_view line);

// Apache reads at most 8,191 bytes to a line of an access file (the line end not counted, the
// CR of a CR LF counted); a longer line, or lines a trailing backslash joins into a longer
// one, answers every request with 500.
inline constexpr std::size_t kApacheLineMax = 8191;

// The line Apache is reading as an access file is written, so that no line passes the limit.
// A separator without a line end makes the file one line, which is not for Apache (it is not
// uploaded): nothing is measured then.
class ApacheLineMeter final {
 public:
  explicit ApacheLineMeter(std::string_view separator);

  // Whether a line of `length` bytes that ends in no backslash, then the separator, fits.
  bool Fits(std::size_t length) const {
    return !measures_ || carried_ + length + head_ <= kApacheLineMax;
  }
  // After such a line and its separator were written.
  void Wrote() { carried_ = tail_; }
  // After a user file's line and the separator were written: the number of the first line
  // within it (an LF inside ends one for Apache) that passed the limit, or 0.
  std::size_t WroteUserLine(std::string_view line);
  // Whether the last line written ends in a backslash that joins the next line to it.
  bool Continued() const { return carried_ > tail_; }

 private:
  bool measures_ = false;
  std::size_t head_ = 0;            // the separator's bytes before its line end
  std::size_t tail_ = 0;            // ... and after it, which begin the next line
  bool backslashEndsLine_ = false;  // the separator begins with its line end
  std::size_t carried_ = 0;         // the line so far, continued lines included
};

// Drops a UTF-8 byte-order mark from the start of a downloaded list or a user file: before
// an address Apache reads a host name, before a directive an unknown command (500).
void DropByteOrderMark(std::string& body);
void DropByteOrderMark(std::string_view& text);

}  // namespace palisor
