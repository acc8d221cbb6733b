#pragma once

// A look at a list address before it is saved: downloaded and judged by the run's own rules,
// nothing written anywhere.

#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>

#include "platform/Result.h"
#include "update/ListLines.h"
#include "update/RunReport.h"

namespace palisor {

// What a run would make of one list.
struct ListTrial {
  Outcome outcome = Outcome::kOk;
  std::string error;                // a failure: the download's reason, or why it is no list
  std::uint64_t used = 0;           // entries the run would take
  RunReport::SkippedLines skipped;  // the lines it would leave out
};

// Trusted beside the system's store, as CAFILE is for a run; empty: the system's alone.
struct TrialTls {
  std::filesystem::path caFile;
};

// Downloads `address` as a run does and judges its lines as those of a `form` list.
ListTrial TryList(std::string_view address, ListForm form, const TrialTls& tls,
                  std::stop_token stop);

// The HTTP status `url` answers, as the check around an upload asks it.
Result<long> TryCheckUrl(std::string_view url, const TrialTls& tls, std::stop_token stop);

// One line for the user: entries usable and the lines skipped, or the failure.
std::string DescribeTrial(const ListTrial& trial);
std::string DescribeCheck(const Result<long>& check);

}  // namespace palisor
