#pragma once

#include <string>
#include <string_view>

namespace palisor {

// The line of --help both programs give --init.
inline constexpr std::string_view kInitOptionHelp =
    "  --init      write a commented sample palisor.ini, add2htaccess.txt and\n"
    "              add2htaccess2.txt in the folder and exit; no existing file is\n"
    "              written over\n";

// The commented palisor.ini of --init: every key in its section with its default, each after
// one comment line saying what it does and where the window edits it. It loads as the
// defaults.
std::string SampleSettingsText();

// Writes the sample palisor.ini (mode 0600) and commented add2htaccess.txt and
// add2htaccess2.txt in the working folder. When any of the three exists, or the folder is one
// others may write in, it writes none. Empty when done, else why not.
std::string WriteSampleFiles();

// --init of both programs: writes the sample files and says what to set next, or says on
// standard error, as "PROGRAM: ...", why not. The status to exit with.
int InitWorkingFolder(std::string_view program);

}  // namespace palisor
