#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Curl.h"
#include "platform/FileSession.h"
#include "platform/HttpDecoding.h"
#include "platform/KeepGoing.h"
#include "platform/Result.h"
#include "platform/ServerAddress.h"

namespace palisor {

// The transfer layer over libcurl: one transfer at a time. While a transfer runs it waits
// on its socket in short slices and calls `keepGoing` between them, so the window stays
// responsive; when that returns false the transfer is abandoned at once.
class Transfer final {
 public:
  Transfer();
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

  // HTTP or HTTPS GET of a body, exactly as received (decompressed); redirects followed (a
  // few, to HTTP or HTTPS only, and from HTTPS to HTTPS only); a final status outside
  // 200 ... 299 is a failure, and so is a body larger than the limit set, or than `tighter`.
  Result<std::string> Get(std::string_view url, const KeepGoing& keepGoing,
                          const std::optional<BodyLimit>& tighter = {});

  // The HTTP status `url` answers, whatever it is; redirects are not followed. A failure
  // when no answer came.
  Result<long> Check(std::string_view url, const KeepGoing& keepGoing);

  // A session with a file server, under the limits set so far.
  std::unique_ptr<FileSession> OpenSession(const ServerAddress& server, const ServerLogin& login);

 private:
  curl::Multi multi_;
  curl::Limits limits_;
};

}  // namespace palisor
