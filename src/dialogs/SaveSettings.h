#pragma once

#include <string>
#include <string_view>

#include "settings/Settings.h"

namespace palisor {

// The seventeen values the settings dialog edits, as its controls hold them.
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
};

// The save step of the settings dialog's OK: normalises the inputs into the settings, resets
// secondsLeft to the new TMINT, then writes every persisted key but LCFILE and LINESEP.
void SaveSettings(const SettingsDialogInputs& inputs, Module1& state,
                  std::string_view file = kSettingsFile);

}  // namespace palisor
