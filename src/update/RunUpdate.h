#pragma once

#include <chrono>
#include <string>

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
};

// One whole update run: downloads, generation, upload. Every way out restores the idle
// window: the four buttons enabled, secondsLeft = TMINT, the timer ticking.
RunReport RunUpdate(Module1& state, Host& host, Transfer& transfer, const RunOptions& options = {});

}  // namespace palisor
