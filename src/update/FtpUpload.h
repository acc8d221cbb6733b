#pragma once

#include <stop_token>
#include <string>
#include <vector>

#include "platform/Transfer.h"
#include "settings/Settings.h"
#include "update/History.h"
#include "update/Publishing.h"

namespace palisor {

// The SFTP host keys trusted, in the working folder.
inline constexpr const char* kKnownHostsFile = "palisor.known_hosts";

// Where the settings publish: SVPATH + "/" + SVFILE on SVNAME.
struct UploadTarget {
  ServerAddress server;
  Publication publication;  // without its bytes
};

// The target, or why the settings cannot publish: no usable server name, an empty or unsafe
// file name, or a LINESEP that Apache would not read as line ends. What the user must hear
// of even when it works (plain FTP) is added to `warnings`.
Result<UploadTarget> TargetOf(const Settings& settings, std::vector<std::string>& warnings);

// The history of the settings' target.
Result<History> HistoryOf(const Settings& settings);

// Kept version `number` of the settings' target, 1 the most recent.
Result<KeptVersion> KeptVersionOf(const Settings& settings, std::size_t number);

// Publishes `bytes`, the file this run wrote, to the target as Publish does, logged in as
// SVUSER / SVPSWD and asking CHECKURL when it is set.
Result<Published> UploadAccessFile(const Settings& settings, std::string bytes, Transfer& transfer,
                                   std::stop_token stop, std::vector<std::string>& warnings);

// Puts a kept version back on the target by the same way, with the check and its rollback.
Result<Published> RestoreVersion(const Settings& settings, const KeptVersion& version,
                                 Transfer& transfer, std::stop_token stop,
                                 std::vector<std::string>& warnings);

// What uploading `bytes` would do, writing nothing: an SFTP host key seen for the first time
// is trusted for this look only.
Result<PublishPreview> PreviewUpload(const Settings& settings, std::string bytes,
                                     Transfer& transfer, std::stop_token stop);

}  // namespace palisor
