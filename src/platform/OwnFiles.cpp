#include "platform/OwnFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/Paths.h"

namespace palisor {
namespace {

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    UniqueFd closing(std::exchange(fd_, std::exchange(other.fd_, -1)));
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

std::string WhyNotOwnFile(const std::filesystem::path& path, const struct stat& info) {
  if (S_ISLNK(info.st_mode)) {
    return path.string() + ": a symbolic link, which Palisor does not follow";
  }
  if (!S_ISREG(info.st_mode)) {
    return path.string() + ": not a regular file";
  }
  if (info.st_uid != ::geteuid()) {
    return path.string() + ": belongs to another user (uid " + std::to_string(info.st_uid) + ")";
  }
  return {};
}

Result<OwnFile> OpenOwnFile(const std::filesystem::path& path, int flags, mode_t mode) {
  OwnFile file;
  file.fd = UniqueFd(::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
  if (file.fd.get() < 0) {
    const int err = errno;
    struct stat named {};
    std::string why = ::lstat(path.c_str(), &named) == 0 ? WhyNotOwnFile(path, named) : "";
    return Result<OwnFile>::Failed(why.empty() ? DescribeError(path, err) : std::move(why));
  }
  if (::fstat(file.fd.get(), &file.info) != 0) {
    return Result<OwnFile>::Failed(DescribeError(path, errno));
  }
  if (std::string why = WhyNotOwnFile(path, file.info); !why.empty()) {
    return Result<OwnFile>::Failed(std::move(why));
  }
  // Only the open had to be spared a wait; a regular file's reads and writes never wait.
  ::fcntl(file.fd.get(), F_SETFL, ::fcntl(file.fd.get(), F_GETFL) & ~O_NONBLOCK);
  return Result<OwnFile>::Ok(std::move(file));
}

bool NameTaken(const std::filesystem::path& path) {
  struct stat named {};
  return ::lstat(path.c_str(), &named) == 0 || errno != ENOENT;
}

bool ReadToEnd(int fd, std::string& bytes) {
  char chunk[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0) {
      return true;
    }
    if (n < 0 && errno != EINTR) {
      return false;
    }
    if (n > 0) {
      bytes.append(chunk, static_cast<std::size_t>(n));
    }
  }
}

std::string WhyUnsafeWorkingFolder() {
  std::error_code unnamed;
  std::filesystem::path folder = std::filesystem::current_path(unnamed);
  if (unnamed) {
    folder = ".";
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    return DescribeError(folder, errno);
  }
  if (info.st_uid != ::geteuid() && info.st_uid != 0) {
    return "the working folder " + folder.string() + " belongs to another user (uid " +
           std::to_string(info.st_uid) + "), who could put links or files in place of Palisor's";
  }
  // The sticky bit keeps others from renaming or removing the user's files; what they put
  // there themselves is refused file by file.
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0) {
    return "the working folder " + folder.string() + " may be written by other users (mode " +
           ModeText(info.st_mode) +
           "), who could put links or files in place of Palisor's; make it writable by its "
           "owner only (chmod go-w)";
  }
  return {};
}

std::string MakeOwnerOnly(const std::filesystem::path& file) {
  if (!NameTaken(file)) {
    return {};
  }
  Result<OwnFile> opened = OpenOwnFile(file, O_RDONLY);
  if (!opened.ok()) {
    return opened.error;
  }
  const mode_t mode = opened.value.info.st_mode & 07777;
  if ((mode & ~kOwnerOnlyMode) != 0 &&
      ::fchmod(opened.value.fd.get(), mode & kOwnerOnlyMode) != 0) {
    return DescribeError(file, errno);
  }
  return {};
}

}  // namespace palisor
