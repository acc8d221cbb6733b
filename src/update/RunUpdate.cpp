#include "update/RunUpdate.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "platform/LockFile.h"
#include "platform/Text.h"
#include "update/AccessFile.h"
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

struct GroupTexts {
  std::vector<CountryList> countries;
  std::string proxy;
  std::string overseas;

  // The text a list of `group` joins; each country list keeps a text of its own.
  std::string& Receiving(ListGroup group, bool allow) {
    switch (group) {
      case ListGroup::kCountry:
        countries.push_back({{}, allow});
        return countries.back().text;
      case ListGroup::kProxy:
        return proxy;
      case ListGroup::kOverseas:
        break;
    }
    return overseas;
  }
  // Whether every list came blank (spaces only), judged before line ends join them.
  bool allBlank = true;
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
// page or JSON served with 200): it fails like a download that failed. Lines it skips are
// reported.
RunReport CheckList(const ListEntry& list, std::string_view address, std::string_view body,
                    RunReport& report) {
  ListScan scan =
      ScanList(body, list.group == ListGroup::kCountry ? ListForm::kCountry : ListForm::kAddress);
  const std::string label = std::string(list.name) + " (" + std::string(address) + ")";
  if (scan.used == 0 && scan.skipped > 0) {
    return Failed("list " + label + ": no address in " + Lines(scan.lines) + "; first line " +
                  scan.firstLine);
  }
  if (scan.skipped > 0) {
    report.skipped.push_back({label, scan.skipped, std::move(scan.firstSkipped)});
  }
  return {};
}

// Fetches every enabled list in table order into its group text. Settings are read as each
// list comes up, so a change confirmed meanwhile applies to the lists still to come.
RunReport DownloadLists(const Settings& settings, Host& host, Transfer& transfer,
                        GroupTexts& texts) {
  RunReport report;
  for (std::size_t row = 0; row < kListTable.size(); ++row) {
    const ListEntry& list = kListTable[row];
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
      TransferResult fetched = FetchList(transfer, address, host);
      if (fetched.status == TransferStatus::kAborted) {
        return Abandoned();
      }
      if (fetched.status != TransferStatus::kOk) {
        return Failed(DescribeListFailure(list, fetched.error));
      }
      const bool allow = list.group == ListGroup::kCountry &&
                         settings.CountryMode(static_cast<Country>(row)) == kModeAllow;
      std::string& text = texts.Receiving(list.group, allow);
      const std::string_view body = AppendList(text, std::move(fetched.body));
      texts.allBlank = texts.allBlank && IsBlank(body);
      RunReport checked = CheckList(list, TrimSpaces(address), body, report);
      if (checked.outcome != Outcome::kOk) {
        return checked;
      }
    }
    if (list.group != ListGroup::kCountry && !host.ProcessEvents()) {
      return Abandoned();
    }
  }
  return report;
}

// A run that ended after the downloads still tells what they skipped.
RunReport Keeping(RunReport ended, RunReport& sofar) {
  ended.skipped = std::move(sofar.skipped);
  ended.linesWritten = sofar.linesWritten;
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

bool UploadWanted(const Settings& s) {
  return s.FTPSW && (s.MODE1 || s.MODE2 || s.MODE3 || s.MODE4 || s.MODE5 || s.MODE6);
}

RunReport RunStages(Module1& state, Host& host, Transfer& transfer, const RunOptions& options) {
  std::string lockError;
  const std::optional<LockFile> runLock = TakeRunLock(lockError);
  if (!runLock) {
    return Failed(std::move(lockError));
  }
  transfer.SetRequestTimeout(options.requestTimeout);

  GroupTexts texts;
  RunReport report = DownloadLists(state.settings, host, transfer, texts);
  if (report.outcome != Outcome::kOk) {
    return report;
  }
  if (texts.allBlank) {
    host.SetCaption(kCaptionWaiting);
    return report;
  }

  if (!host.ProcessEvents()) {
    return Keeping(Abandoned(), report);
  }
  host.SetCaption(kCaptionAnalysing);
  StageResult written =
      WriteAccessFile(std::move(texts.countries), std::move(texts.proxy), std::move(texts.overseas),
                      state.settings, host, &report.linesWritten, options.requestTimeout);
  if (!written.ok()) {
    if (written.outcome == Outcome::kFailed) {
      host.SetCaption(kCaptionAnalysing);
    }
    return Keeping(FromStage(std::move(written)), report);
  }

  if (!host.ProcessEvents()) {
    return Keeping(Abandoned(), report);
  }
  if (UploadWanted(state.settings)) {
    host.SetCaption(kCaptionSending);
    if (StageResult sent = UploadAccessFile(state.settings, transfer, host); !sent.ok()) {
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

RunReport RunUpdate(Module1& state, Host& host, Transfer& transfer, const RunOptions& options) {
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
  return report;
}

}  // namespace palisor
