#include "platform/CommandLine.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/Paths.h"

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
      error = DescribeError(made, errno);
      return false;
    }
  }
  return true;
}

bool IsNumber(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Takes arguments[i] (and a number after it) when it is one of the program's own options.
bool TakeOwnOption(const std::vector<std::string_view>& arguments, std::size_t& i,
                   OwnOptions* own) {
  if (own == nullptr) {
    return false;
  }
  const std::string_view argument = arguments[i];
  for (const std::string_view name : own->names) {
    if (argument == name) {
      std::optional<std::string> value;
      if (i + 1 < arguments.size() && IsNumber(arguments[i + 1])) {
        value = std::string(arguments[++i]);
      }
      own->given.push_back({std::string(name), std::move(value)});
      return true;
    }
    if (argument.starts_with(name) && argument.substr(name.size()).starts_with('=')) {
      own->given.push_back({std::string(name), std::string(argument.substr(name.size() + 1))});
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string_view>& arguments,
                                            std::string& error, OwnOptions* own) {
  CommandLine line;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    std::optional<std::string_view> dir;
    if (TakeOwnOption(arguments, i, own)) {
      continue;
    }
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
    error = DescribeError(expanded, errno);
    return false;
  }
  return true;
}

void PrintError(std::string_view program, std::string_view text) {
  std::string line = std::string(program) + ": " + std::string(text);
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::replace(line.begin(), line.end(), '\r', ' ');
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

std::optional<int> TakeCommandLine(std::string_view program, int argc, char** argv,
                                   std::string_view helpBefore, std::string_view helpAfter,
                                   OwnOptions* own) {
  std::string error;
  const auto line = ParseCommandLine({argv + 1, argv + argc}, error, own);
  if (!line) {
    PrintError(program, error);
    std::fprintf(stderr, "Try '%.*s --help'.\n", static_cast<int>(program.size()), program.data());
    return kExitUsage;
  }
  switch (line->request) {
    case CommandLine::Request::kHelp:
      std::fputs(
          (std::string(helpBefore) + std::string(kCommonOptionsHelp) + std::string(helpAfter))
              .c_str(),
          stdout);
      return kExitOk;
    case CommandLine::Request::kVersion:
      std::printf("%.*s " PALISOR_VERSION "\nLicense: MIT\n", static_cast<int>(program.size()),
                  program.data());
      return kExitOk;
    case CommandLine::Request::kStart:
      break;
  }
  if (line->directory && !EnterFolder(*line->directory, error)) {
    PrintError(program, error);
    return kExitFailed;
  }
  return std::nullopt;
}

}  // namespace palisor
