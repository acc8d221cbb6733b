#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace palisor {

// The exit statuses both programs share.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// sysexits' EX_TEMPFAIL: nothing went wrong, the work is for a later start.
inline constexpr int kExitTempFail = 75;
inline constexpr int kExitSignalBase = 128;  // the shell's convention for "ended by signal n"

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

// Options of one program's own, beside the shared ones: "--name", "--name=VALUE" or
// "--name" followed by a number, its value.
struct OwnOptions {
  struct Given {
    std::string name;
    std::optional<std::string> value;
  };
  std::vector<std::string_view> names;
  std::vector<Given> given;  // filled by the parse, in their order
};

// The first of --help and --version wins over everything else given; anything unknown, a
// --dir without its folder or a second --dir is a usage error, described in `error`.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string_view>& arguments,
                                            std::string& error, OwnOptions* own = nullptr);

// What both programs do with their arguments first: --help prints `helpBefore`, the shared
// options' lines and `helpAfter`; --version prints the version; a usage error and a --dir
// that cannot be entered are told on standard error as "PROGRAM: ..." lines. Nothing when
// the program is to go on, else the status to exit with.
std::optional<int> TakeCommandLine(std::string_view program, int argc, char** argv,
                                   std::string_view helpBefore, std::string_view helpAfter = {},
                                   OwnOptions* own = nullptr);

// "PROGRAM: text" on standard error, the text on one line.
void PrintError(std::string_view program, std::string_view text);

// `dir` with a leading "~/" (or a lone "~") taken as the home folder; empty, with the reason in
// `error`, when the home folder is unknown.
std::string ExpandHome(std::string_view dir, std::string& error);

// Makes `dir` the working folder, creating it and its missing parents (mode 0700) first.
// False, with the folder and the reason in `error`.
bool EnterFolder(std::string_view dir, std::string& error);

}  // namespace palisor
