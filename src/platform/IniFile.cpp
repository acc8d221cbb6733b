#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "platform/AtomicFile.h"
#include "platform/OwnFiles.h"
#include "platform/Text.h"

// Line ends: CR LF, a lone LF and a lone CR each end a line when reading. Lines a write adds
// follow the file's own style, taken from its first line end, so a file kept with CR LF by
// hand stays CR LF; a new file, or one without any line end yet, gets LF.

namespace palisor {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

enum class FileState { kRead, kMissing, kUnreadable };

// Reads the whole file. Only a regular file of at most kIniFileMax bytes counts: a directory,
// a pipe or a device is unreadable (and is not waited on). `reason` says why it was not read.
FileState ReadWholeFile(const std::filesystem::path& path, std::string& bytes,
                        std::string& reason) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    reason = std::strerror(errno);
    return errno == ENOENT ? FileState::kMissing : FileState::kUnreadable;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    reason = "not a regular file";
    return FileState::kUnreadable;
  }
  const auto tooLarge = [&reason] {
    reason = "larger than " + std::to_string(kIniFileMax >> 20) + " MB";
    return FileState::kUnreadable;
  };
  if (static_cast<std::uintmax_t>(info.st_size) > kIniFileMax) {
    return tooLarge();
  }
  bytes.clear();
  bytes.reserve(static_cast<std::size_t>(info.st_size));
  char chunk[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n == 0) {
      return FileState::kRead;
    }
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      reason = std::strerror(errno);
      return FileState::kUnreadable;
    }
    if (bytes.size() + static_cast<std::size_t>(n) > kIniFileMax) {  // it grew while read
      return tooLarge();
    }
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
}

// The file's bytes, or empty text when it cannot be read: the rules' answer for a missing file.
std::string BytesOrEmpty(const std::filesystem::path& path) {
  std::string bytes;
  std::string reason;
  if (ReadWholeFile(path, bytes, reason) != FileState::kRead) {
    bytes.clear();
  }
  return bytes;
}

bool IsBlankChar(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimLeadingBlanks(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && IsBlankChar(text[start])) {
    ++start;
  }
  return text.substr(start);
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    c = LowerAscii(c);
  }
  return lower;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) {
      return false;
    }
  }
  return true;
}

// One line of the file: its text is [begin, end), its line end [end, next).
struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t next = 0;

  bool HasLineEnd() const { return next > end; }
};

class LineCursor final {
 public:
  // Lines of `text` from `from`; a UTF-8 byte-order mark at the start of the file is skipped.
  explicit LineCursor(std::string_view text, std::size_t from = 0) : text_(text), pos_(from) {
    if (pos_ == 0 && text_.starts_with(kUtf8Bom)) {
      pos_ = kUtf8Bom.size();
    }
  }

  bool Next(Line& line) {
    if (pos_ >= text_.size()) {
      return false;
    }
    line.begin = pos_;
    line.end = FindLineEnd(pos_);
    if (line.end == text_.size()) {
      line.next = line.end;
    } else if (text_[line.end] == '\r' && line.end + 1 < text_.size() &&
               text_[line.end + 1] == '\n') {
      line.next = line.end + 2;
    } else {
      line.next = line.end + 1;
    }
    pos_ = line.next;
    return true;
  }

 private:
  // The first CR or LF from `from`, or the end of the text. memchr keeps large files fast;
  // the next LF is remembered, so a file of lone CRs is not searched to its end per line.
  std::size_t FindLineEnd(std::size_t from) {
    if (from > nextLf_ || !lfSearched_) {
      nextLf_ = Find('\n', from, text_.size());
      lfSearched_ = true;
    }
    return Find('\r', from, nextLf_);
  }

  // The first `c` in [from, to), or `to`.
  std::size_t Find(char c, std::size_t from, std::size_t to) const {
    const void* found = std::memchr(text_.data() + from, c, to - from);
    return found ? static_cast<std::size_t>(static_cast<const char*>(found) - text_.data()) : to;
  }

  std::string_view text_;
  std::size_t pos_;
  std::size_t nextLf_ = 0;
  bool lfSearched_ = false;
};

enum class LineKind { kBlank, kComment, kSection, kKey, kOther };

// What a line is, with the section name or the key name it carries.
struct ParsedLine {
  LineKind kind = LineKind::kBlank;
  std::string_view name;
  std::size_t valueBegin = 0;  // for a key: the offset just past its first '='
};

ParsedLine Parse(std::string_view text, const Line& line) {
  const std::string_view content = text.substr(line.begin, line.end - line.begin);
  const std::string_view rest = TrimLeadingBlanks(content);
  ParsedLine parsed;
  if (rest.empty()) {
    return parsed;
  }
  if (rest.front() == ';') {
    parsed.kind = LineKind::kComment;
  } else if (rest.front() == '[') {
    // The name runs to the first ']', or to the end of the line when there is none.
    const std::string_view inside = rest.substr(1);
    parsed.kind = LineKind::kSection;
    parsed.name = TrimBlanks(inside.substr(0, inside.find(']')));
  } else if (const auto equals = content.find('='); equals != std::string_view::npos) {
    parsed.kind = LineKind::kKey;
    parsed.name = TrimBlanks(content.substr(0, equals));
    parsed.valueBegin = line.begin + equals + 1;
  } else {
    parsed.kind = LineKind::kOther;
  }
  return parsed;
}

// The first copy of a section: only it is searched. Its keys are the lines after its
// section line up to the next section line.
struct SectionSpan {
  bool found = false;
  Line header;
  std::size_t end = 0;
};

SectionSpan FindSection(std::string_view text, std::string_view section) {
  SectionSpan span;
  LineCursor cursor(text);
  Line line;
  while (cursor.Next(line)) {
    const ParsedLine parsed = Parse(text, line);
    if (parsed.kind != LineKind::kSection) {
      continue;
    }
    if (span.found) {
      span.end = line.begin;
      return span;
    }
    if (EqualIgnoringCase(parsed.name, section)) {
      span.found = true;
      span.header = line;
    }
  }
  span.end = text.size();
  return span;
}

struct KeyLocation {
  bool found = false;
  Line line;
  std::size_t valueBegin = 0;
  std::optional<Line> lastKey;  // when not found: a new key goes right after this line
};

// Looks for `key` among the lines [begin, end) of one section body; the first of two equal
// keys wins.
KeyLocation FindKey(std::string_view text, std::size_t begin, std::size_t end,
                    std::string_view key) {
  KeyLocation where;
  const std::string_view body = text.substr(0, end);
  LineCursor cursor(body, begin);
  Line line;
  while (cursor.Next(line)) {
    const ParsedLine parsed = Parse(body, line);
    if (parsed.kind != LineKind::kKey) {
      continue;
    }
    if (EqualIgnoringCase(parsed.name, key)) {
      where.found = true;
      where.line = line;
      where.valueBegin = parsed.valueBegin;
      return where;
    }
    where.lastKey = line;
  }
  return where;
}

// Blanks trimmed, then one outer pair of the same quote mark removed.
std::string ValueAt(std::string_view text, const KeyLocation& where) {
  std::string_view value =
      TrimBlanks(text.substr(where.valueBegin, where.line.end - where.valueBegin));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

std::string_view LineEndStyle(std::string_view text) {
  const auto first = text.find_first_of("\r\n");
  if (first == std::string_view::npos || text[first] == '\n') {
    return "\n";
  }
  return (first + 1 < text.size() && text[first + 1] == '\n') ? "\r\n" : "\r";
}

bool HoldsLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// A write as one splice of the old bytes: [0, at) stays, `erase` bytes give way to `insert`,
// the rest stays.
struct Splice {
  std::size_t at = 0;
  std::size_t erase = 0;
  std::string insert;
};

Splice PlanWrite(std::string_view text, std::string_view section, std::string_view key,
                 std::string_view value) {
  const SectionSpan span = FindSection(text, section);
  const std::string_view eol = LineEndStyle(text);
  const std::string keyLine = std::string(key) + "=" + std::string(value);
  Splice splice;
  if (!span.found) {
    splice.at = text.size();
    const std::string_view content =
        text.starts_with(kUtf8Bom) ? text.substr(kUtf8Bom.size()) : text;
    const bool endsOpen = !content.empty() && content.back() != '\n' && content.back() != '\r';
    splice.insert = std::string(endsOpen ? eol : "") + "[" + std::string(section) + "]" +
                    std::string(eol) + keyLine + std::string(eol);
    return splice;
  }
  const KeyLocation where = FindKey(text, span.header.next, span.end, key);
  if (where.found) {
    // The file's spelling of the key, its spacing and its line end stay; only the value changes.
    splice.at = where.valueBegin;
    splice.erase = where.line.end - where.valueBegin;
    splice.insert = value;
    return splice;
  }
  const Line anchor = where.lastKey.value_or(span.header);
  splice.at = anchor.next;
  splice.insert = std::string(anchor.HasLineEnd() ? "" : eol) + keyLine + std::string(eol);
  return splice;
}

}  // namespace

IniSnapshot::IniSnapshot(const std::filesystem::path& file) : bytes_(BytesOrEmpty(file)) {}

IniSnapshot IniSnapshot::OfBytes(std::string bytes) {
  IniSnapshot snapshot;
  snapshot.bytes_ = std::move(bytes);
  return snapshot;
}

const std::optional<IniSnapshot::Body>& IniSnapshot::BodyOf(std::string_view section) const {
  const auto [it, added] = bodies_.try_emplace(LowerCase(section));
  if (added) {
    if (const SectionSpan span = FindSection(bytes_, section); span.found) {
      it->second = Body{span.header.next, span.end};
    }
  }
  return it->second;
}

std::optional<std::string> IniSnapshot::Find(std::string_view section, std::string_view key) const {
  if (const auto& body = BodyOf(section)) {
    const KeyLocation where = FindKey(bytes_, body->begin, body->end, key);
    if (where.found) {
      return ValueAt(bytes_, where);
    }
  }
  return std::nullopt;
}

std::string IniSnapshot::Get(std::string_view section, std::string_view key,
                             std::string_view fallback) const {
  return Find(section, key).value_or(std::string(fallback));
}

std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view fallback, const std::filesystem::path& file) {
  return IniSnapshot(file).Get(section, key, fallback);
}

std::optional<IniDocument> IniDocument::Read(const std::filesystem::path& file,
                                             std::string& error) {
  std::string bytes;
  std::string reason;
  switch (ReadWholeFile(file, bytes, reason)) {
    case FileState::kRead:
      return IniDocument(file, std::move(bytes));
    case FileState::kMissing:
      return IniDocument(file, {});
    case FileState::kUnreadable:
      break;
  }
  error = file.string() + ": " + reason;
  return std::nullopt;
}

bool IniDocument::Has(std::string_view section, std::string_view key) const {
  const SectionSpan span = FindSection(bytes_, section);
  return span.found && FindKey(bytes_, span.header.next, span.end, key).found;
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  // A line break would inject lines of its own into the file.
  if (HoldsLineBreak(section) || HoldsLineBreak(key) || HoldsLineBreak(value)) {
    return false;
  }
  const Splice splice = PlanWrite(bytes_, section, key, value);
  bytes_.replace(splice.at, splice.erase, splice.insert);
  return true;
}

void IniDocument::Remove(std::string_view section, std::string_view key) {
  const SectionSpan span = FindSection(bytes_, section);
  if (!span.found) {
    return;
  }
  if (const KeyLocation where = FindKey(bytes_, span.header.next, span.end, key); where.found) {
    bytes_.erase(where.line.begin, where.line.next - where.line.begin);
  }
}

bool IniDocument::Save(std::string& error) const {
  // The settings file holds the FTP password.
  auto out = AtomicFile::OpenPrivate(file_, error);
  if (!out) {
    return false;
  }
  out->Write(bytes_);  // a failed write is reported by the commit
  return out->Commit(error);
}

}  // namespace palisor
