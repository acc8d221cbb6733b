#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include "platform/Paths.h"

namespace palisor {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;
// Short enough to answer `keepGoing` promptly, long enough that waiting costs no CPU.
constexpr int kWaitSliceMs = 50;

using Clock = std::chrono::steady_clock;

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

// Opens a device or FIFO for writing without waiting for a reader.
int OpenInPlace(const std::filesystem::path& target, const struct stat& existing,
                std::string& error) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENXIO && S_ISFIFO(existing.st_mode)) {
    error = target.string() + ": no program is reading this FIFO";
  } else if (fd < 0) {
    error = DescribeError(target, errno);
  }
  return fd;
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
    const int fd = OpenInPlace(target, existing, error);
    if (fd < 0) {
      return std::nullopt;
    }
    return AtomicFile(fd, target, {});
  }
  const auto real = ResolveLinks(target);
  if (exists && ::access(real.c_str(), W_OK) != 0) {
    error = DescribeError(real, errno);
    return std::nullopt;
  }

  auto pattern = real;
  pattern += ".XXXXXX";
  std::string name = pattern.string();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    error = DescribeError(pattern, errno);
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

// The rename lives in the folder: until the folder is on disk, a crash can bring back the
// previous file, or no file at all. A folder that cannot be opened for reading, or a file
// system that cannot sync folders, leaves it to the system.
bool AtomicFile::SyncFolder() {
  const std::filesystem::path parent = target_.parent_path();
  const std::filesystem::path folder = parent.empty() ? std::filesystem::path(".") : parent;
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
