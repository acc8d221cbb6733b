#pragma once

#include <filesystem>
#include <string_view>

namespace palisor {

// Turns a path written the Windows way (".\htaccess.txt") into one for this system:
// a backslash is a directory separator, so no file name ever starts with one.
std::filesystem::path NativePath(std::string_view path);

}  // namespace palisor
