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

// Publishes LCFILE as SVPATH + "/" + SVFILE on SVNAME, logged in as SVUSER / SVPSWD, all at
// once. With CHECKURL set, the site is asked before and after; when it answers with a server
// error it did not answer before, the previous file is put back and the stage fails. What the
// user must hear of even when it worked (plain FTP, a host key recorded, a check not made) is
// added to `warnings`.
StageResult UploadAccessFile(const Settings& settings, Transfer& transfer, std::stop_token stop,
                             std::vector<std::string>& warnings);

}  // namespace palisor
