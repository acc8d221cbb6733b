#pragma once

#include <string>
#include <vector>

#include "update/History.h"
#include "update/RunReport.h"
#include "update/RunUpdate.h"

namespace palisor {

// How many added and removed lines a look before going live shows of each.
inline constexpr std::size_t kChangesShown = 10;

// What a look before going live tells, one line each: per list the entries used and lines
// skipped, the lines the new file adds to and removes from the live file, whether the site
// owner's own lines would be asked about, and what a run would upload.
std::vector<std::string> DescribePreview(const RunReport& report, const Preview& preview);

// The kept versions of a target, one line each: number, time, size and lines.
std::vector<std::string> DescribeHistory(const History& history,
                                         const std::vector<KeptVersion>& versions);

}  // namespace palisor
