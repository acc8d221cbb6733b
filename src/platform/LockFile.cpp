#include "platform/LockFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/Paths.h"

namespace palisor {
namespace {

// Each retry means another holder removed the file in between; more than a few in a row
// would take a storm of runs.
constexpr int kMaxAttempts = 8;

// The path still names the very file that `fd` locked.
bool StillNamed(int fd, const std::filesystem::path& path) {
  struct stat locked {};
  struct stat named {};
  return ::fstat(fd, &locked) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         locked.st_dev == named.st_dev && locked.st_ino == named.st_ino;
}

}  // namespace

std::optional<LockFile> LockFile::TryTake(const std::filesystem::path& path, bool& busy,
                                          std::string& error) {
  busy = false;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    // Never through a symbolic link nor on a FIFO: the lock must not create or remove a file
    // elsewhere, nor wait for a writer.
    Result<OwnFile> opened = OpenOwnFile(path, O_RDONLY | O_CREAT);
    if (!opened.ok()) {
      error = std::move(opened.error);
      return std::nullopt;
    }
    UniqueFd fd = std::move(opened.value.fd);
    int locked;
    do {
      locked = ::flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      busy = errno == EWOULDBLOCK;
      error = DescribeError(path, errno);
      return std::nullopt;
    }
    if (StillNamed(fd.get(), path)) {
      return LockFile(std::move(fd), path);
    }
  }
  error = path.string() + ": removed again and again while being locked";
  return std::nullopt;
}

LockFile::LockFile(UniqueFd fd, std::filesystem::path path)
    : fd_(std::move(fd)), path_(std::move(path)) {}

LockFile::LockFile(LockFile&& other) noexcept = default;

LockFile::~LockFile() {
  if (fd_.get() >= 0) {
    // Removed while still locked (the descriptor closes after), so no one can lock this file
    // after it is gone.
    ::unlink(path_.c_str());
  }
}

}  // namespace palisor
