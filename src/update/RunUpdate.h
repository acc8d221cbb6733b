#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "platform/Transfer.h"
#include "settings/Settings.h"
#include "update/Publishing.h"
#include "update/RunEvents.h"
#include "update/RunReport.h"

namespace palisor {

// What a look before going live found: the file it would write, and what uploading it would do.
struct Preview {
  std::filesystem::path file;  // the preview file written instead of LCFILE
  std::string generated;
  std::optional<PublishPreview> upload;  // none when uploading is off
};

struct RunOptions {
  // Set on the transfer layer at the start of every run, for each download and the upload.
  std::chrono::milliseconds requestTimeout = std::chrono::seconds(600);
  // Brings the run's copy of the settings up to what the user confirmed since it was taken;
  // the run asks before each of its stages. Empty: the settings stay as they were.
  std::function<void(Settings& settings)> confirmedSettings;
  // Set: a look before going live. The run writes the preview file in place of LCFILE and
  // nothing else, takes no lock, reads the live file but sends nothing, and fills this.
  Preview* preview = nullptr;
  // The most a run holds of its downloaded lists at once, all lists together.
  std::size_t listBytes = std::size_t{512} << 20;
};

// One whole update run: downloads, generation, upload, told to `events` as it goes. It
// stops, abandoning its work cleanly, once `stop` is requested.
RunReport RunUpdate(Settings& settings, RunEvents& events, Transfer& transfer, std::stop_token stop,
                    const RunOptions& options = {});

// LCFILE's name with ".preview" before its extension: "htaccess.preview.txt".
std::filesystem::path PreviewFileOf(const Settings& settings);

// Puts the kept version `number` (1: the most recent) of the settings' target back on the
// site, as a run publishes, holding the run lock.
RunReport RestoreKept(const Settings& settings, std::size_t number, RunEvents& events,
                      Transfer& transfer, std::stop_token stop);

}  // namespace palisor
