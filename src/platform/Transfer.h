#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

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

// Where an upload goes. The password is handed to libcurl as such, never put into a URL.
struct FtpUpload {
  std::string server;  // "host" or "host:port"
  std::string user;
  std::string password;
  std::filesystem::path localFile;
  std::string remotePath;  // taken from the server's root when it begins with "/"
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

  // Binary, passive FTP upload of the local file; the session ends with QUIT.
  TransferResult Put(const FtpUpload& upload, const KeepGoing& keepGoing);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace palisor
