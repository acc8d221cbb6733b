#pragma once

#include <chrono>
#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "settings/Settings.h"
#include "update/ListLines.h"
#include "update/Outcome.h"
#include "update/RunEvents.h"

namespace palisor {

// User files around the list lines, in the working directory.
inline constexpr const char* kHeadFile = ".\\add2htaccess.txt";
inline constexpr const char* kTailFile = ".\\add2htaccess2.txt";

// One downloaded list. `name` names it where its skipped lines are reported; a bare address in
// a country list becomes "allow from" on the country's allow list and "deny from" on its deny
// list.
struct DownloadedList {
  std::string text;
  std::string name;
  bool allow = true;
};

// The downloaded lists of each group, in table order. Each list is read on its own, so one
// without a final line end never runs into the next.
struct GroupLists {
  std::vector<DownloadedList> country;
  std::vector<DownloadedList> proxy;
  std::vector<DownloadedList> overseas;
};

// The access file LCFILE names.
std::filesystem::path OutputFile(const Settings& settings);
// With MERGE off, generation reads no further into a list than LISTMAX lines sure to be
// written (usable, and within Apache's line limit with these affixes and line end, whatever
// MASK and the affixes' spaces) and the next non-blank line (which tells that LISTMAX cut the
// list short). Drops the rest, so that a run holds only what its file can use.
void DropLinesPastListMax(DownloadedList& list, ListForm form, const Settings& settings);

// The settings DropLinesPastListMax goes by, from `from` into `to`: a run generates with those
// its lists were cut by, so that no line it let go would have been read.
void TakeListMaxSettings(const Settings& from, Settings& to);

// Writes the access file LCFILE: head file, country lines, proxy and overseas lines, tail
// file. Only list lines Apache reads as meant are written (see ListLines.h); the others are
// skipped and do not count against LISTMAX. The output is replaced atomically, so any failure
// or a stop leaves the previous file as it was. Gives the bytes written. `events` hears of
// every entry written. When `report` is given it receives the entries written and, per list,
// the lines skipped before LISTMAX was reached. An output that is a device or FIFO may take
// no bytes for at most `outputStallLimit`.
Result<std::string> WriteAccessFile(
    GroupLists lists, const Settings& settings, RunEvents& events, std::stop_token stop,
    RunReport* report = nullptr,
    std::chrono::milliseconds outputStallLimit = AtomicFile::kDefaultStallLimit);

}  // namespace palisor
