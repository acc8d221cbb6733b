#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace palisor {

enum class TransferStatus {
  kOk,
  kFailed,   // the transfer failed; `error` says why
  kAborted,  // the caller asked to stop (the program is ending)
};

struct TransferResult {
  TransferStatus status = TransferStatus::kFailed;
  std::string body;   // a download's bytes, exactly as received (decompressed)
  std::string error;  // what libcurl or the server said, for a failure
};

// A transfer with a file server, or a check of an address.
struct ServerResult : TransferResult {
  bool missing = false;            // a fetched server file that is not there (kFailed)
  long httpStatus = 0;             // the status a checked address answered
  std::vector<std::string> notes;  // what the user must hear of even when it worked
};

// How a server name reaches its server.
enum class ServerProtocol {
  kFtp,    // "host[:port]" or "ftp://host[:port]": password and file in clear text
  kFtpes,  // "ftpes://host[:port]": FTP that must switch to TLS before the login
  kFtps,   // "ftps://host[:port]": FTP inside TLS from the first byte
  kSftp,   // "sftp://host[:port]": SSH
};

struct ServerAddress {
  ServerProtocol protocol = ServerProtocol::kFtp;
  std::string hostAndPort;
};

// The server name's protocol and host, or nothing when it is not one of the forms above
// (characters that would change a URL's meaning, such as a path or credentials, included).
std::optional<ServerAddress> ParseServerName(std::string_view name);

// A login on a file server. The password is handed to libcurl as such, never put into a URL.
struct ServerLogin {
  std::string server;  // one of the forms ParseServerName takes
  std::string user;
  std::string password;
  // SFTP: the host keys trusted; the key of a server not in it yet is recorded there.
  std::filesystem::path knownHosts;
};

// What an upload sends and where. The bytes travel under `temporaryName` in the target's
// folder and are renamed over the target only once they have all arrived.
struct FtpUpload {
  ServerLogin login;
  std::filesystem::path localFile;
  std::optional<std::string> bytes;  // sent instead of localFile when set
  std::string remotePath;            // taken from the server's root when it begins with "/"
  std::string temporaryName;
  // Where the live file waits for a moment on a server that will not rename over a file.
  std::string asideName;
};

// The transfer layer over libcurl: one transfer at a time. While a transfer runs it waits
// on its socket in short slices and calls `keepGoing` between them, so the window stays
// responsive; when that returns false the transfer is abandoned at once.
class Transfer final {
 public:
  using KeepGoing = std::function<bool()>;

  Transfer();
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // The limit for each whole transfer from now on.
  void SetRequestTimeout(std::chrono::milliseconds timeout);
  // A body larger than this is a failure rather than exhausted memory.
  void SetMaxBodyBytes(std::size_t bytes);
  // Certificates (PEM) trusted for every TLS transfer from now on, beside the system's own
  // store; an empty path trusts the system's store alone. A file that cannot be read fails
  // each TLS transfer.
  void SetExtraCaFile(std::filesystem::path pemFile);

  // HTTP or HTTPS GET; redirects followed (a few, to HTTP or HTTPS only, and from HTTPS to
  // HTTPS only); a final status outside 200 ... 299 is a failure.
  TransferResult Get(std::string_view url, const KeepGoing& keepGoing);

  // Publishes the upload's bytes on the server all at once: sent under the temporary name,
  // then renamed over the target in the same session. Whatever fails or is abandoned before
  // the rename leaves the target as it was, and the temporary file is removed where the
  // server can still be reached. FTP is binary and passive; the session ends with QUIT.
  ServerResult Put(const FtpUpload& upload, const KeepGoing& keepGoing);
  // The bytes of a server file; `missing` when the server has no such file.
  ServerResult Fetch(const ServerLogin& login, std::string_view remotePath,
                     const KeepGoing& keepGoing);
  // Deletes a server file.
  ServerResult Remove(const ServerLogin& login, std::string_view remotePath,
                      const KeepGoing& keepGoing);
  // The HTTP status `url` answers (`httpStatus`, kOk), whatever it is; redirects are not
  // followed. kFailed when no answer came.
  ServerResult Check(std::string_view url, const KeepGoing& keepGoing);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace palisor
