#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace palisor {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;

std::string Describe(const std::filesystem::path& path, int err) {
  return path.string() + ": " + std::strerror(err);
}

// Where the bytes really go: a symbolic link is followed, a relative link against its folder,
// also when its target does not exist yet, so the link itself is never replaced.
std::filesystem::path ResolveLinks(const std::filesystem::path& target) {
  constexpr int kMaxLinks = 40;  // a loop of links is left to fail when the file is opened
  std::filesystem::path real = target;
  for (int i = 0; i < kMaxLinks; ++i) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(real, ec)) {
      break;
    }
    const auto next = std::filesystem::read_symlink(real, ec);
    if (ec) {
      break;
    }
    real = next.is_absolute() ? next : real.parent_path() / next;
  }
  return real;
}

bool WriteAll(int fd, std::string_view bytes, int& err) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      err = errno;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::optional<AtomicFile> AtomicFile::Open(const std::filesystem::path& target, std::string& error,
                                           mode_t newFileMode) {
  if (target.empty()) {
    error = "no output file named";
    return std::nullopt;
  }
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;

  // A device is opened by the name given: links such as /dev/stdout -> /proc/self/fd/1 ->
  // "pipe:[n]" lead nowhere when followed by hand.
  if (exists && !S_ISREG(existing.st_mode)) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
      error = Describe(target, errno);
      return std::nullopt;
    }
    return AtomicFile(fd, target, {});
  }
  const auto real = ResolveLinks(target);
  if (exists && ::access(real.c_str(), W_OK) != 0) {
    error = Describe(real, errno);
    return std::nullopt;
  }

  auto pattern = real;
  pattern += ".XXXXXX";
  std::string name = pattern.string();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    error = Describe(pattern, errno);
    return std::nullopt;
  }
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  if (exists) {
    // Keep the owner and permissions the user gave the file; the owner only when allowed.
    if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
      // Not ours to change: the file becomes the writer's, with the same permissions.
    }
    ::fchmod(fd, existing.st_mode & 07777);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, newFileMode & ~mask);
  }
  return AtomicFile(fd, real, name);
}

AtomicFile::AtomicFile(int fd, std::filesystem::path target, std::filesystem::path temporary)
    : fd_(fd), target_(std::move(target)), temporary_(std::move(temporary)) {
  buffer_.reserve(kBufferSize);
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      buffer_(std::move(other.buffer_)),
      failedErrno_(other.failedErrno_) {
  other.temporary_.clear();
}

AtomicFile::~AtomicFile() {
  Discard();
}

bool AtomicFile::Write(std::string_view bytes) {
  if (failedErrno_ != 0) {
    return false;
  }
  if (buffer_.size() + bytes.size() > kBufferSize) {
    if (!FlushBuffer()) {
      return false;
    }
    if (bytes.size() >= kBufferSize) {
      return WriteAll(fd_, bytes, failedErrno_);
    }
  }
  buffer_.append(bytes);
  return true;
}

bool AtomicFile::FlushBuffer() {
  if (failedErrno_ != 0) {
    return false;
  }
  const bool ok = WriteAll(fd_, buffer_, failedErrno_);
  buffer_.clear();
  return ok;
}

bool AtomicFile::Commit(std::string& error) {
  bool ok = FlushBuffer();
  if (ok && !temporary_.empty() && ::fsync(fd_) != 0) {
    failedErrno_ = errno;
    ok = false;
  }
  if (::close(std::exchange(fd_, -1)) != 0 && ok) {
    failedErrno_ = errno;
    ok = false;
  }
  if (ok && !temporary_.empty() && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
    failedErrno_ = errno;
    ok = false;
  }
  if (!ok) {
    error = Describe(target_, failedErrno_);
    Discard();
    return false;
  }
  temporary_.clear();
  return true;
}

void AtomicFile::Discard() {
  if (fd_ >= 0) {
    ::close(std::exchange(fd_, -1));
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

}  // namespace palisor
