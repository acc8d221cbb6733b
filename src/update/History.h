#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Result.h"

namespace palisor {

// Where the live files an upload replaced are kept, in the working folder, one folder per
// target (server, folder and name), readable by the user only.
inline constexpr const char* kHistoryFolder = "palisor.history";
// Replaced versions kept per target; the oldest goes first.
inline constexpr std::size_t kHistoryKept = 20;

// One kept version of a live file.
struct KeptVersion {
  std::filesystem::path file;  // relative to the working folder
  std::chrono::system_clock::time_point when;
  std::uintmax_t size = 0;
  std::size_t lines = 0;
};

// The history of one target, named as messages name it ("ftp://host/public_html/.htaccess").
class History final {
 public:
  History() = default;
  explicit History(std::string target);

  const std::string& target() const { return target_; }

  // Keeps `bytes`, the live file as it was read `when`, unless the most recent version holds
  // them already, and drops the versions past kHistoryKept. Gives the file it is kept as.
  Result<std::filesystem::path> Keep(std::string_view bytes,
                                     std::chrono::system_clock::time_point when);
  // The kept versions, the most recent first; none when nothing was kept yet.
  Result<std::vector<KeptVersion>> Versions() const;
  static Result<std::string> Read(const KeptVersion& version);

  // What Palisor itself generated and last published there; none when it never did.
  Result<std::optional<std::string>> LastPublished() const;
  Result<> RecordPublished(std::string_view generated);

 private:
  Result<> MakeFolder() const;
  Result<> WriteFile(const std::filesystem::path& file, std::string_view bytes) const;

  std::string target_;
  std::filesystem::path folder_;
};

}  // namespace palisor
