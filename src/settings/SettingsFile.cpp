#include "settings/SettingsFile.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "settings/NumberRule.h"

namespace palisor {
namespace {

// Every default list lives in one directory of one host under the reserved .example domain,
// so a default can never reach a real server by accident; only the file names are fixed.
constexpr std::string_view kDefaultListDirectory = "http://lists.palisor.example/proxy/";

std::string DefaultList(std::string_view fileName) {
  return std::string(kDefaultListDirectory) + std::string(fileName);
}

// A text that holds nothing but spaces is no text at all.
std::string EmptyIfBlank(std::string text) {
  return IsBlank(text) ? std::string() : text;
}

// Reads the keys of one settings file as ReadIniValue would, the file read only once.
class KeyReader final {
 public:
  explicit KeyReader(const IniSnapshot& snapshot) : snapshot_(snapshot) {}

  std::string Text(std::string_view section, std::string_view key,
                   std::string_view fallback) const {
    return snapshot_.Get(section, key, fallback);
  }
  bool Flag(std::string_view section, std::string_view key, std::string_view fallback) const {
    return ReadFlag(Text(section, key, fallback));
  }
  std::int32_t Int32(std::string_view section, std::string_view key,
                     std::string_view fallback) const {
    return ReadInt32(Text(section, key, fallback));
  }
  std::optional<std::int32_t> OptionalInt32(std::string_view section, std::string_view key) const {
    if (const auto text = snapshot_.Find(section, key)) {
      return ReadInt32(*text);
    }
    return std::nullopt;
  }
  std::int16_t Int16(std::string_view section, std::string_view key,
                     std::string_view fallback) const {
    return ReadInt16(Text(section, key, fallback));
  }

 private:
  const IniSnapshot& snapshot_;
};

ListSettings ListSettingsFrom(const KeyReader& read, const ListSource& source) {
  const std::string_view section = SectionOf(source);
  const std::string defaultMode = std::to_string(source.defaultMode);
  ListSettings list;
  list.url = read.Text(section, source.urlKey, DefaultList(source.defaultFile));
  if (source.group == ListGroup::kCountry) {
    list.denyUrl = read.Text(section, source.denyUrlKey, DefaultList(source.defaultDenyFile));
    list.mode = read.Int16(section, source.modeKey, defaultMode);
  } else {
    list.mode = read.Flag(section, source.modeKey, defaultMode) ? 1 : 0;
  }
  return list;
}

}  // namespace

std::string ReadIniValue(std::string_view section, std::string_view key, std::string_view file,
                         std::string_view fallback) {
  return GetProfileString(section, key, fallback, NativePath(file));
}

std::string DecodeLineSeparator(std::string_view code) {
  static constexpr std::pair<std::string_view, std::string_view> kCodes[] = {
      {"\\n", "\n"}, {"\\N", "\r\n"}, {"\\t", "\t"}, {"\\,", ","}, {"\\|", "|"}, {"", "\r\n"},
  };
  const std::string_view trimmed = TrimSpaces(code);
  for (const auto& [name, separator] : kCodes) {
    if (trimmed == name) {
      return std::string(separator);
    }
  }
  return std::string(code);
}

Settings SettingsFrom(const IniSnapshot& file) {
  const KeyReader read(file);
  Settings s;

  s.SVNAME = read.Text("FTP", "SVNAME", "");
  s.SVUSER = read.Text("FTP", "SVUSER", "");
  s.SVPSWD = read.Text("FTP", "SVPSWD", "");
  s.SVPATH = read.Text("FTP", "SVPATH", "");
  s.SVFILE = read.Text("FTP", "SVFILE", ".htaccess");
  s.LCFILE = read.Text("FTP", "LCFILE", ".\\htaccess.txt");
  s.CHECKURL = read.Text("FTP", "CHECKURL", "");
  s.CAFILE = read.Text("FTP", "CAFILE", "");
  s.OTHERLINES = ReadOtherLines(read.Text("FTP", "OTHERLINES", ""));

  // The space joins CHARBF to the address; a CHARBF of spaces only means no text at all.
  s.CHARBF = EmptyIfBlank(read.Text("EDIT", "CHARBF", "deny from") + " ");
  s.CHARAF = EmptyIfBlank(read.Text("EDIT", "CHARAF", ""));

  s.FTPSW = read.Flag("FTP", "FTPSW", "1");
  s.SPC_PREV = read.Flag("ETC", "SPC_PREV", "0");
  s.SPC_NEXT = read.Flag("ETC", "SPC_NEXT", "0");

  s.LINESEP = DecodeLineSeparator(read.Text("EDIT", "LINESEP", "\\n"));

  if (const auto perLine = read.OptionalInt32("EDIT", "PERLINE")) {
    s.PERLINE = std::clamp(*perLine, kPerLineMin, kPerLineMax);
  }
  s.MERGE = read.Flag("EDIT", "MERGE", "0");

  s.LISTMAX = std::max(read.Int32("URL", "LISTMAX", "9999"), std::int32_t{1});
  s.MASK = read.Int32("URL", "MASK", "32");
  if (s.MASK < 16 || s.MASK > 32) {
    s.MASK = 32;
  }
  s.TMINT = std::clamp(read.Int32("ETC", "TMINT", "3600"), std::int32_t{60}, std::int32_t{32767});

  for (std::size_t row = 0; row < kListCount; ++row) {
    s.lists[row] = ListSettingsFrom(read, kListSources[row]);
  }
  return s;
}

Settings LoadSettings(std::string_view file) {
  return SettingsFrom(IniSnapshot(NativePath(file)));
}

}  // namespace palisor
