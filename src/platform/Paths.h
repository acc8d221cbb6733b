#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace palisor {

// Turns a path written the Windows way (".\htaccess.txt") into one for this system:
// a backslash is a directory separator, so no file name ever starts with one.
std::filesystem::path NativePath(std::string_view path);

// "PATH: the system's reason for `err`", as every failure of a file is told.
std::string DescribeError(const std::filesystem::path& path, int err);

}  // namespace palisor
