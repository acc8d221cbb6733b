#pragma once

#include <filesystem>
#include <string>

namespace palisor {

// An exclusive lock on a file (flock), taken once without waiting and held while the object
// lives. The system drops it when the process ends in any way, so no stale lock outlives a
// crash; the file itself stays.
class FileLock final {
 public:
  enum class State { kHeld, kBusy, kFailed };  // kBusy: another process holds it

  explicit FileLock(const std::filesystem::path& file);  // created readable by its owner only
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

  State state() const { return state_; }
  const std::string& error() const { return error_; }  // why, when kFailed

 private:
  int fd_ = -1;
  State state_ = State::kFailed;
  std::string error_;
};

}  // namespace palisor
