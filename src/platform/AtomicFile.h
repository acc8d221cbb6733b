#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace palisor {

// Replaces a file all at once: the bytes go to a temporary beside the target, which is
// renamed over it only when everything was written and flushed, so no reader ever sees half
// a file and a failure leaves the previous file exactly as it was; the folder is synced
// after the rename, so the new name survives a crash. The target is never a symbolic link
// (the link is refused, not followed) nor a file of another user's, neither when opened nor
// when renamed over. A target that exists and is neither (a device, a FIFO) is written in
// place without ever blocking: a FIFO that no program reads fails at once, and one whose
// reader stops taking bytes fails after the stall limit.
class AtomicFile final {
 public:
  static constexpr std::chrono::milliseconds kDefaultStallLimit{600'000};

  // Opens the temporary for `target`. Fails, with the reason in `error`, when the target
  // exists but may not be written, or the temporary cannot be created. A new file gets
  // `newFileMode` (less the umask); an existing one keeps its permissions.
  static std::optional<AtomicFile> Open(const std::filesystem::path& target, std::string& error,
                                        mode_t newFileMode = 0666);
  // The same for a file of secrets: the file becomes readable and writable by its owner only
  // (0600), whatever it was, and fails to open where that cannot be set.
  static std::optional<AtomicFile> OpenPrivate(const std::filesystem::path& target,
                                               std::string& error);

  // Removes what writers of `target` that were killed before their commit left: regular
  // files of the user's own named as the temporaries are ("NAME.XXXXXX"). Only for a caller
  // that knows no other writer of `target` is at work.
  static void RemoveLeftovers(const std::filesystem::path& target);

  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&&) = delete;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();  // an uncommitted temporary is removed

  // How long a device or FIFO may take no bytes before the write fails, and what is asked
  // between the short waits for it; when that returns false the write is abandoned.
  void LimitWaits(std::chrono::milliseconds stallLimit, std::function<bool()> keepGoing);

  // Buffers the bytes; false once any write has failed (the failure sticks).
  bool Write(std::string_view bytes);

  // Flushes, syncs and renames the temporary over the target. False, with the reason, when
  // any write failed; the temporary is then removed and the target left alone.
  bool Commit(std::string& error);

  // True when the failure was the caller's `keepGoing` ending the write.
  bool abandoned() const { return abandoned_; }

 private:
  // `ownerOnly`: 0600 in any case, or no file.
  static std::optional<AtomicFile> OpenWith(const std::filesystem::path& target, std::string& error,
                                            mode_t newFileMode, bool ownerOnly);
  AtomicFile(int fd, std::filesystem::path target, std::filesystem::path temporary);
  bool FlushBuffer();
  bool WriteAll(std::string_view bytes);
  bool AwaitRoom(std::chrono::steady_clock::time_point lastProgress);
  bool StillReplaceable();
  bool SyncFolder();
  void Fail(int err);
  void Discard();

  int fd_ = -1;
  std::filesystem::path target_;
  std::filesystem::path temporary_;  // empty when writing a device in place
  std::string buffer_;
  std::string failure_;  // the first failure's reason; empty while all went well
  bool abandoned_ = false;
  std::chrono::milliseconds stallLimit_ = kDefaultStallLimit;
  std::function<bool()> keepGoing_;
};

}  // namespace palisor
