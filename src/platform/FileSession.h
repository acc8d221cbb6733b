#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/KeepGoing.h"
#include "platform/Result.h"
#include "platform/ServerAddress.h"

namespace palisor {

// A login on a file server. The password is handed to libcurl as such, never put into a URL.
struct ServerLogin {
  std::string user;
  std::string password;
  // SFTP: the host keys trusted; the key of a server not in it yet is recorded there.
  std::filesystem::path knownHosts;
};

// One login on a file server for the steps of one job, over one connection that is opened
// again when the server dropped it and closed (FTP: QUIT) when the session ends. FTP is
// binary and passive. Each step's failure says what libcurl and the server said.
class FileSession {
 public:
  virtual ~FileSession() = default;

  // Logs in.
  virtual Result<> Connect(const KeepGoing& keepGoing) = 0;
  // The bytes of a server file; none when the server said plainly that there is no such
  // file (only SFTP does: an FTP refusal may mean no right to read as well).
  virtual Result<std::optional<std::string>> Read(const ServerPath& file,
                                                  const KeepGoing& keepGoing) = 0;
  // Writes `bytes` as the file, replacing one of that name.
  virtual Result<> Store(const ServerPath& file, std::string_view bytes,
                         const KeepGoing& keepGoing) = 0;
  // Renames the file within its folder; a server may refuse when `newName` exists.
  virtual Result<> Rename(const ServerPath& file, std::string_view newName,
                          const KeepGoing& keepGoing) = 0;
  virtual Result<> Delete(const ServerPath& file, const KeepGoing& keepGoing) = 0;
  // The names in a folder.
  virtual Result<std::vector<std::string>> List(std::string_view folder,
                                                const KeepGoing& keepGoing) = 0;

  // The limit for each step from now on.
  virtual void LimitEachStep(std::chrono::milliseconds limit) = 0;
  // What the user must hear of since the last call: a host key recorded for the first time.
  virtual std::vector<std::string> TakeNotes() = 0;
};

}  // namespace palisor
