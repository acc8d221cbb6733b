#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace palisor {

// Replaces a file all at once: the bytes go to a temporary beside the target, which is
// renamed over it only when everything was written and flushed, so no reader ever sees half
// a file and a failure leaves the previous file exactly as it was. A symbolic link is
// followed to its target; a target that exists and is not a regular file (a device) is
// written in place.
class AtomicFile final {
 public:
  // Opens the temporary for `target`. Fails, with the reason in `error`, when the target
  // exists but may not be written, or the temporary cannot be created. A new file gets
  // `newFileMode` (less the umask); an existing one keeps its permissions.
  static std::optional<AtomicFile> Open(const std::filesystem::path& target, std::string& error,
                                        mode_t newFileMode = 0666);

  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&&) = delete;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();  // an uncommitted temporary is removed

  // Buffers the bytes; false once any write has failed (the failure sticks).
  bool Write(std::string_view bytes);

  // Flushes, syncs and renames the temporary over the target. False, with the reason, when
  // any write failed; the temporary is then removed and the target left alone.
  bool Commit(std::string& error);

 private:
  AtomicFile(int fd, std::filesystem::path target, std::filesystem::path temporary);
  bool FlushBuffer();
  void Discard();

  int fd_ = -1;
  std::filesystem::path target_;
  std::filesystem::path temporary_;  // empty when writing a device in place
  std::string buffer_;
  int failedErrno_ = 0;
};

}  // namespace palisor
