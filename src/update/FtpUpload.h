#pragma once

#include <stop_token>
#include <string>
#include <vector>

#include "platform/Transfer.h"
#include "settings/Settings.h"
#include "update/Outcome.h"

namespace palisor {

// The SFTP host keys trusted, in the working folder.
inline constexpr const char* kKnownHostsFile = "palisor.known_hosts";

// Publishes LCFILE as SVPATH + "/" + SVFILE on SVNAME, logged in as SVUSER / SVPSWD, as
// Publish does, asking CHECKURL when it is set. What the user must hear of even when it
// worked (plain FTP, a host key recorded, a check not made) is added to `warnings`.
StageResult UploadAccessFile(const Settings& settings, Transfer& transfer, std::stop_token stop,
                             std::vector<std::string>& warnings);

}  // namespace palisor
