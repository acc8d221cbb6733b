#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace palisor {

// The options both programs take: [-h|--help] [--version] [--dir DIR].
struct CommandLine {
  enum class Request { kStart, kHelp, kVersion };
  Request request = Request::kStart;
  std::optional<std::string> directory;  // --dir as given
};

// The lines of --help that describe the shared options.
inline constexpr std::string_view kCommonOptionsHelp =
    "  --dir DIR   work in DIR instead of the current folder: palisor.ini and every file\n"
    "              Palisor writes are kept there. A leading \"~/\" means the home folder;\n"
    "              a missing DIR is created with its parents, readable by you only.\n"
    "  -h, --help  print this help and exit\n"
    "  --version   print the version and exit\n";

// The first of --help and --version wins over everything else given; anything unknown, a
// --dir without its folder or a second --dir is a usage error, described in `error`.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string_view>& arguments,
                                            std::string& error);

// `dir` with a leading "~/" (or a lone "~") taken as the home folder; empty, with the reason in
// `error`, when the home folder is unknown.
std::string ExpandHome(std::string_view dir, std::string& error);

// Makes `dir` the working folder, creating it and its missing parents (mode 0700) first.
// False, with the folder and the reason in `error`.
bool EnterFolder(std::string_view dir, std::string& error);

}  // namespace palisor
