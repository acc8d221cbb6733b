// palisor-update: one update run from the settings in the working folder, then exit. For
// servers and scheduled jobs (cron, systemd timers); the settings file is only read.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/StopSignals.h"
#include "platform/Transfer.h"
#include "platform/qt/language/Captions.h"
#include "platform/qt/language/InterfaceLanguage.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "update/ConsoleEvents.h"
#include "update/DryRun.h"
#include "update/FtpUpload.h"
#include "update/RunLog.h"
#include "update/RunUpdate.h"
#include "update/SampleFiles.h"

namespace {

constexpr std::string_view kProgram = "palisor-update";

constexpr std::string_view kUsage =
    "Usage: palisor-update [--dry-run | --history | --restore [N] | --init] [--dir DIR]\n"
    "       palisor-update -h|--help | --version\n"
    "\n"
    "Makes one Palisor update run in the current folder (or DIR): reads palisor.ini,\n"
    "downloads the enabled lists, writes the access file and, when the settings say so,\n"
    "uploads it (FTP, FTPS or SFTP). Each run is logged to palisor.log.\n"
    "Each stage of the run is printed on a line of its own; warnings and skipped list lines\n"
    "on standard error.\n"
    "\n"
    "Options:\n"
    "  --dry-run   look before going live: download, check and generate as a run does, but\n"
    "              write only the preview file (htaccess.preview.txt), read the live file\n"
    "              and send nothing; prints what the new file adds and removes and what a\n"
    "              run would upload\n"
    "  --history   list the kept versions of the site's file (palisor.history/)\n"
    "  --restore [N]\n"
    "              put kept version N (default 1, the most recent) back on the site, with\n"
    "              the check and rollback of every upload\n";

constexpr std::string_view kExitStatus =
    "\n"
    "Exit status:\n"
    "  0    the run ended with \"待機中\" (nothing to do included); with --dry-run, a run\n"
    "       would go ahead\n"
    "  1    the run ended early on a failure, or DIR could not be made the working folder;\n"
    "       the reason is printed to standard error; with --dry-run, a run would fail\n"
    "  2    usage error\n"
    "  75   skipped: another update was running in the folder; the next one does the work\n"
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
               "; using the default settings (palisor-update --init writes a commented one)");
  }
}

void WriteLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    WriteOut(line + "\n");
  }
}

int ListHistory(const palisor::Settings& settings) {
  const palisor::Result<palisor::History> history = palisor::HistoryOf(settings);
  if (!history.ok()) {
    WriteError(history.error);
    return palisor::kExitFailed;
  }
  const auto versions = history.value.Versions();
  if (!versions.ok()) {
    WriteError(versions.error);
    return palisor::kExitFailed;
  }
  WriteLines(palisor::DescribeHistory(history.value, versions.value));
  return palisor::kExitOk;
}

// What the user wants of this start: a run, a look before going live, the history listed or
// a version put back.
struct Request {
  enum class Kind { kRun, kDryRun, kHistory, kRestore, kInit } kind = Kind::kRun;
  std::size_t version = 1;
};

std::optional<Request> RequestOf(const palisor::OwnOptions& options) {
  Request request;
  if (options.given.size() > 1) {
    WriteError("--dry-run, --history, --restore and --init go alone, one at a time");
    return std::nullopt;
  }
  if (options.given.empty()) {
    return request;
  }
  const palisor::OwnOptions::Given& given = options.given.front();
  if (given.name == "--restore") {
    request.kind = Request::Kind::kRestore;
    if (given.value) {
      char* end = nullptr;
      request.version = std::strtoul(given.value->c_str(), &end, 10);
      if (given.value->empty() || *end != '\0' || request.version == 0) {
        WriteError("--restore takes the number of a kept version, 1 or more");
        return std::nullopt;
      }
    }
    return request;
  }
  if (given.value) {
    WriteError(given.name + " takes no value");
    return std::nullopt;
  }
  request.kind = given.name == "--history" ? Request::Kind::kHistory
                 : given.name == "--init"  ? Request::Kind::kInit
                                           : Request::Kind::kDryRun;
  return request;
}

int RunOnce(const Request& request) {
  // A reader that went away (`palisor-update | head -1`) must not kill the run half-way
  // through writing or uploading: output to it is simply lost.
  std::signal(SIGPIPE, SIG_IGN);
  // The first stop signal abandons the run cleanly; a second one ends the process at once.
  std::stop_source stop;
  const palisor::StopOnSignals stopSignals(stop);
  WarnWhenSettingsMissing();
  palisor::Settings settings = palisor::LoadSettings();
  if (request.kind == Request::Kind::kHistory) {
    return ListHistory(settings);
  }

  // The stage lines in the desktop's language; the log and the reasons stay as they are.
  const palisor::InterfaceLanguage language;
  palisor::ConsoleEvents events(WriteOut, isatty(STDOUT_FILENO) == 1, palisor::InterfaceCaptions());
  palisor::Transfer transfer;
  palisor::Preview preview;
  palisor::RunOptions options;
  if (request.kind == Request::Kind::kDryRun) {
    options.preview = &preview;
  }
  const palisor::RunReport report =
      request.kind == Request::Kind::kRestore
          ? palisor::RestoreKept(settings, request.version, events, transfer, stop.get_token())
          : palisor::RunUpdate(settings, events, transfer, stop.get_token(), options);
  if (request.kind == Request::Kind::kDryRun) {
    if (report.outcome == palisor::Outcome::kOk) {
      WriteLines(palisor::DescribePreview(report, preview));
    }
  } else if (const std::string why = palisor::RecordRun(report); !why.empty()) {
    WriteError("the run was not logged: " + why);
  }
  for (const std::string& warning : report.warnings) {
    WriteError(warning);
  }
  for (const auto& skipped : report.skipped) {
    WriteError(palisor::DescribeSkipped(skipped));
  }
  if (report.anotherRunning) {
    WriteError("skipped: " + palisor::RunReason(report));
    return palisor::kExitTempFail;
  }
  if (report.outcome != palisor::Outcome::kOk) {
    WriteError(palisor::RunReason(report));
  }
  const bool wouldAsk =
      preview.upload && preview.upload->composed.mustAsk && report.outcome == palisor::Outcome::kOk;
  switch (report.outcome) {
    case palisor::Outcome::kOk:
      return wouldAsk ? palisor::kExitFailed : palisor::kExitOk;
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
  palisor::OwnOptions own{{"--dry-run", "--history", "--restore", "--init"}, {}};
  const std::string help = std::string(kUsage) + std::string(palisor::kInitOptionHelp);
  if (const auto exitCode =
          palisor::TakeCommandLine(kProgram, argc, argv, help, kExitStatus, &own)) {
    return *exitCode;
  }
  const std::optional<Request> request = RequestOf(own);
  if (!request) {
    return palisor::kExitUsage;
  }
  if (request->kind == Request::Kind::kInit) {
    return palisor::InitWorkingFolder(kProgram);
  }
  return RunOnce(*request);
}
