#include "dialogs/SaveSettings.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

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
  s.MODE1 = in.check1 != 0;
  s.MODE2 = in.check2 != 0;
  s.MODE3 = in.check3 != 0;
  s.MODE4 = in.check5 != 0;
  s.MODE5 = in.check6 != 0;
  s.MODE6 = in.check7 != 0;
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
}

// The order matters: a first save lays the file out in it.
void WriteEveryKey(const Settings& s, std::string_view file) {
  // A failed write is not reported; the settings in memory already hold the new values.
  const auto write = [file](std::string_view section, std::string_view key,
                            std::string_view value) {
    static_cast<void>(WriteIniValue(section, key, value, file));
  };
  write("FTP", "SVNAME", s.SVNAME);
  write("FTP", "SVUSER", s.SVUSER);
  write("FTP", "SVPSWD", s.SVPSWD);
  write("FTP", "SVPATH", s.SVPATH);
  write("FTP", "SVFILE", s.SVFILE);
  write("ETC", "HOST2IP", FlagText(s.HOST2IP));
  write("ETC", "SPC_PREV", FlagText(s.SPC_PREV));
  write("ETC", "SPC_NEXT", FlagText(s.SPC_NEXT));
  write("ETC", "TMINT", std::to_string(s.TMINT));
  write("URL", "URL1", s.URL1);
  write("URL", "URL2", s.URL2);
  write("URL", "URL3", s.URL3);
  write("URL", "URL4", s.URL4);
  write("URL", "URL5", s.URL5);
  write("URL", "URL6", s.URL6);
  write("URL", "MASK", std::to_string(s.MASK));
  write("URL", "LISTMAX", std::to_string(s.LISTMAX));
  write("FTP", "FTPSW", FlagText(s.FTPSW));
  write("URL", "MODE1", FlagText(s.MODE1));
  write("URL", "MODE2", FlagText(s.MODE2));
  write("URL", "MODE3", FlagText(s.MODE3));
  write("URL", "MODE4", FlagText(s.MODE4));
  write("URL", "MODE5", FlagText(s.MODE5));
  write("URL", "MODE6", FlagText(s.MODE6));
  for (int c = 0; c < kCountryCount; ++c) {
    write("CNT", kCountryKeyNames[c].mode, std::to_string(s.CountryMode(static_cast<Country>(c))));
  }
  // Only the text written is trimmed; the addresses held stay as they are.
  for (int c = 0; c < kCountryCount; ++c) {
    write("CNT", kCountryKeyNames[c].allowList, TrimSpaces(s.countryListUrls[c][kModeAllow]));
  }
  for (int c = 0; c < kCountryCount; ++c) {
    write("CNT", kCountryKeyNames[c].denyList, TrimSpaces(s.countryListUrls[c][kModeDeny]));
  }
  write("EDIT", "CHARBF", s.CHARBF);
  write("EDIT", "CHARAF", s.CHARAF);
}

}  // namespace

void SaveSettings(const SettingsDialogInputs& inputs, Module1& state, std::string_view file) {
  // Every field is set before the first write, so a run reading the settings never sees
  // a half-saved mix.
  NormaliseInputs(inputs, state.settings);
  state.secondsLeft = state.settings.TMINT;
  WriteEveryKey(state.settings, file);
}

}  // namespace palisor
