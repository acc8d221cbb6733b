#pragma once

// Helpers the fuzz targets share: one fuzz input carries several texts, and a failed check
// stops the fuzzer with a message it keeps next to the crashing input.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace palisor::fuzz {

// Separates the texts of one input; readable, so seed files can be written by hand.
inline constexpr std::string_view kPartMarker = "@@\n";

inline std::vector<std::string_view> SplitParts(std::string_view data) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t marker = data.find(kPartMarker);
    parts.push_back(data.substr(0, marker));
    if (marker == std::string_view::npos) {
      return parts;
    }
    data.remove_prefix(marker + kPartMarker.size());
  }
}

// Part `index`, or empty text when the input has fewer parts.
inline std::string_view PartOr(const std::vector<std::string_view>& parts, std::size_t index) {
  return index < parts.size() ? parts[index] : std::string_view{};
}

[[noreturn]] inline void Fail(const char* file, int line, const char* check) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, check);
  std::abort();
}

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::palisor::fuzz::Fail(__FILE__, __LINE__, #condition))

// Memory-backed when the system offers it: every settings write and every output file is
// synced to disk, which would otherwise set the pace of fuzzing.
inline std::filesystem::path ScratchParent() {
  std::error_code ignored;
  if (std::filesystem::is_directory("/dev/shm", ignored) && ::access("/dev/shm", W_OK) == 0) {
    return "/dev/shm";
  }
  return std::filesystem::temp_directory_path();
}

// A fresh directory for this fuzzing process, made the working directory on first use and
// removed at exit. The fuzzer's own corpus and artifact paths must therefore be absolute.
inline const std::filesystem::path& ScratchWorkingDirectory() {
  static const std::filesystem::path directory = [] {
    std::string pattern = (ScratchParent() / "palisor-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
      std::perror("palisor fuzz: scratch directory");
      std::abort();
    }
    return std::filesystem::path(pattern);
  }();
  // Registered after the path is built, so it runs while the path still exists.
  [[maybe_unused]] static const bool removedAtExit =
      std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(ScratchWorkingDirectory(), ignored);
      }) == 0;
  return directory;
}

inline void WriteBytes(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) {
    std::perror("palisor fuzz: cannot write a scratch file");
    std::abort();
  }
}

inline std::string ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string_view AsText(const unsigned char* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace palisor::fuzz
