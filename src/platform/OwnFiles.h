#pragma once

// The files a run keeps beside its settings (the log, the locks, the known hosts, the output)
// are written with the user's rights, often root's: none of them may be a link, a FIFO or a
// file that another user planted in its place, and the folder must be one where nobody else
// can plant them.

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <utility>

#include "platform/Result.h"

namespace palisor {

// Readable and writable by the owner alone, as a file holding a password must be.
inline constexpr mode_t kOwnerOnlyMode = S_IRUSR | S_IWUSR;

// A file descriptor, closed with its owner.
class UniqueFd final {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int get() const { return fd_; }

 private:
  int fd_ = -1;
};

// Why the file that lstat(2) or fstat(2) described is none the program may take for its own:
// a symbolic link (never followed), not a regular file, or another user's. Empty when it is.
std::string WhyNotOwnFile(const std::filesystem::path& path, const struct stat& info);

// An open file of the user's own, and what fstat(2) said of it when it was opened.
struct OwnFile {
  UniqueFd fd;
  struct stat info {};
};

// Opens `path` with open(2) `flags` (a file it creates gets `mode`, less the umask) when it
// is a regular file of the user's own: never through a symbolic link, and without waiting on
// a FIFO or a device in its place. A failure names the file and says why.
Result<OwnFile> OpenOwnFile(const std::filesystem::path& path, int flags,
                            mode_t mode = kOwnerOnlyMode);

// Whether anything, a dangling link included, has the name `path`.
bool NameTaken(const std::filesystem::path& path);

// Reads from the file's offset to its end, appending to `bytes`; false, with errno, when a
// read failed.
bool ReadToEnd(int fd, std::string& bytes);

// Why nothing may be written in the working folder: it belongs to another user than the user
// or root, or other users may write in it and no sticky bit keeps them from the user's files.
// Empty when it is safe.
std::string WhyUnsafeWorkingFolder();

// Takes every permission but the owner's reading and writing from `file`, a regular file of
// the user's own (0644 becomes 0600). Empty when done, or when there is no such file; else why
// not.
std::string MakeOwnerOnly(const std::filesystem::path& file);

}  // namespace palisor
