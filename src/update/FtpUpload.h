#pragma once

#include "platform/Transfer.h"
#include "settings/Settings.h"
#include "update/Host.h"
#include "update/Outcome.h"

namespace palisor {

// Sends LCFILE to SVPATH + "/" + SVFILE on SVNAME, logged in as SVUSER / SVPSWD.
StageResult UploadAccessFile(const Settings& settings, Transfer& transfer, Host& host);

}  // namespace palisor
