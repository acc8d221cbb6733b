#include "update/ListTry.h"

#include <chrono>

#include "platform/Text.h"
#include "platform/Transfer.h"
#include "settings/SettingsFile.h"
#include "update/ListDownload.h"

namespace palisor {
namespace {

// A try is waited for by someone looking at the dialog, not by a schedule.
constexpr auto kTrialTimeout = std::chrono::seconds(60);

ListTrial FailedTrial(Outcome outcome, std::string error) {
  ListTrial trial;
  trial.outcome = outcome;
  trial.error = std::move(error);
  return trial;
}

void Prepare(Transfer& transfer, const TrialTls& tls) {
  transfer.SetRequestTimeout(kTrialTimeout);
  transfer.SetExtraCaFile(tls.caFile);
}

ListTrial Judge(std::string_view body, ListForm form) {
  if (const auto noList = FindNoList(body, form)) {
    return FailedTrial(Outcome::kFailed, DescribeNoList(*noList));
  }
  ListTrial trial;
  LineSplitter lines(body);
  std::string_view line;
  while (lines.Next(line)) {
    if (LineUsed(line, form)) {
      ++trial.used;
    } else {
      NoteSkippedLine(trial.skipped, line);
    }
  }
  return trial;
}

}  // namespace

ListTrial TryList(std::string_view address, ListForm form, const TrialTls& tls,
                  std::stop_token stop) {
  // The placeholder host of the defaults is never looked up, by a try no more than by a run.
  if (IsPlaceholderAddress(address)) {
    return FailedTrial(
        Outcome::kFailed,
        "no address yet: lists.palisor.example only holds its place; enter the list's own address");
  }
  Transfer transfer;
  Prepare(transfer, tls);
  Result<std::string> fetched = FetchList(transfer, address, std::move(stop));
  if (!fetched.ok()) {
    return FailedTrial(fetched.outcome, std::move(fetched.error));
  }
  DropByteOrderMark(fetched.value);
  return Judge(fetched.value, form);
}

Result<long> TryCheckUrl(std::string_view url, const TrialTls& tls, std::stop_token stop) {
  Transfer transfer;
  Prepare(transfer, tls);
  return transfer.Check(TrimSpaces(url), KeepGoing(std::move(stop)));
}

std::string DescribeTrial(const ListTrial& trial) {
  if (trial.outcome != Outcome::kOk) {
    return "failed: " + trial.error;
  }
  std::string text =
      std::to_string(trial.used) + (trial.used == 1 ? " entry" : " entries") + " usable";
  if (trial.skipped.count > 0) {
    text += "; " + SkippedLinesText(trial.skipped);
  }
  return text;
}

std::string DescribeCheck(const Result<long>& check) {
  if (!check.ok()) {
    return "failed: " + check.error;
  }
  return "the site answered HTTP status " + std::to_string(check.value);
}

}  // namespace palisor
