#include "platform/Paths.h"

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

}  // namespace palisor
