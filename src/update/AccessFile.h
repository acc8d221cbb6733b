#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "settings/Settings.h"
#include "update/Host.h"
#include "update/Outcome.h"

namespace palisor {

// User files around the list lines, in the working directory.
inline constexpr const char* kHeadFile = ".\\add2htaccess.txt";
inline constexpr const char* kTailFile = ".\\add2htaccess2.txt";

// One downloaded country list: a bare address in it becomes "allow from" on the country's
// allow list and "deny from" on its deny list.
struct CountryList {
  std::string text;
  bool allow = true;
};

// Writes the access file LCFILE: head file, country lines, proxy and overseas lines, tail
// file. Only list lines Apache reads as meant are written (see ListLines.h); the others are
// skipped and do not count against LISTMAX. The output is replaced atomically, so any failure
// leaves the previous file as it was. Normalises settings.CHARBF and settings.CHARAF. When
// `linesWritten` is given it receives the number of list lines written. An output that is a
// device or FIFO may take no bytes for at most `outputStallLimit`.
StageResult WriteAccessFile(
    std::vector<CountryList> countryLists, std::string proxyText, std::string overseasText,
    Settings& settings, Host& host, std::uint64_t* linesWritten = nullptr,
    std::chrono::milliseconds outputStallLimit = AtomicFile::kDefaultStallLimit);

}  // namespace palisor
