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
#include "update/ListLines.h"

namespace palisor {
namespace {

constexpr const char* kRunLockFile = "palisor.run.lock";

// The downloaded lists, and whether every one came blank (spaces only).
struct Downloads {
  GroupLists lists;
  bool allBlank = true;
  std::size_t held = 0;  // the bytes of what is kept of them
  // The settings of the run's first list, by which the lines past LISTMAX are dropped.
  std::optional<Settings> cutBy;

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

// What one run needs at every stage: whom to tell, when to stop, where it got to.
class Run final {
 public:
  Run(RunEvents& events, std::stop_token stop, const RunOptions& options)
      : events_(events), stop_(std::move(stop)), options_(options) {}

  RunEvents& events() { return events_; }
  const std::stop_token& stop() const { return stop_; }
  bool stopped() const { return stop_.stop_requested(); }
  void Enter(Stage stage, const ListEntry* list = nullptr) {
    reached_ = StageReached{stage, list};
    events_.StageStarted(*reached_);
  }
  const std::optional<StageReached>& reached() const { return reached_; }
  void TakeConfirmedSettings(Settings& settings) const {
    if (options_.confirmedSettings) {
      options_.confirmedSettings(settings);
    }
  }
  const RunOptions& options() const { return options_; }

 private:
  RunEvents& events_;
  std::stop_token stop_;
  const RunOptions& options_;
  std::optional<StageReached> reached_;
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

// The transfer's reason already names the address.
std::string DescribeListFailure(const ListEntry& list, std::string_view reason) {
  return "the " + std::string(list.name) + " list: " + std::string(reason);
}

ListForm FormOf(ListGroup group) {
  return group == ListGroup::kCountry ? ListForm::kCountry : ListForm::kAddress;
}

// A list with something on it but not one line of it usable is no list at all (an HTML
// page or JSON served with 200): it fails like a download that failed.
RunReport CheckList(const DownloadedList& list, ListGroup group) {
  const auto noList = FindNoList(list.text, FormOf(group));
  if (!noList) {
    return {};
  }
  return Failed("list " + list.name + ": no address in " + CountOfLines(noList->lines) +
                "; first line " + noList->firstLine);
}

// Takes the settings confirmed since the last stage; the certificates trusted follow CAFILE,
// so a file named meanwhile serves the transfers still to come.
void TakeConfirmedSettings(Settings& settings, const Run& run, Transfer& transfer) {
  run.TakeConfirmedSettings(settings);
  transfer.SetExtraCaFile(NativePath(TrimSpaces(settings.CAFILE)));
}

// The next list may take what the lists kept so far leave of the run's room.
BodyLimit Room(const Downloads& downloads, std::size_t listBytes) {
  return {listBytes - downloads.held, "the lists of this run would hold more than " +
                                          std::to_string(listBytes) + " bytes in all"};
}

// Keeps of a checked list only what generation will read, and counts it against the room.
void Keep(DownloadedList& list, ListGroup group, const Settings& settings, Downloads& downloads) {
  if (!downloads.cutBy) {
    downloads.cutBy = settings;
  }
  DropLinesPastListMax(list, FormOf(group), *downloads.cutBy);
  downloads.held += list.text.size();
}

// Fetches every enabled list in table order into its group. Settings are refreshed as each
// list comes up, so a change confirmed meanwhile applies to the lists still to come.
RunReport DownloadLists(Settings& settings, Run& run, Transfer& transfer, Downloads& downloads) {
  for (std::size_t row = 0; row < kListTable.size(); ++row) {
    const ListEntry& list = kListTable[row];
    TakeConfirmedSettings(settings, run, transfer);
    if (ListEnabled(settings, row)) {
      run.Enter(Stage::kDownloading, &list);
      if (list.group == ListGroup::kCountry) {
        const auto mode = settings.CountryMode(static_cast<Country>(row));
        if (mode != kModeAllow && mode != kModeDeny) {
          return Failed("the " + std::string(list.name) + " list cannot be chosen: country mode " +
                        std::to_string(mode) + " is not 0, 1 or 2");
        }
      }
      const std::string address = ListAddress(settings, row);
      Result<std::string> fetched =
          FetchList(transfer, address, run.stop(), Room(downloads, run.options().listBytes));
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
      Keep(received, list.group, settings, downloads);
    }
    if (list.group != ListGroup::kCountry && run.stopped()) {
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

RunReport RunStages(Settings& settings, Run& run, Transfer& transfer) {
  std::string lockError;
  const std::optional<LockFile> runLock = TakeRunLock(lockError);
  if (!runLock) {
    return Failed(std::move(lockError));
  }
  transfer.SetRequestTimeout(run.options().requestTimeout);

  Downloads downloads;
  RunReport report = DownloadLists(settings, run, transfer, downloads);
  if (report.outcome != Outcome::kOk) {
    return report;
  }
  if (downloads.allBlank) {
    report.nothingToDo = true;
    return report;
  }

  if (run.stopped()) {
    return Abandoned();
  }
  run.TakeConfirmedSettings(settings);
  TakeListMaxSettings(*downloads.cutBy, settings);  // set by the list that was not blank
  run.Enter(Stage::kAnalysing);
  // What is published is the file this run writes, whatever LCFILE names by the upload.
  const std::string writtenFile = settings.LCFILE;
  StageResult written = WriteAccessFile(std::move(downloads.lists), settings, run.events(),
                                        run.stop(), &report, run.options().requestTimeout);
  if (!written.ok()) {
    return Keeping(FromStage(std::move(written)), report);
  }
  report.outputWritten = true;

  if (run.stopped()) {
    return Keeping(Abandoned(), report);
  }
  TakeConfirmedSettings(settings, run, transfer);
  settings.LCFILE = writtenFile;
  if (UploadWanted(settings)) {
    run.Enter(Stage::kSending);
    StageResult sent = UploadAccessFile(settings, transfer, run.stop(), report.warnings);
    if (!sent.ok()) {
      return Keeping(FromStage(std::move(sent)), report);
    }
  }
  return report;
}

}  // namespace

RunReport RunUpdate(Settings& settings, RunEvents& events, Transfer& transfer, std::stop_token stop,
                    const RunOptions& options) {
  Run run(events, std::move(stop), options);
  events.RunStarted();
  RunReport report;
  try {
    report = RunStages(settings, run, transfer);
  } catch (const std::exception& e) {
    report = Failed(std::string("unexpected error: ") + e.what());
  } catch (...) {
    report = Failed("unexpected error");
  }
  report.stage = run.reached();
  events.RunEnded(report);
  return report;
}

}  // namespace palisor
