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
    // Never through a symbolic link: the lock must not create or remove a file elsewhere.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      error = DescribeError(path, errno);
      return std::nullopt;
    }
    int locked;
    do {
      locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      const int err = errno;
      ::close(fd);
      busy = err == EWOULDBLOCK;
      error = DescribeError(path, err);
      return std::nullopt;
    }
    if (StillNamed(fd, path)) {
      return LockFile(fd, path);
    }
    ::close(fd);
  }
  error = path.string() + ": removed again and again while being locked";
  return std::nullopt;
}

LockFile::LockFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}

LockFile::LockFile(LockFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

LockFile::~LockFile() {
  if (fd_ >= 0) {
    // Removed while still locked, so no one can lock this file after it is gone.
    ::unlink(path_.c_str());
    ::close(fd_);
  }
}

}  // namespace palisor
