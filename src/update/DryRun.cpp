#include "update/DryRun.h"

#include "settings/SettingKeys.h"
#include "update/ListLines.h"
#include "update/LiveFile.h"
#include "update/RunLog.h"

namespace palisor {
namespace {

void AddChanges(std::vector<std::string>& lines, const char* what, std::size_t count,
                const std::vector<std::string>& shown) {
  std::string head = CountOfLines(count) + " " + what;
  if (shown.size() < count) {
    head += ", the first " + std::to_string(shown.size());
  }
  lines.push_back(shown.empty() ? head : head + ":");
  for (const std::string& line : shown) {
    lines.push_back("  " + QuoteLine(line));
  }
}

std::string WhatWouldGo(const PublishPreview& upload) {
  if (upload.composed.mustAsk) {
    return "would upload: nothing; the live file holds " +
           CountOfLines(upload.composed.ownerLines.size()) + " of the site owner's own, and " +
           WhereToSet(keys::OTHERLINES) + " does not say whether to keep or replace them";
  }
  if (upload.live && *upload.live == upload.composed.bytes) {
    return "would upload: nothing; the live file is unchanged";
  }
  return "would upload: " + std::to_string(upload.composed.bytes.size()) + " bytes, " +
         CountOfLines(SplitLines(upload.composed.bytes).size());
}

}  // namespace

std::vector<std::string> DescribePreview(const RunReport& report, const Preview& preview) {
  std::vector<std::string> lines;
  for (const RunReport::ListUse& use : report.uses) {
    lines.push_back("list " + use.list + ": " + std::to_string(use.used) + " used, " +
                    CountOfLines(use.skipped) + " skipped");
  }
  lines.push_back("preview: " + preview.file.string() + " (" +
                  CountOfLines(SplitLines(preview.generated).size()) + ")");
  if (!preview.upload) {
    lines.push_back("uploading is off in " + WhereToSet(keys::FTPSW) +
                    ": nothing would be uploaded");
    return lines;
  }
  const PublishPreview& upload = *preview.upload;
  if (!upload.unreadable.empty()) {
    lines.push_back("the live file could not be read (" + upload.unreadable +
                    "); compared as if there were none");
  } else if (!upload.live) {
    lines.emplace_back("there is no live file yet");
  }
  const LineChanges changes =
      CompareLines(upload.live.value_or(""), upload.composed.bytes, kChangesShown);
  AddChanges(lines, "added", changes.addedCount, changes.added);
  AddChanges(lines, "removed", changes.removedCount, changes.removed);
  lines.push_back(
      upload.composed.ownerLines.empty()
          ? "lines of the site owner's own: none"
          : "lines of the site owner's own: " + std::to_string(upload.composed.ownerLines.size()) +
                (upload.composed.mustAsk
                     ? ", so a run would ask, as " + WhereToSet(keys::OTHERLINES) + " is not set"
                     : ", kept as " + WhereToSet(keys::OTHERLINES) + " says"));
  lines.push_back(WhatWouldGo(upload));
  return lines;
}

std::vector<std::string> DescribeHistory(const History& history,
                                         const std::vector<KeptVersion>& versions) {
  std::vector<std::string> lines;
  if (versions.empty()) {
    lines.push_back("no versions of " + history.target() + " are kept yet");
    return lines;
  }
  lines.push_back("kept versions of " + history.target() + ", the most recent first:");
  for (std::size_t i = 0; i < versions.size(); ++i) {
    const KeptVersion& version = versions[i];
    lines.push_back(std::to_string(i + 1) + "  " + LocalTimeText(version.when) + "  " +
                    std::to_string(version.size) + " bytes  " + CountOfLines(version.lines) + "  " +
                    version.file.string());
  }
  return lines;
}

}  // namespace palisor
