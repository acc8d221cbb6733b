#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Transfer.h"
#include "settings/Settings.h"
#include "update/Host.h"
#include "update/Outcome.h"

namespace palisor {

struct RunOptions {
  // Set on the transfer layer at the start of every run, for each download and the upload.
  std::chrono::milliseconds requestTimeout = std::chrono::seconds(600);
};

// How a run ended: kOk when it ended with "待機中" (nothing to do included), kFailed when it
// ended early (the caption left standing says where; `error` says what and why), kAbandoned
// when the user ended the program during it.
struct RunReport {
  Outcome outcome = Outcome::kOk;
  std::string error;
  // Lines of one list that generation left out, for lists that had any (table order).
  struct SkippedLines {
    std::string list;  // the list's name and address, as failures name it
    std::uint64_t count = 0;
    std::vector<std::string> first;  // the first few, printable
  };
  std::vector<SkippedLines> skipped;
  // What the user must hear of even when the run succeeded, one line each.
  std::vector<std::string> warnings;
  std::uint64_t linesWritten = 0;  // list lines in the access file
  // The last stage the run showed before its end ("送信中", a list's caption ...).
  std::string stage;
  // Every list was off or empty: nothing was written or sent.
  bool nothingToDo = false;
  // The access file was replaced, so a run abandoned later no longer left it as it was.
  bool outputWritten = false;
};

// One line for the user: the list, how many of its lines were skipped and the first of them.
std::string DescribeSkipped(const RunReport::SkippedLines& skipped);

// One whole update run: downloads, generation, upload. Every way out restores the idle
// window: the four buttons enabled, secondsLeft = TMINT, the timer ticking.
RunReport RunUpdate(Module1& state, Host& host, Transfer& transfer, const RunOptions& options = {});

}  // namespace palisor
