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
#include "update/FtpUpload.h"
#include "update/ListDownload.h"

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
  std::string country;
  std::string proxy;
  std::string overseas;

  std::string& For(ListGroup group) {
    switch (group) {
      case ListGroup::kCountry:
        return country;
      case ListGroup::kProxy:
        return proxy;
      case ListGroup::kOverseas:
        break;
    }
    return overseas;
  }
  bool AllBlank() const { return IsBlank(country) && IsBlank(proxy) && IsBlank(overseas); }
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

// Fetches every enabled list in table order into its group text. Settings are read as each
// list comes up, so a change confirmed meanwhile applies to the lists still to come.
RunReport DownloadLists(const Settings& settings, Host& host, Transfer& transfer,
                        GroupTexts& texts) {
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
      texts.For(list.group).append(fetched.body);
    }
    if (list.group != ListGroup::kCountry && !host.ProcessEvents()) {
      return Abandoned();
    }
  }
  return {};
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
  transfer.SetExtraCaFile(NativePath(TrimSpaces(state.settings.CAFILE)));

  GroupTexts texts;
  if (RunReport downloaded = DownloadLists(state.settings, host, transfer, texts);
      downloaded.outcome != Outcome::kOk) {
    return downloaded;
  }
  if (texts.AllBlank()) {
    host.SetCaption(kCaptionWaiting);
    return {};
  }

  if (!host.ProcessEvents()) {
    return Abandoned();
  }
  host.SetCaption(kCaptionAnalysing);
  StageResult written =
      WriteAccessFile(std::move(texts.country), std::move(texts.proxy), std::move(texts.overseas),
                      state.settings, host, options.requestTimeout);
  if (!written.ok()) {
    if (written.outcome == Outcome::kFailed) {
      host.SetCaption(kCaptionAnalysing);
    }
    return FromStage(std::move(written));
  }

  if (!host.ProcessEvents()) {
    return Abandoned();
  }
  RunReport report;
  if (UploadWanted(state.settings)) {
    host.SetCaption(kCaptionSending);
    StageResult sent = UploadAccessFile(state.settings, transfer, host, report.warnings);
    if (!sent.ok()) {
      report.outcome = sent.outcome;
      report.error = std::move(sent.error);
      return report;
    }
  }
  host.SetCaption(kCaptionWaiting);
  return report;
}

}  // namespace

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
