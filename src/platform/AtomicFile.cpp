#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include "platform/OwnFiles.h"
#include "platform/Paths.h"

namespace palisor {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;
// Short enough to answer `keepGoing` promptly, long enough that waiting costs no CPU.
constexpr int kWaitSliceMs = 50;

using Clock = std::chrono::steady_clock;

constexpr std::string_view kTemporarySuffix = ".XXXXXX";

// A name mkstemp could have made from `prefix` ("NAME."): six letters or digits more.
bool IsTemporaryName(std::string_view name, std::string_view prefix) {
  constexpr std::size_t kRandomPart = kTemporarySuffix.size() - 1;
  if (name.size() != prefix.size() + kRandomPart || !name.starts_with(prefix)) {
    return false;
  }
  return std::all_of(name.end() - kRandomPart, name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  });
}

std::filesystem::path FolderOf(const std::filesystem::path& file) {
  const std::filesystem::path parent = file.parent_path();
  return parent.empty() ? std::filesystem::path(".") : parent;
}

// A FIFO whose reader went away raises SIGPIPE, which would end a process that keeps the
// default action (the window). Blocked on this thread while writing, a SIGPIPE raised
// meanwhile is taken back and the write fails with EPIPE instead.
class SigpipeBlocked final {
 public:
  SigpipeBlocked() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~SigpipeBlocked() {
    if (!pendingBefore_) {
      const timespec now{};
      while (sigtimedwait(&pipe_, nullptr, &now) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SigpipeBlocked(const SigpipeBlocked&) = delete;
  SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

 private:
  sigset_t pipe_;
  sigset_t previous_;
  bool pendingBefore_ = false;
};

// Opens a device or FIFO for writing without waiting for a reader; only the one that
// `existing` describes, never another put in its place meanwhile.
int OpenInPlace(const std::filesystem::path& target, const struct stat& existing,
                std::string& error) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENXIO && S_ISFIFO(existing.st_mode)) {
    error = target.string() + ": no program is reading this FIFO";
    return fd;
  }
  if (fd < 0) {
    error = DescribeError(target, errno);
    return fd;
  }
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || opened.st_dev != existing.st_dev ||
      opened.st_ino != existing.st_ino) {
    ::close(fd);
    error = target.string() + ": replaced by another file while being opened";
    return -1;
  }
  return fd;
}

// Gives the temporary the permissions the file is to have; false, with errno, when a file of
// secrets cannot have its own.
bool GivePermissions(int fd, const struct stat* existing, mode_t newFileMode, bool ownerOnly) {
  if (ownerOnly) {
    return ::fchmod(fd, kOwnerOnlyMode) == 0;
  }
  if (existing != nullptr) {
    // The group as well where the user may give it (a file the web server's group reads).
    if (::fchown(fd, static_cast<uid_t>(-1), existing->st_gid) != 0) {
      // Not a group of the user's: the file takes the user's own, with the same permissions.
    }
    ::fchmod(fd, existing->st_mode & 07777);
    return true;
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, newFileMode & ~mask);
  return true;
}

}  // namespace

std::optional<AtomicFile> AtomicFile::Open(const std::filesystem::path& target, std::string& error,
                                           mode_t newFileMode) {
  return OpenWith(target, error, newFileMode, false);
}

std::optional<AtomicFile> AtomicFile::OpenPrivate(const std::filesystem::path& target,
                                                  std::string& error) {
  return OpenWith(target, error, kOwnerOnlyMode, true);
}

std::optional<AtomicFile> AtomicFile::OpenWith(const std::filesystem::path& target,
                                               std::string& error, mode_t newFileMode,
                                               bool ownerOnly) {
  if (target.empty()) {
    error = "no output file named";
    return std::nullopt;
  }
  struct stat existing {};
  const bool exists = ::lstat(target.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode)) {
    const int fd = OpenInPlace(target, existing, error);
    if (fd < 0) {
      return std::nullopt;
    }
    return AtomicFile(fd, target, {});
  }
  if (exists) {
    error = WhyNotOwnFile(target, existing);
    if (error.empty() && ::access(target.c_str(), W_OK) != 0) {
      error = DescribeError(target, errno);
    }
    if (!error.empty()) {
      return std::nullopt;
    }
  }

  const std::string pattern = target.string() + std::string(kTemporarySuffix);
  std::string name = pattern;
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    error = DescribeError(pattern, errno);
    return std::nullopt;
  }
  if (!GivePermissions(fd, exists ? &existing : nullptr, newFileMode, ownerOnly)) {
    error = target.string() +
            ": cannot be made readable by its owner only: " + std::strerror(errno) +
            "; it was not written";
    ::close(fd);
    ::unlink(name.c_str());
    return std::nullopt;
  }
  return AtomicFile(fd, target, name);
}

void AtomicFile::RemoveLeftovers(const std::filesystem::path& target) {
  const std::string prefix = target.filename().string() + ".";
  if (prefix.size() == 1) {
    return;
  }
  std::error_code ec;
  for (auto entry = std::filesystem::directory_iterator(FolderOf(target), ec);
       !ec && entry != std::filesystem::directory_iterator(); entry.increment(ec)) {
    const std::filesystem::path& path = entry->path();
    struct stat info {};
    if (IsTemporaryName(path.filename().string(), prefix) && ::lstat(path.c_str(), &info) == 0 &&
        WhyNotOwnFile(path, info).empty()) {
      ::unlink(path.c_str());
    }
  }
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
      failure_(std::move(other.failure_)),
      abandoned_(other.abandoned_),
      stallLimit_(other.stallLimit_),
      keepGoing_(std::move(other.keepGoing_)) {
  other.temporary_.clear();
}

AtomicFile::~AtomicFile() {
  Discard();
}

void AtomicFile::LimitWaits(std::chrono::milliseconds stallLimit, std::function<bool()> keepGoing) {
  stallLimit_ = stallLimit;
  keepGoing_ = std::move(keepGoing);
}

bool AtomicFile::Write(std::string_view bytes) {
  if (!failure_.empty()) {
    return false;
  }
  if (buffer_.size() + bytes.size() > kBufferSize) {
    if (!FlushBuffer()) {
      return false;
    }
    if (bytes.size() >= kBufferSize) {
      return WriteAll(bytes);
    }
  }
  buffer_.append(bytes);
  return true;
}

bool AtomicFile::FlushBuffer() {
  if (!failure_.empty()) {
    return false;
  }
  const bool ok = WriteAll(buffer_);
  buffer_.clear();
  return ok;
}

bool AtomicFile::WriteAll(std::string_view bytes) {
  std::optional<SigpipeBlocked> quietPipe;
  if (temporary_.empty()) {
    quietPipe.emplace();
  }
  auto lastProgress = Clock::now();
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      lastProgress = Clock::now();
    } else if (errno == EAGAIN) {
      if (!AwaitRoom(lastProgress)) {
        return false;
      }
    } else if (errno != EINTR) {
      Fail(errno);
      return false;
    }
  }
  return true;
}

// Waits a short while for a full device or FIFO to take bytes again.
bool AtomicFile::AwaitRoom(Clock::time_point lastProgress) {
  pollfd room{fd_, POLLOUT, 0};
  ::poll(&room, 1, kWaitSliceMs);
  if (keepGoing_ && !keepGoing_()) {
    abandoned_ = true;
    failure_ = target_.string() + ": writing was abandoned";
    return false;
  }
  if (Clock::now() - lastProgress >= stallLimit_) {
    failure_ = target_.string() + ": nothing has read the bytes written to it within the time-out";
    return false;
  }
  return true;
}

bool AtomicFile::Commit(std::string& error) {
  bool ok = FlushBuffer();
  if (ok && !temporary_.empty() && ::fsync(fd_) != 0) {
    Fail(errno);
    ok = false;
  }
  if (::close(std::exchange(fd_, -1)) != 0 && ok) {
    Fail(errno);
    ok = false;
  }
  if (ok && !temporary_.empty() && !StillReplaceable()) {
    ok = false;
  }
  if (ok && !temporary_.empty() && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
    Fail(errno);
    ok = false;
  }
  if (!ok) {
    error = failure_;
    Discard();
    return false;
  }
  const bool renamed = !temporary_.empty();
  temporary_.clear();
  if (renamed && !SyncFolder()) {
    error = failure_;
    return false;
  }
  return true;
}

// What was put at the target's name since it was opened (a link, another user's file) is
// not replaced, as it would not have been opened.
bool AtomicFile::StillReplaceable() {
  struct stat now {};
  if (::lstat(target_.c_str(), &now) != 0) {
    return true;
  }
  failure_ = WhyNotOwnFile(target_, now);
  return failure_.empty();
}

// The rename lives in the folder: until the folder is on disk, a crash can bring back the
// previous file, or no file at all. A folder that cannot be opened for reading, or a file
// system that cannot sync folders, leaves it to the system.
bool AtomicFile::SyncFolder() {
  const std::filesystem::path folder = FolderOf(target_);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return true;
  }
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
  if (!synced) {
    failure_ = DescribeError(folder, errno);
  }
  ::close(fd);
  return synced;
}

void AtomicFile::Fail(int err) {
  if (failure_.empty()) {
    failure_ = DescribeError(target_, err);
  }
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
