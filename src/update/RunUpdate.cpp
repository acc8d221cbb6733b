#include "update/RunUpdate.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "platform/LockFile.h"
#include "platform/OwnFiles.h"
#include "platform/Paths.h"
#include "platform/ServerAddress.h"
#include "platform/Text.h"
#include "settings/SettingKeys.h"
#include "settings/SettingsFile.h"
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
  void Enter(Stage stage, const ListSource* list = nullptr) {
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
template <typename Value>
RunReport FromStage(const Result<Value>& stage) {
  return Ended(stage.outcome, stage.error);
}

// The transfer's reason already names the address.
std::string DescribeListFailure(const ListSource& list, std::string_view reason) {
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
  return Failed("list " + list.name + ": " + DescribeNoList(*noList));
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

// A list still on the placeholder host of the defaults is not looked up: it was never set.
RunReport CheckAddressesSet(const Settings& settings) {
  for (std::size_t row = 0; row < kListSources.size(); ++row) {
    const ListSource& list = kListSources[row];
    if (ListEnabled(settings, row) && IsPlaceholderAddress(ListAddress(settings, row))) {
      return Failed("the " + std::string(list.name) + " list has no address yet: set it in " +
                    WhereToSet(kListDialogField, AddressKeyOf(list, settings.lists[row].mode)));
    }
  }
  return {};
}

// Fetches every enabled list in table order into its group. Settings are refreshed as each
// list comes up, so a change confirmed meanwhile applies to the lists still to come.
RunReport DownloadLists(Settings& settings, Run& run, Transfer& transfer, Downloads& downloads) {
  if (RunReport unset = CheckAddressesSet(settings); unset.outcome != Outcome::kOk) {
    return unset;
  }
  for (std::size_t row = 0; row < kListSources.size(); ++row) {
    const ListSource& list = kListSources[row];
    TakeConfirmedSettings(settings, run, transfer);
    if (ListEnabled(settings, row)) {
      run.Enter(Stage::kDownloading, &list);
      const std::int16_t mode = settings.lists[row].mode;
      if (list.group == ListGroup::kCountry) {
        if (mode != kModeAllow && mode != kModeDeny) {
          return Failed("the " + std::string(list.name) + " list cannot be chosen: country mode " +
                        std::to_string(mode) + " is not 0, 1 or 2; choose in " +
                        WhereToSet(kCountryModeField, list.modeKey));
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
      const bool allow = list.group == ListGroup::kCountry && mode == kModeAllow;
      DownloadedList& received =
          downloads.Group(list.group)
              .emplace_back(DownloadedList{
                  std::move(fetched.value),
                  std::string(list.name) + " (" + WithoutCredentials(TrimSpaces(address)) + ")",
                  allow});
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
  ended.keptAs = std::move(sofar.keptAs);
  return ended;
}

// Held for the whole run, so that two runs in one folder (two windows, a window and a
// scheduled palisor-update) never write the same files at once. Without it, `refused` says why.
std::optional<LockFile> TakeRunLock(RunReport& refused) {
  const std::filesystem::path folder = std::filesystem::current_path();
  bool busy = false;
  std::string error;
  std::optional<LockFile> lock = LockFile::TryTake(folder / kRunLockFile, busy, error);
  if (busy) {
    refused = Failed("another update is running in " + folder.string());
    refused.anotherRunning = true;
  } else if (!lock) {
    refused = Failed("the run lock cannot be taken: " + error);
  }
  return lock;
}

// Reached only once the run wrote the file, whichever groups filled it: a site that blocks
// only countries needs its file published as much as one that blocks proxies.
bool UploadWanted(const Settings& s) {
  return s.FTPSW;
}

// The upload of a look before going live: the live file read, nothing sent.
RunReport PreviewUploadOf(const Settings& settings, std::string generated, Run& run,
                          Transfer& transfer, Preview& preview) {
  preview.generated = generated;
  Result<PublishPreview> upload =
      PreviewUpload(settings, std::move(generated), transfer, run.stop());
  if (!upload.ok()) {
    return FromStage(upload);
  }
  preview.upload = std::move(upload.value);
  return {};
}

RunReport RunStages(Settings& settings, Run& run, Transfer& transfer) {
  Preview* const preview = run.options().preview;
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
  if (preview != nullptr) {
    preview->file = PreviewFileOf(settings);
    settings.LCFILE = preview->file.string();
  }
  run.Enter(Stage::kAnalysing);
  // What is published is the file this run writes, whatever LCFILE names by the upload.
  const std::string writtenFile = settings.LCFILE;
  Result<std::string> written = WriteAccessFile(std::move(downloads.lists), settings, run.events(),
                                                run.stop(), &report, run.options().requestTimeout);
  if (!written.ok()) {
    return Keeping(FromStage(written), report);
  }
  report.outputWritten = true;

  if (run.stopped()) {
    return Keeping(Abandoned(), report);
  }
  TakeConfirmedSettings(settings, run, transfer);
  settings.LCFILE = writtenFile;
  if (UploadWanted(settings) && preview != nullptr) {
    run.Enter(Stage::kSending);
    RunReport looked = PreviewUploadOf(settings, std::move(written.value), run, transfer, *preview);
    return looked.outcome == Outcome::kOk ? report : Keeping(std::move(looked), report);
  }
  if (UploadWanted(settings)) {
    run.Enter(Stage::kSending);
    const Result<Published> sent =
        UploadAccessFile(settings, std::move(written.value), transfer, run.stop(), report.warnings);
    report.unchanged = sent.value.unchanged;
    report.keptAs = sent.value.keptAs;
    if (!sent.ok()) {
      RunReport failed = Keeping(FromStage(sent), report);
      failed.ownerLinesRefused = sent.value.ownerLinesRefused;
      return failed;
    }
  }
  return report;
}

// The settings file holds the password only its owner may read; what it cannot be made so
// is said.
std::optional<std::string> PasswordExposed(const Settings& settings) {
  if (settings.SVPSWD.empty()) {
    return std::nullopt;
  }
  const std::string why = MakeOwnerOnly(NativePath(kSettingsFile));
  if (why.empty()) {
    return std::nullopt;
  }
  return "the settings file holds the FTP password, but it cannot be made readable by its "
         "owner only: " +
         why;
}

// The stages, in a folder where no one else can steer the files the run writes, with what
// killed runs left removed.
RunReport RunInFolder(Settings& settings, Run& run, Transfer& transfer) {
  if (std::string unsafe = WhyUnsafeWorkingFolder(); !unsafe.empty()) {
    return Failed(std::move(unsafe));
  }
  // A look before going live writes nothing but its preview, and spoils nothing for a run.
  if (run.options().preview != nullptr) {
    return RunStages(settings, run, transfer);
  }
  RunReport refused;
  const std::optional<LockFile> runLock = TakeRunLock(refused);
  if (!runLock) {
    return refused;
  }
  AtomicFile::RemoveLeftovers(OutputFile(settings));
  const std::optional<std::string> exposed = PasswordExposed(settings);
  RunReport report = RunStages(settings, run, transfer);
  if (exposed) {
    report.warnings.insert(report.warnings.begin(), *exposed);
  }
  return report;
}

}  // namespace

std::filesystem::path PreviewFileOf(const Settings& settings) {
  std::filesystem::path file = OutputFile(settings);
  const std::filesystem::path extension = file.extension();
  file.replace_extension();
  file += ".preview";
  file += extension;
  return file;
}

RunReport RestoreKept(const Settings& settings, std::size_t number, RunEvents& events,
                      Transfer& transfer, std::stop_token stop) {
  const RunOptions options;
  Run run(events, std::move(stop), options);
  events.RunStarted();
  RunReport report = [&] {
    if (std::string unsafe = WhyUnsafeWorkingFolder(); !unsafe.empty()) {
      return Failed(std::move(unsafe));
    }
    RunReport refused;
    const std::optional<LockFile> runLock = TakeRunLock(refused);
    if (!runLock) {
      return refused;
    }
    Result<KeptVersion> version = KeptVersionOf(settings, number);
    if (!version.ok()) {
      return FromStage(version);
    }
    transfer.SetExtraCaFile(NativePath(TrimSpaces(settings.CAFILE)));
    run.Enter(Stage::kSending);
    RunReport restored;
    const Result<Published> sent =
        RestoreVersion(settings, version.value, transfer, run.stop(), restored.warnings);
    RunReport ended = sent.ok() ? std::move(restored) : Keeping(FromStage(sent), restored);
    ended.unchanged = sent.value.unchanged;
    ended.keptAs = sent.value.keptAs;
    return ended;
  }();
  report.stage = run.reached();
  events.RunEnded(report);
  return report;
}

RunReport RunUpdate(Settings& settings, RunEvents& events, Transfer& transfer, std::stop_token stop,
                    const RunOptions& options) {
  Run run(events, std::move(stop), options);
  events.RunStarted();
  RunReport report;
  try {
    report = RunInFolder(settings, run, transfer);
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
