// palisor-update: one update run from the settings in the working folder, then exit. For
// servers and scheduled jobs (cron, systemd timers); the settings file is only read.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/CommandLine.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/StopSignals.h"
#include "platform/Transfer.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "update/ConsoleEvents.h"
#include "update/RunLog.h"
#include "update/RunUpdate.h"

namespace {

constexpr std::string_view kProgram = "palisor-update";

constexpr std::string_view kUsage =
    "Usage: palisor-update [-h|--help] [--version] [--dir DIR]\n"
    "\n"
    "Makes one Palisor update run in the current folder (or DIR): reads palisor.ini,\n"
    "downloads the enabled lists, writes the access file and, when the settings say so,\n"
    "uploads it (FTP, FTPS or SFTP). Each run is logged to palisor.log.\n"
    "Each stage of the run is printed on a line of its own; warnings and skipped list lines\n"
    "on standard error.\n"
    "\n"
    "Options:\n";

constexpr std::string_view kExitStatus =
    "\n"
    "Exit status:\n"
    "  0    the run ended with \"待機中\" (nothing to do included)\n"
    "  1    the run ended early on a failure, or DIR could not be made the working folder;\n"
    "       the reason is printed to standard error\n"
    "  2    usage error\n"
    "  130  interrupted (143 for SIGTERM, 129 for SIGHUP); the run is abandoned cleanly\n";

void WriteOut(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void WriteError(std::string_view message) {
  palisor::PrintError(kProgram, message);
}

// A missing settings file means every default, as in the window; say so, naming the folder,
// since a scheduled job started in the wrong one would otherwise quietly use them.
void WarnWhenSettingsMissing() {
  std::error_code error;
  if (!std::filesystem::exists(palisor::NativePath(palisor::kSettingsFile), error)) {
    WriteError("no palisor.ini in " + std::filesystem::current_path(error).string() +
               "; using the default settings");
  }
}

int RunOnce() {
  // A reader that went away (`palisor-update | head -1`) must not kill the run half-way
  // through writing or uploading: output to it is simply lost.
  std::signal(SIGPIPE, SIG_IGN);
  // The first stop signal abandons the run cleanly; a second one ends the process at once.
  std::stop_source stop;
  const palisor::StopOnSignals stopSignals(stop);
  palisor::Module1 state;
  WarnWhenSettingsMissing();
  palisor::LoadSettings(state);

  palisor::ConsoleEvents events(WriteOut, isatty(STDOUT_FILENO) == 1);
  palisor::Transfer transfer;
  const palisor::RunReport report =
      palisor::RunUpdate(state.settings, events, transfer, stop.get_token());
  if (const std::string why = palisor::RecordRun(report); !why.empty()) {
    WriteError("the run was not logged: " + why);
  }
  for (const std::string& warning : report.warnings) {
    WriteError(warning);
  }
  for (const auto& skipped : report.skipped) {
    WriteError(palisor::DescribeSkipped(skipped));
  }
  if (report.outcome != palisor::Outcome::kOk) {
    WriteError(palisor::RunReason(report));
  }
  switch (report.outcome) {
    case palisor::Outcome::kOk:
      return palisor::kExitOk;
    case palisor::Outcome::kAbandoned:
      return palisor::kExitSignalBase + stopSignals.received();
    case palisor::Outcome::kFailed:
      break;
  }
  return palisor::kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  palisor::KeepOutOfCoreDumps();
  if (const auto exitCode = palisor::TakeCommandLine(kProgram, argc, argv, kUsage, kExitStatus)) {
    return *exitCode;
  }
  return RunOnce();
}
