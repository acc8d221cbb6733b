#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>

namespace palisor {

// The INI engine: the profile reading and writing rules the settings file has always been
// kept by, over bytes.

// The longest value a read returns; a longer value is cut.
inline constexpr std::size_t kIniValueMax = 126;

// The value of `key` in `section`, or `fallback` when the file, section or key is missing
// or the file cannot be read.
std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view fallback, const std::filesystem::path& file);

// A settings file read once, for reading many keys by the same rules as GetProfileString:
// the load reads every key, and a large file should be neither read nor searched once per key.
class IniSnapshot final {
 public:
  explicit IniSnapshot(const std::filesystem::path& file);  // any problem: an empty file

  std::string Get(std::string_view section, std::string_view key, std::string_view fallback) const;

 private:
  struct Body {
    std::size_t begin;  // just past the section line
    std::size_t end;    // the next section line, or the end of the file
  };

  std::string bytes_;
  std::unordered_map<std::string, Body> bodies_;  // first copy of each section, by lower-case name
};

// Writes `value` exactly as passed, replacing the key in place or adding it; every other
// byte of the file stays. Lines it adds end like the file's first line (LF in a new file).
// Refuses names and values holding CR or LF. The file is replaced atomically; a new file is
// readable by its owner only.
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::filesystem::path& file);

}  // namespace palisor
