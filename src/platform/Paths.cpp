#include "platform/Paths.h"

#include <cstring>
#include <string>

namespace palisor {

std::filesystem::path NativePath(std::string_view path) {
  std::string native(path);
  for (char& c : native) {
    if (c == '\\') {
      c = '/';
    }
  }
  return std::filesystem::path(native).lexically_normal();
}

std::string DescribeError(const std::filesystem::path& path, int err) {
  return path.string() + ": " + std::strerror(err);
}

}  // namespace palisor
