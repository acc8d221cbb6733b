#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/FileSession.h"
#include "platform/KeepGoing.h"
#include "platform/Result.h"
#include "update/Outcome.h"

namespace palisor {

// What is published and where.
struct Publication {
  ServerPath target;   // the live file on the server
  std::string where;   // the target as messages name it: "ftp://host/public_html/.htaccess"
  std::string source;  // the local file, as messages name it
  std::string bytes;
};

// The HTTP status the site answers now.
using SiteCheck = std::function<Result<long>(const KeepGoing& keepGoing)>;

// Publishes the bytes all at once: they travel under a temporary name in the target's folder
// and are renamed over the live file only once they have all arrived; a server that will not
// rename over a file gets it in two steps, the live file moved aside for the moment. Whatever
// fails or is abandoned leaves the live file as it was, or says plainly where it is.
//
// With `check` set, the site is asked before and after; when it answers with a server error
// it did not answer before, the previous file is put back (or the new one removed, when the
// server said there was none) and the stage fails. What the user must hear of even when it
// worked is added to `warnings`.
StageResult Publish(const Publication& publication, FileSession& session, const SiteCheck& check,
                    std::vector<std::string>& warnings, const KeepGoing& keepGoing);

}  // namespace palisor
