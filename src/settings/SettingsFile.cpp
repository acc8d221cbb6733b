#include "settings/SettingsFile.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "settings/NumberRule.h"
#include "settings/SettingKeys.h"

namespace palisor {
namespace {

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
  std::string Text(const SettingKey& key) const {
    return Text(key.section, key.name, key.fallback);
  }
  bool Flag(std::string_view section, std::string_view key, std::string_view fallback) const {
    return ReadFlag(Text(section, key, fallback));
  }
  bool Flag(const SettingKey& key) const { return Flag(key.section, key.name, key.fallback); }
  std::int32_t Int32(const SettingKey& key) const { return ReadInt32(Text(key)); }
  // Absent or blank: none.
  std::optional<std::int32_t> OptionalInt32(const SettingKey& key) const {
    if (const auto text = snapshot_.Find(key.section, key.name); text && !IsBlank(*text)) {
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
  list.url = read.Text(section, source.urlKey, DefaultListAddress(source.defaultFile));
  if (source.group == ListGroup::kCountry) {
    list.denyUrl =
        read.Text(section, source.denyUrlKey, DefaultListAddress(source.defaultDenyFile));
    list.mode = read.Int16(section, source.modeKey, defaultMode);
  } else {
    list.mode = read.Flag(section, source.modeKey, defaultMode) ? 1 : 0;
  }
  return list;
}

// Every default list lives in one directory of one host under the reserved .example domain,
// so a default can never reach a real server by accident; only the file names are fixed.
constexpr std::string_view kPlaceholderHost = "lists.palisor.example";
constexpr std::string_view kDefaultListDirectory = "http://lists.palisor.example/proxy/";

// The host of "scheme://user@host:port/path", as written.
std::string_view HostOf(std::string_view address) {
  const std::size_t scheme = address.find("://");
  std::string_view rest = scheme == std::string_view::npos ? address : address.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
    rest.remove_prefix(at + 1);
  }
  return rest.substr(0, rest.find(':'));
}
// The empty code comes last: CR LF is written as "\\N".
constexpr std::pair<std::string_view, std::string_view> kLineSeparatorCodes[] = {
    {"\\n", "\n"}, {"\\N", "\r\n"}, {"\\t", "\t"}, {"\\,", ","}, {"\\|", "|"}, {"", "\r\n"},
};

}  // namespace

std::string DefaultListAddress(std::string_view fileName) {
  return std::string(kDefaultListDirectory) + std::string(fileName);
}

bool IsPlaceholderAddress(std::string_view address) {
  const std::string_view host = HostOf(TrimSpaces(address));
  return host.size() == kPlaceholderHost.size() && StartsWithNoCase(host, kPlaceholderHost);
}

std::string ReadIniValue(std::string_view section, std::string_view key, std::string_view file,
                         std::string_view fallback) {
  return GetProfileString(section, key, fallback, NativePath(file));
}

std::string DecodeLineSeparator(std::string_view code) {
  const std::string_view trimmed = TrimSpaces(code);
  for (const auto& [name, separator] : kLineSeparatorCodes) {
    if (trimmed == name) {
      return std::string(separator);
    }
  }
  return std::string(code);
}

std::string EncodeLineSeparator(std::string_view separator) {
  for (const auto& [code, decoded] : kLineSeparatorCodes) {
    if (separator == decoded) {
      return std::string(code);
    }
  }
  return std::string(separator);
}

Settings SettingsFrom(const IniSnapshot& file) {
  const KeyReader read(file);
  Settings s;

  s.SVNAME = read.Text(keys::SVNAME);
  s.SVUSER = read.Text(keys::SVUSER);
  s.SVPSWD = read.Text(keys::SVPSWD);
  s.SVPATH = read.Text(keys::SVPATH);
  s.SVFILE = read.Text(keys::SVFILE);
  s.LCFILE = read.Text(keys::LCFILE);
  s.CHECKURL = read.Text(keys::CHECKURL);
  s.CAFILE = read.Text(keys::CAFILE);
  s.OTHERLINES = ReadOtherLines(read.Text(keys::OTHERLINES));

  // The space joins CHARBF to the address; a CHARBF of spaces only means no text at all.
  s.CHARBF = EmptyIfBlank(read.Text(keys::CHARBF) + " ");
  s.CHARAF = EmptyIfBlank(read.Text(keys::CHARAF));

  s.FTPSW = read.Flag(keys::FTPSW);
  s.SPC_PREV = read.Flag(keys::SPC_PREV);
  s.SPC_NEXT = read.Flag(keys::SPC_NEXT);

  s.LINESEP = DecodeLineSeparator(read.Text(keys::LINESEP));

  if (const auto perLine = read.OptionalInt32(keys::PERLINE)) {
    s.PERLINE = std::clamp(*perLine, kPerLineMin, kPerLineMax);
  }
  s.MERGE = read.Flag(keys::MERGE);

  s.LISTMAX = std::max(read.Int32(keys::LISTMAX), std::int32_t{1});
  s.MASK = read.Int32(keys::MASK);
  if (s.MASK < 16 || s.MASK > 32) {
    s.MASK = 32;
  }
  s.TMINT = std::clamp(read.Int32(keys::TMINT), std::int32_t{60}, std::int32_t{32767});

  for (std::size_t row = 0; row < kListCount; ++row) {
    s.lists[row] = ListSettingsFrom(read, kListSources[row]);
  }
  return s;
}

Settings LoadSettings(std::string_view file) {
  return SettingsFrom(IniSnapshot(NativePath(file)));
}

}  // namespace palisor
