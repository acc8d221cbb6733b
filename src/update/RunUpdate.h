#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <stop_token>

#include "platform/Transfer.h"
#include "settings/Settings.h"
#include "update/RunEvents.h"
#include "update/RunReport.h"

namespace palisor {

struct RunOptions {
  // Set on the transfer layer at the start of every run, for each download and the upload.
  std::chrono::milliseconds requestTimeout = std::chrono::seconds(600);
  // Brings the run's copy of the settings up to what the user confirmed since it was taken;
  // the run asks before each of its stages. Empty: the settings stay as they were.
  std::function<void(Settings& settings)> confirmedSettings;
  // The most a run holds of its downloaded lists at once, all lists together.
  std::size_t listBytes = std::size_t{512} << 20;
};

// One whole update run: downloads, generation, upload, told to `events` as it goes. It
// stops, abandoning its work cleanly, once `stop` is requested.
RunReport RunUpdate(Settings& settings, RunEvents& events, Transfer& transfer, std::stop_token stop,
                    const RunOptions& options = {});

}  // namespace palisor
