#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace palisor {

// The INI engine: the profile reading and writing rules the settings file has always been
// kept by, over bytes.

// The longest value a read returns; a longer value is cut.
inline constexpr std::size_t kIniValueMax = 126;

// The value of `key` in `section`, or `fallback` when the file, section or key is missing
// or the file cannot be read.
std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view fallback, const std::filesystem::path& file);

// Writes `value` exactly as passed, replacing the key in place or adding it; every other
// byte of the file stays. Refuses names and values holding CR or LF. The file is replaced
// atomically; a new file is readable by its owner only.
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::filesystem::path& file);

}  // namespace palisor
