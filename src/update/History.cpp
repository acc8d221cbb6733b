#include "update/History.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "update/LiveFile.h"

namespace palisor {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPublishedFile = "published";
constexpr const char* kTargetFile = "target";
// Versions are named by the UTC time they were read: "20261208T091500Z.123".
constexpr std::size_t kVersionNameSize = 20;

// A readable folder name for the target, and a hash of all of it so that two targets the
// readable part cannot tell apart still get folders of their own.
std::string FolderName(std::string_view target) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  std::string readable;
  for (const char c : target) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    if (readable.size() < 80) {
      readable.push_back(plain ? c : '_');
    }
  }
  char suffix[18];
  std::snprintf(suffix, sizeof suffix, "-%016llx", static_cast<unsigned long long>(hash));
  return readable + suffix;
}

std::string VersionName(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char name[32];
  const std::size_t length = std::strftime(name, sizeof name, "%Y%m%dT%H%M%SZ", &utc);
  std::snprintf(name + length, sizeof name - length, ".%03lld", static_cast<long long>(millis));
  return name;
}

std::optional<std::chrono::system_clock::time_point> TimeOfVersion(const std::string& name) {
  std::tm utc{};
  int millis = 0;
  if (name.size() != kVersionNameSize ||
      std::sscanf(name.c_str(), "%4d%2d%2dT%2d%2d%2dZ.%3d", &utc.tm_year, &utc.tm_mon, &utc.tm_mday,
                  &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &millis) != 7) {
    return std::nullopt;
  }
  utc.tm_year -= 1900;
  utc.tm_mon -= 1;
  return std::chrono::system_clock::from_time_t(timegm(&utc)) + std::chrono::milliseconds(millis);
}

Result<std::string> ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) {
    return Result<std::string>::Failed(DescribeError(file, errno));
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    return Result<std::string>::Failed("cannot read " + file.string());
  }
  return Result<std::string>::Ok(std::move(bytes));
}

// A folder of the user's own that no one else may enter: it holds the site's files.
Result<> PrivateFolder(const fs::path& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return Result<>::Failed(DescribeError(folder, errno));
  }
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    return Result<>::Failed(DescribeError(folder, errno));
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
    return Result<>::Failed(folder.string() + " is not a folder of this user's own");
  }
  if ((info.st_mode & 0077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
    return Result<>::Failed(DescribeError(folder, errno));
  }
  return Result<>::Ok();
}

}  // namespace

History::History(std::string target)
    : target_(std::move(target)), folder_(fs::path(kHistoryFolder) / FolderName(target_)) {}

Result<> History::MakeFolder() const {
  if (Result<> top = PrivateFolder(kHistoryFolder); !top.ok()) {
    return top;
  }
  if (Result<> own = PrivateFolder(folder_); !own.ok()) {
    return own;
  }
  std::error_code ignored;
  if (fs::exists(folder_ / kTargetFile, ignored)) {
    return Result<>::Ok();
  }
  return WriteFile(folder_ / kTargetFile, target_ + "\n");
}

Result<> History::WriteFile(const fs::path& file, std::string_view bytes) const {
  std::string error;
  std::optional<AtomicFile> out = AtomicFile::Open(file, error, 0600);
  if (!out || !out->Write(bytes) || !out->Commit(error)) {
    return Result<>::Failed(error.empty() ? "cannot write " + file.string() : error);
  }
  return Result<>::Ok();
}

Result<fs::path> History::Keep(std::string_view bytes, std::chrono::system_clock::time_point when) {
  using Kept = Result<fs::path>;
  if (Result<> made = MakeFolder(); !made.ok()) {
    return made.Without<fs::path>();
  }
  // A refused upload tried again keeps the same live file once, not once a run.
  if (const Result<std::vector<KeptVersion>> kept = Versions(); kept.ok() && !kept.value.empty()) {
    if (const Result<std::string> newest = Read(kept.value.front());
        newest.ok() && newest.value == bytes) {
      return Kept::Ok(kept.value.front().file);
    }
  }
  fs::path file = folder_ / VersionName(when);
  std::error_code ignored;
  for (int later = 1; fs::exists(file, ignored); ++later) {
    file = folder_ / VersionName(when + std::chrono::milliseconds(later));
  }
  if (Result<> written = WriteFile(file, bytes); !written.ok()) {
    return written.Without<fs::path>();
  }
  const Result<std::vector<KeptVersion>> versions = Versions();
  if (versions.ok()) {
    for (std::size_t old = kHistoryKept; old < versions.value.size(); ++old) {
      fs::remove(versions.value[old].file, ignored);
    }
  }
  return Kept::Ok(std::move(file));
}

Result<std::vector<KeptVersion>> History::Versions() const {
  using Listed = Result<std::vector<KeptVersion>>;
  std::vector<KeptVersion> versions;
  std::error_code error;
  if (!fs::exists(folder_, error)) {
    return Listed::Ok({});
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(folder_, error)) {
    const auto when = TimeOfVersion(entry.path().filename().string());
    if (when && entry.is_regular_file(error)) {
      versions.push_back({entry.path(), *when, entry.file_size(error), 0});
    }
  }
  if (error) {
    return Listed::Failed(DescribeError(folder_, error.value()));
  }
  std::sort(versions.begin(), versions.end(),
            [](const KeptVersion& a, const KeptVersion& b) { return a.when > b.when; });
  for (KeptVersion& version : versions) {
    if (const Result<std::string> bytes = Read(version); bytes.ok()) {
      version.lines = SplitLines(bytes.value).size();
    }
  }
  return Listed::Ok(std::move(versions));
}

Result<std::string> History::Read(const KeptVersion& version) {
  return ReadWhole(version.file);
}

Result<std::optional<std::string>> History::LastPublished() const {
  using Last = Result<std::optional<std::string>>;
  const fs::path file = folder_ / kPublishedFile;
  std::error_code ignored;
  if (!fs::exists(file, ignored)) {
    return Last::Ok(std::nullopt);
  }
  Result<std::string> bytes = ReadWhole(file);
  if (!bytes.ok()) {
    return bytes.Without<std::optional<std::string>>();
  }
  return Last::Ok(std::move(bytes.value));
}

Result<> History::RecordPublished(std::string_view generated) {
  if (Result<> made = MakeFolder(); !made.ok()) {
    return made;
  }
  return WriteFile(folder_ / kPublishedFile, generated);
}

}  // namespace palisor
