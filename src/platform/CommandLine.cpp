#include "platform/CommandLine.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace palisor {
namespace {

constexpr std::string_view kDirOption = "--dir";
constexpr std::string_view kDirOptionJoined = "--dir=";

// Only the user may look into a folder that will hold the FTP password.
constexpr mode_t kNewFolderMode = 0700;

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return home;
  }
  const passwd* user = ::getpwuid(::getuid());  // a desktop launcher may pass no HOME
  return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

// mkdir for each missing folder from the top down, so that every one gets kNewFolderMode.
bool MakeFolders(const std::filesystem::path& dir, std::string& error) {
  std::filesystem::path made;
  for (const auto& part : dir) {
    made /= part;
    if (::mkdir(made.c_str(), kNewFolderMode) != 0 && errno != EEXIST) {
      error = made.string() + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string_view>& arguments,
                                            std::string& error) {
  CommandLine line;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    std::optional<std::string_view> dir;
    if (argument == "-h" || argument == "--help" || argument == "--version") {
      if (line.request == CommandLine::Request::kStart) {
        line.request =
            argument == "--version" ? CommandLine::Request::kVersion : CommandLine::Request::kHelp;
      }
      continue;
    }
    if (argument == kDirOption) {
      if (i + 1 == arguments.size()) {
        error = "--dir needs a folder";
        return std::nullopt;
      }
      dir = arguments[++i];
    } else if (argument.starts_with(kDirOptionJoined)) {
      dir = argument.substr(kDirOptionJoined.size());
    } else {
      error = "unknown argument '" + std::string(argument) + "'";
      return std::nullopt;
    }
    if (dir->empty() || line.directory) {
      error = dir->empty() ? "--dir needs a folder" : "--dir given twice";
      return std::nullopt;
    }
    line.directory = std::string(*dir);
  }
  return line;
}

std::string ExpandHome(std::string_view dir, std::string& error) {
  if (dir != "~" && !dir.starts_with("~/")) {
    return std::string(dir);
  }
  const std::string home = HomeFolder();
  if (home.empty()) {
    error = "cannot tell the home folder for " + std::string(dir);
    return {};
  }
  return home + std::string(dir.substr(1));
}

bool EnterFolder(std::string_view dir, std::string& error) {
  const std::string expanded = ExpandHome(dir, error);
  if (expanded.empty() || !MakeFolders(expanded, error)) {
    return false;
  }
  if (::chdir(expanded.c_str()) != 0) {
    error = expanded + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace palisor
