#include "settings/SaveSettings.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "settings/NumberRule.h"
#include "settings/SettingsFile.h"

namespace palisor {
namespace {

// The field's value with its replacements for the two out-of-range sides.
struct NumberField {
  std::int32_t lowest;
  std::int32_t highest;
  std::int32_t belowReplacement;
  std::int32_t aboveReplacement;
};

constexpr NumberField kListMaxField{1, 9999, 1, 9999};
constexpr NumberField kMaskField{16, 32, 32, 32};
// Both sides fall back to the default interval, not to the nearer limit.
constexpr NumberField kIntervalField{60, 32767, 3600, 3600};

// Compared as a double, so a number beyond the 32-bit range simply lands on an
// out-of-range side and takes that side's replacement.
std::int32_t ReadNumberField(std::string_view text, const NumberField& field) {
  double value = RoundHalfEven(ReadNumber(text));
  if (std::isnan(value)) {
    value = 0;
  }
  if (value < field.lowest) {
    return field.belowReplacement;
  }
  if (value > field.highest) {
    return field.aboveReplacement;
  }
  return static_cast<std::int32_t>(value);
}

// A box holds one line, but a pasted text can bring line breaks along. The settings file
// cannot hold them (its writer refuses such a value, leaving the old one in the file while
// memory has the new), and in a user name or password they would split the FTP command.
std::string SingleLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (const char c : text) {
    if (c != '\r' && c != '\n') {
      line.push_back(c);
    }
  }
  return line;
}

std::string Trimmed(std::string_view text) {
  return std::string(TrimSpaces(SingleLine(text)));
}

// Only one slash goes: the user may mean a name that ends in one.
std::string TrimmedWithoutTrailingSlash(std::string_view text) {
  std::string trimmed = Trimmed(text);
  if (trimmed.ends_with('/')) {
    trimmed.pop_back();
  }
  return trimmed;
}

std::string SpacesOnlyToEmpty(std::string text) {
  return IsBlank(text) ? std::string() : text;
}

std::string FlagText(bool on) {
  return on ? "-1" : "0";
}

void NormaliseInputs(const SettingsDialogInputs& in, Settings& s) {
  s.FTPSW = in.check4 != 0;
  for (std::size_t i = 0; i < in.listChecks.size(); ++i) {
    s.lists[kCountryCount + i].mode = in.listChecks[i] != 0 ? 1 : 0;
  }
  s.SVNAME = TrimmedWithoutTrailingSlash(in.text1);
  s.SVUSER = Trimmed(in.text3);
  s.SVPSWD = Trimmed(in.text4);
  s.SVPATH = TrimmedWithoutTrailingSlash(in.text2);
  s.SVFILE = Trimmed(in.text8);
  if (s.SVFILE.empty()) {
    s.SVFILE = ".htaccess";
  }
  // The run trims these again and decides the separating spaces itself; the spaces kept
  // here only preserve what the file has always held.
  s.CHARBF = SpacesOnlyToEmpty(SingleLine(in.text11) + " ");
  s.CHARAF = SpacesOnlyToEmpty(" " + SingleLine(in.text12));
  s.LISTMAX = ReadNumberField(in.text6, kListMaxField);
  s.MASK = ReadNumberField(in.text9, kMaskField);
  s.TMINT = ReadNumberField(in.text7, kIntervalField);
  for (std::size_t c = 0; c < kCountryCount; ++c) {
    s.lists[c].mode = in.countryModes[c];
    s.lists[c].denyUrl = Trimmed(in.lists.denyUrls[c]);
  }
  for (std::size_t row = 0; row < kListCount; ++row) {
    s.lists[row].url = Trimmed(in.lists.urls[row]);
  }
}

// A key written only when the edit changed it; no text: the key is removed.
struct ChangedOnlyKey {
  std::string_view section;
  std::string_view key;
  std::optional<std::string> text;
};

// Their absence means something of its own (PERLINE, OTHERLINES), or files have never held
// them: a save that did not change them leaves them as they are, absent or not.
std::vector<ChangedOnlyKey> ChangedOnlyKeys(const ListDialogInputs& in) {
  std::string lcFile = Trimmed(in.lcFile);
  return {
      {"FTP", "CHECKURL", Trimmed(in.checkUrl)},
      {"FTP", "CAFILE", Trimmed(in.caFile)},
      {"FTP", "LCFILE", lcFile.empty() ? std::string(kDefaultOutputFile) : lcFile},
      {"FTP", "OTHERLINES", std::string(OtherLinesText(in.otherLines))},
      {"EDIT", "PERLINE",
       in.perLine == 0
           ? std::nullopt
           : std::optional(std::to_string(std::clamp(in.perLine, kPerLineMin, kPerLineMax)))},
      {"EDIT", "MERGE", FlagText(in.merge)},
      {"EDIT", "LINESEP", SingleLine(in.lineSep)},
  };
}

struct SavedKey {
  std::string_view section;
  std::string_view key;
  std::string text;
};

// One key of each country, or of each other list, in table order, with the text `text` makes
// of the list's settings.
constexpr bool kCountries = true;
constexpr bool kOtherLists = false;

template <typename Text>
void AddListKeys(std::vector<SavedKey>& keys, const Settings& s, bool countries,
                 std::string_view ListSource::*key, Text text) {
  for (std::size_t row = 0; row < kListCount; ++row) {
    const ListSource& source = kListSources[row];
    if ((source.group == ListGroup::kCountry) == countries) {
      keys.push_back({SectionOf(source), source.*key, text(s.lists[row])});
    }
  }
}

// Every saved key with the text it is written as. The order matters: a first save lays the
// file out in it.
std::vector<SavedKey> SavedKeys(const Settings& s) {
  std::vector<SavedKey> keys = {
      {"FTP", "SVNAME", s.SVNAME},
      {"FTP", "SVUSER", s.SVUSER},
      {"FTP", "SVPSWD", s.SVPSWD},
      {"FTP", "SVPATH", s.SVPATH},
      {"FTP", "SVFILE", s.SVFILE},
      // Nothing reads it any more, but files have always had it.
      {"ETC", "HOST2IP", "0"},
      {"ETC", "SPC_PREV", FlagText(s.SPC_PREV)},
      {"ETC", "SPC_NEXT", FlagText(s.SPC_NEXT)},
      {"ETC", "TMINT", std::to_string(s.TMINT)},
  };
  const auto url = [](const ListSettings& list) { return list.url; };
  const auto denyUrl = [](const ListSettings& list) { return list.denyUrl; };
  const auto flag = [](const ListSettings& list) { return FlagText(list.mode != 0); };
  const auto number = [](const ListSettings& list) { return std::to_string(list.mode); };
  AddListKeys(keys, s, kOtherLists, &ListSource::urlKey, url);
  keys.push_back({"URL", "MASK", std::to_string(s.MASK)});
  keys.push_back({"URL", "LISTMAX", std::to_string(s.LISTMAX)});
  keys.push_back({"FTP", "FTPSW", FlagText(s.FTPSW)});
  AddListKeys(keys, s, kOtherLists, &ListSource::modeKey, flag);
  AddListKeys(keys, s, kCountries, &ListSource::modeKey, number);
  AddListKeys(keys, s, kCountries, &ListSource::urlKey, url);
  AddListKeys(keys, s, kCountries, &ListSource::denyUrlKey, denyUrl);
  keys.push_back({"EDIT", "CHARBF", s.CHARBF});
  keys.push_back({"EDIT", "CHARAF", s.CHARAF});
  return keys;
}

Settings WithInputs(Settings s, const SettingsDialogInputs& inputs) {
  NormaliseInputs(inputs, s);
  return s;
}

// Reads the file, lets `edit` change the document and saves it in one atomic replacement;
// gives the settings the file then holds.
template <typename Edit>
Result<Settings> EditSettingsFile(std::string_view file, Edit edit) {
  // The absolute name, so that a failure says which file wherever the program was started.
  std::error_code ignored;
  std::string error;
  auto document = IniDocument::Read(std::filesystem::absolute(NativePath(file), ignored), error);
  if (!document) {
    return Result<Settings>::Failed(std::move(error));
  }
  edit(*document);
  if (!document->Save(error)) {
    return Result<Settings>::Failed(std::move(error));
  }
  return Result<Settings>::Ok(SettingsFrom(IniSnapshot::OfBytes(document->bytes())));
}

}  // namespace

ListDialogInputs ListInputsOf(const Settings& settings) {
  ListDialogInputs in;
  for (std::size_t row = 0; row < kListCount; ++row) {
    in.urls[row] = settings.lists[row].url;
  }
  for (std::size_t c = 0; c < kCountryCount; ++c) {
    in.denyUrls[c] = settings.lists[c].denyUrl;
  }
  in.checkUrl = settings.CHECKURL;
  in.caFile = settings.CAFILE;
  in.lcFile = settings.LCFILE;
  in.perLine = settings.PERLINE;
  in.merge = settings.MERGE;
  in.otherLines = settings.OTHERLINES;
  in.lineSep = EncodeLineSeparator(settings.LINESEP);
  return in;
}

Result<Settings> SaveSettings(const SettingsDialogInputs& shown, const SettingsDialogInputs& edited,
                              std::string_view file) {
  return EditSettingsFile(file, [&](IniDocument& document) {
    // The keys the dialog does not edit come from the file, never from memory.
    const Settings held = SettingsFrom(IniSnapshot::OfBytes(document.bytes()));
    const std::vector<SavedKey> before = SavedKeys(WithInputs(held, shown));
    const std::vector<SavedKey> after = SavedKeys(WithInputs(held, edited));
    for (std::size_t i = 0; i < after.size(); ++i) {
      const SavedKey& key = after[i];
      if (key.text != before[i].text || !document.Has(key.section, key.key)) {
        // Cannot be refused: no value read from a file or normalised holds a line break.
        static_cast<void>(document.Set(key.section, key.key, key.text));
      }
    }
    const std::vector<ChangedOnlyKey> shownKeys = ChangedOnlyKeys(shown.lists);
    const std::vector<ChangedOnlyKey> editedKeys = ChangedOnlyKeys(edited.lists);
    for (std::size_t i = 0; i < editedKeys.size(); ++i) {
      const ChangedOnlyKey& key = editedKeys[i];
      if (key.text == shownKeys[i].text) {
        continue;
      }
      if (key.text) {
        static_cast<void>(document.Set(key.section, key.key, *key.text));
      } else {
        document.Remove(key.section, key.key);
      }
    }
  });
}

Result<Settings> SaveSetting(std::string_view section, std::string_view key, std::string_view text,
                             std::string_view file) {
  return EditSettingsFile(file, [&](IniDocument& document) {
    // The callers' values are single words.
    static_cast<void>(document.Set(section, key, text));
  });
}

}  // namespace palisor
