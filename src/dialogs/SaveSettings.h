#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/Settings.h"

namespace palisor {

// The seventeen values the settings dialog edits, as its controls hold them, and the five
// country modes chosen through it.
struct SettingsDialogInputs {
  int check4 = 0;  // FTPSW
  int check1 = 0;  // MODE1 ... MODE6 from Check1, Check2, Check3, Check5, Check6, Check7
  int check2 = 0;
  int check3 = 0;
  int check5 = 0;
  int check6 = 0;
  int check7 = 0;
  std::string text1;   // SVNAME
  std::string text3;   // SVUSER
  std::string text4;   // SVPSWD
  std::string text2;   // SVPATH
  std::string text8;   // SVFILE
  std::string text11;  // CHARBF
  std::string text12;  // CHARAF
  std::string text6;   // LISTMAX
  std::string text9;   // MASK
  std::string text7;   // TMINT
  // IPG_JP ... IPG_KR
  std::array<std::int16_t, kCountryCount> countryModes{};
};

// The save step of the settings dialog's OK, from what the dialog `shown` at its opening and
// what it holds now (`edited`). Every persisted key but LCFILE and LINESEP is saved, in one
// atomic replacement of the file: a key whose normalised value the edit changed gets the new
// value; any other key keeps what the file holds now, so hand edits made meanwhile survive,
// and is only added, with its value as the file reads now, when the file lacks it.
// On success the settings become what the file now holds and secondsLeft restarts at TMINT.
// On failure nothing changes, and `error` names the file and the reason.
bool SaveSettings(const SettingsDialogInputs& shown, const SettingsDialogInputs& edited,
                  Module1& state, std::string& error, std::string_view file = kSettingsFile);

}  // namespace palisor
