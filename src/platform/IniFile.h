#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace palisor {

// The INI engine: the profile reading and writing rules the settings file has always been
// kept by, over bytes.

// The largest file read: no settings file comes near it, and a larger one (a sparse file, a
// log saved under the wrong name) would only exhaust memory. A larger file counts as
// unreadable.
inline constexpr std::uintmax_t kIniFileMax = std::uintmax_t{256} << 20;

// The value of `key` in `section`, whole, or `fallback` when the file, section or key is
// missing or the file cannot be read.
std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view fallback, const std::filesystem::path& file);

// A settings file read once, for reading many keys by the same rules as GetProfileString:
// the load reads every key, and a large file should be neither read nor searched once per key.
class IniSnapshot final {
 public:
  explicit IniSnapshot(const std::filesystem::path& file);  // any problem: an empty file
  static IniSnapshot OfBytes(std::string bytes);

  std::string Get(std::string_view section, std::string_view key, std::string_view fallback) const;
  // The value, or nothing when the section or key is missing: for keys whose absence means
  // something of its own.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;

 private:
  IniSnapshot() = default;

  struct Body {
    std::size_t begin;  // just past the section line
    std::size_t end;    // the next section line, or the end of the file
  };
  const std::optional<Body>& BodyOf(std::string_view section) const;

  std::string bytes_;
  // The first copy of each section asked for, by lower-case name. Only those: a file of
  // millions of sections must not cost an entry for each.
  mutable std::unordered_map<std::string, std::optional<Body>> bodies_;
};

// A settings file read whole, changed in memory by the profile writing rules and replaced
// once, however many keys change.
class IniDocument final {
 public:
  // A missing file is an empty document. Any other problem fails, with the file and the
  // reason in `error`: writing the file anew would lose what it holds.
  static std::optional<IniDocument> Read(const std::filesystem::path& file, std::string& error);

  const std::string& bytes() const { return bytes_; }
  bool Has(std::string_view section, std::string_view key) const;

  // Writes `value` exactly as passed, replacing the key in place or adding it; every other
  // byte stays. Lines it adds end like the file's first line (LF in a new file). Refuses
  // names and values holding CR or LF, changing nothing.
  bool Set(std::string_view section, std::string_view key, std::string_view value);

  // Removes the key's line (the first copy's), when there is one; every other byte stays.
  void Remove(std::string_view section, std::string_view key);

  // Replaces the file atomically with one readable and writable by its owner only (0600),
  // whatever mode the file had; where that mode cannot be set, nothing is written.
  bool Save(std::string& error) const;

 private:
  IniDocument(std::filesystem::path file, std::string bytes)
      : file_(std::move(file)), bytes_(std::move(bytes)) {}

  std::filesystem::path file_;
  std::string bytes_;
};

}  // namespace palisor
