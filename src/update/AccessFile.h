#pragma once

#include <chrono>
#include <string>

#include "platform/AtomicFile.h"
#include "settings/Settings.h"
#include "update/Host.h"
#include "update/Outcome.h"

namespace palisor {

// User files around the list lines, and the temporary file of each group, all in the
// working directory.
inline constexpr const char* kHeadFile = ".\\add2htaccess.txt";
inline constexpr const char* kTailFile = ".\\add2htaccess2.txt";
inline constexpr const char* kCountryTemp = ".\\proxy_cnt.tmp";
inline constexpr const char* kProxyTemp = ".\\proxy_cyber.tmp";
inline constexpr const char* kOverseasTemp = ".\\proxy_option.tmp";

// Writes the access file LCFILE from the three group texts: head file, country lines,
// proxy and overseas lines, tail file. The output is replaced atomically, so any failure
// leaves the previous file as it was. Normalises settings.CHARBF and settings.CHARAF. An
// output that is a device or FIFO may take no bytes for at most `outputStallLimit`.
StageResult WriteAccessFile(
    std::string countryText, std::string proxyText, std::string overseasText, Settings& settings,
    Host& host, std::chrono::milliseconds outputStallLimit = AtomicFile::kDefaultStallLimit);

}  // namespace palisor
