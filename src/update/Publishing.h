#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSession.h"
#include "platform/KeepGoing.h"
#include "platform/Result.h"
#include "update/History.h"
#include "update/LiveFile.h"
#include "update/Outcome.h"

namespace palisor {

// What is published and where.
struct Publication {
  ServerPath target;   // the live file on the server
  std::string where;   // the target as messages name it: "ftp://host/public_html/.htaccess"
  std::string source;  // the local file, as messages name it
  std::string bytes;   // the file as this run generated it
  // The site owner's own lines in the live file: kept around Palisor's block, replaced with
  // the rest, or a reason to send nothing.
  OtherLines otherLines = OtherLines::kReplace;
  std::string lineEnd = "\n";  // ends the block's marker lines
  // A kept version put back: uploaded as it is, and not taken for what Palisor generated.
  bool restoring = false;
};

// How a publication ended besides its outcome.
struct Published {
  bool unchanged = false;             // the live file already held these bytes: nothing was sent
  std::filesystem::path keptAs;       // where the live file it replaced (or refused to) was kept
  std::size_t ownerLinesRefused = 0;  // nothing went for this many of the owner's own lines
};

// The HTTP status the site answers now.
using SiteCheck = std::function<Result<long>(const KeepGoing& keepGoing)>;

// Publishes the bytes all at once. The live file is read first and kept in `history` before
// anything replaces it; one that already holds what would be sent is left alone, and one
// with lines of the site owner's own is treated as publication.otherLines says. The bytes
// travel under a temporary name in the target's folder and are renamed over the live file
// only once they have all arrived; a server that will not rename over a file gets it in two
// steps, the live file moved aside for the moment. Whatever fails or is abandoned leaves the
// live file as it was, or says plainly where it is.
//
// With `check` set, the site is asked before and after; when it answers with a server error
// it did not answer before, the previous file is put back (or the new one removed, when the
// server said there was none) and the stage fails. What the user must hear of even when it
// worked is added to `warnings`.
Result<Published> Publish(const Publication& publication, FileSession& session, History& history,
                          const SiteCheck& check, std::vector<std::string>& warnings,
                          const KeepGoing& keepGoing);

// What a publication would do, without writing anything anywhere.
struct PublishPreview {
  std::optional<std::string> live;  // none: the server says there is no live file, or hides it
  std::string unreadable;           // why the live file could not be read, when it could not
  Composed composed;
};
Result<PublishPreview> PreviewPublish(const Publication& publication, FileSession& session,
                                      const History& history, const KeepGoing& keepGoing);

}  // namespace palisor
