#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/OwnFiles.h"

namespace palisor {

// An exclusive flock(2) on a file of its own, held until destruction, which removes the file
// and releases the lock; the kernel releases it too when the process dies, and the next
// holder reuses the file left behind. A holder that locked a file just removed by the
// previous one notices and takes the new file instead. A link, a FIFO or another user's file
// in its place is refused.
class LockFile final {
 public:
  // Takes the lock without waiting. Empty when another holder has it (`busy` is then true)
  // or the file cannot be created or locked (`error` says why).
  static std::optional<LockFile> TryTake(const std::filesystem::path& path, bool& busy,
                                         std::string& error);

  LockFile(LockFile&& other) noexcept;
  LockFile& operator=(LockFile&&) = delete;
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;
  ~LockFile();

 private:
  LockFile(UniqueFd fd, std::filesystem::path path);

  UniqueFd fd_;
  std::filesystem::path path_;
};

}  // namespace palisor
