#include "update/RunUpdate.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "platform/LockFile.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "update/AccessFile.h"
#include "update/ConsoleHost.h"
#include "update/FtpUpload.h"
#include "update/ListDownload.h"
#include "update/ListLines.h"

namespace palisor {
namespace {

constexpr int kTimerRunning = 1000;
constexpr int kTimerStopped = 0;
constexpr const char* kCaptionWaiting = "待機中";
constexpr const char* kCaptionAnalysing = "解析中";
constexpr const char* kCaptionSending = "送信中";
constexpr const char* kRunLockFile = "palisor.run.lock";

constexpr RunButton kLockedButtons[] = {RunButton::kCommand1, RunButton::kCommand3,
                                        RunButton::kCommand4, RunButton::kCommand5};

// The downloaded lists, and whether every one came blank (spaces only).
struct Downloads {
  GroupLists lists;
  bool allBlank = true;

  std::vector<DownloadedList>& Group(ListGroup group) {
    switch (group) {
      case ListGroup::kCountry:
        return lists.country;
      case ListGroup::kProxy:
        return lists.proxy;
      case ListGroup::kOverseas:
        break;
    }
    return lists.overseas;
  }
};

// Passes everything on to the window and remembers the last stage caption, the count of
// lines shown during analysis left out.
class StageTracker final : public Host {
 public:
  explicit StageTracker(Host& host) : host_(host) {}
  void SetCaption(std::string_view caption) override {
    if (!IsProgressCaption(caption) && caption != kCaptionWaiting) {
      stage_.assign(caption);
    }
    host_.SetCaption(caption);
  }
  void EnableButton(RunButton button, bool enabled) override {
    host_.EnableButton(button, enabled);
  }
  void SetTimerInterval(int milliseconds) override { host_.SetTimerInterval(milliseconds); }
  bool ProcessEvents() override { return host_.ProcessEvents(); }
  void RefreshSettings(Settings& settings) override { host_.RefreshSettings(settings); }
  const std::string& stage() const { return stage_; }

 private:
  Host& host_;
  std::string stage_;
};

RunReport Ended(Outcome outcome, std::string why) {
  RunReport report;
  report.outcome = outcome;
  report.error = std::move(why);
  return report;
}
RunReport Failed(std::string why) {
  return Ended(Outcome::kFailed, std::move(why));
}
RunReport Abandoned() {
  return Ended(Outcome::kAbandoned, {});
}
RunReport FromStage(StageResult stage) {
  return Ended(stage.outcome, std::move(stage.error));
}

void Lock(Host& host) {
  host.SetTimerInterval(kTimerStopped);
  for (const auto button : kLockedButtons) {
    host.EnableButton(button, false);
  }
}

// The common end of every run, whichever way it went.
void RestoreIdle(Module1& state, Host& host) {
  for (const auto button : kLockedButtons) {
    host.EnableButton(button, true);
  }
  state.secondsLeft = state.settings.TMINT;
  host.SetTimerInterval(kTimerRunning);
}

// The transfer's reason already names the address.
std::string DescribeListFailure(const ListEntry& list, std::string_view reason) {
  return "the " + std::string(list.name) + " list: " + std::string(reason);
}

std::string Lines(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " line" : " lines");
}

// A list with something on it but not one line of it usable is no list at all (an HTML
// page or JSON served with 200): it fails like a download that failed.
RunReport CheckList(const DownloadedList& list, ListGroup group) {
  const auto noList =
      FindNoList(list.text, group == ListGroup::kCountry ? ListForm::kCountry : ListForm::kAddress);
  if (!noList) {
    return {};
  }
  return Failed("list " + list.name + ": no address in " + Lines(noList->lines) + "; first line " +
                noList->firstLine);
}

// Takes the settings confirmed since the last stage; the certificates trusted follow CAFILE,
// so a file named meanwhile serves the transfers still to come.
void TakeConfirmedSettings(Settings& settings, Host& host, Transfer& transfer) {
  host.RefreshSettings(settings);
  transfer.SetExtraCaFile(NativePath(TrimSpaces(settings.CAFILE)));
}

// Fetches every enabled list in table order into its group. Settings are refreshed as each
// list comes up, so a change confirmed meanwhile applies to the lists still to come.
RunReport DownloadLists(Settings& settings, Host& host, Transfer& transfer, Downloads& downloads) {
  for (std::size_t row = 0; row < kListTable.size(); ++row) {
    const ListEntry& list = kListTable[row];
    TakeConfirmedSettings(settings, host, transfer);
    if (ListEnabled(settings, row)) {
      host.SetCaption(list.caption);
      if (list.group == ListGroup::kCountry) {
        const auto mode = settings.CountryMode(static_cast<Country>(row));
        if (mode != kModeAllow && mode != kModeDeny) {
          return Failed("the " + std::string(list.name) + " list cannot be chosen: country mode " +
                        std::to_string(mode) + " is not 0, 1 or 2");
        }
      }
      const std::string address = ListAddress(settings, row);
      Result<std::string> fetched = FetchList(transfer, address, host);
      if (fetched.outcome == Outcome::kAbandoned) {
        return Abandoned();
      }
      if (!fetched.ok()) {
        return Failed(DescribeListFailure(list, fetched.error));
      }
      DropByteOrderMark(fetched.value);
      downloads.allBlank = downloads.allBlank && IsBlank(fetched.value);
      const bool allow = list.group == ListGroup::kCountry &&
                         settings.CountryMode(static_cast<Country>(row)) == kModeAllow;
      DownloadedList& received =
          downloads.Group(list.group)
              .emplace_back(DownloadedList{
                  std::move(fetched.value),
                  std::string(list.name) + " (" + std::string(TrimSpaces(address)) + ")", allow});
      if (RunReport checked = CheckList(received, list.group); checked.outcome != Outcome::kOk) {
        return checked;
      }
    }
    if (list.group != ListGroup::kCountry && !host.ProcessEvents()) {
      return Abandoned();
    }
  }
  return {};
}

// A run that ended after generation still tells what it skipped and warned of.
RunReport Keeping(RunReport ended, RunReport& sofar) {
  ended.skipped = std::move(sofar.skipped);
  ended.warnings = std::move(sofar.warnings);
  ended.linesWritten = sofar.linesWritten;
  ended.outputWritten = sofar.outputWritten;
  return ended;
}

// Held for the whole run, so that two runs in one folder (two windows, a window and a
// scheduled palisor-update) never write the same files at once.
std::optional<LockFile> TakeRunLock(std::string& error) {
  const std::filesystem::path folder = std::filesystem::current_path();
  bool busy = false;
  std::optional<LockFile> lock = LockFile::TryTake(folder / kRunLockFile, busy, error);
  if (busy) {
    error = "another update is running in " + folder.string();
  } else if (!lock) {
    error = "the run lock cannot be taken: " + error;
  }
  return lock;
}

// Reached only once the run wrote the file, whichever groups filled it: a site that blocks
// only countries needs its file published as much as one that blocks proxies.
bool UploadWanted(const Settings& s) {
  return s.FTPSW;
}

RunReport RunStages(Module1& state, Host& host, Transfer& transfer, const RunOptions& options) {
  std::string lockError;
  const std::optional<LockFile> runLock = TakeRunLock(lockError);
  if (!runLock) {
    return Failed(std::move(lockError));
  }
  transfer.SetRequestTimeout(options.requestTimeout);

  Downloads downloads;
  RunReport report = DownloadLists(state.settings, host, transfer, downloads);
  if (report.outcome != Outcome::kOk) {
    return report;
  }
  if (downloads.allBlank) {
    host.SetCaption(kCaptionWaiting);
    report.nothingToDo = true;
    return report;
  }

  if (!host.ProcessEvents()) {
    return Abandoned();
  }
  host.RefreshSettings(state.settings);
  host.SetCaption(kCaptionAnalysing);
  // What is published is the file this run writes, whatever LCFILE names by the upload.
  const std::string writtenFile = state.settings.LCFILE;
  StageResult written = WriteAccessFile(std::move(downloads.lists), state.settings, host, &report,
                                        options.requestTimeout);
  if (!written.ok()) {
    if (written.outcome == Outcome::kFailed) {
      host.SetCaption(kCaptionAnalysing);
    }
    return Keeping(FromStage(std::move(written)), report);
  }
  report.outputWritten = true;

  if (!host.ProcessEvents()) {
    return Keeping(Abandoned(), report);
  }
  TakeConfirmedSettings(state.settings, host, transfer);
  state.settings.LCFILE = writtenFile;
  if (UploadWanted(state.settings)) {
    host.SetCaption(kCaptionSending);
    StageResult sent = UploadAccessFile(state.settings, transfer, host, report.warnings);
    if (!sent.ok()) {
      return Keeping(FromStage(std::move(sent)), report);
    }
  }
  host.SetCaption(kCaptionWaiting);
  return report;
}

}  // namespace

std::string DescribeSkipped(const RunReport::SkippedLines& skipped) {
  std::string text = "list " + skipped.list + ": " + Lines(skipped.count) +
                     " skipped, not read by Apache as meant";
  const char* separator = ": ";
  for (const std::string& line : skipped.first) {
    text += separator + line;
    separator = ", ";
  }
  return text;
}

RunReport RunUpdate(Module1& state, Host& window, Transfer& transfer, const RunOptions& options) {
  StageTracker host(window);
  Lock(host);
  RunReport report;
  try {
    report = RunStages(state, host, transfer, options);
  } catch (const std::exception& e) {
    report = Failed(std::string("unexpected error: ") + e.what());
  } catch (...) {
    report = Failed("unexpected error");
  }
  RestoreIdle(state, host);
  report.stage = host.stage();
  return report;
}

}  // namespace palisor
