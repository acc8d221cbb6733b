#pragma once

#include <array>
#include <stop_token>
#include <string>
#include <string_view>

#include "platform/Transfer.h"
#include "settings/Settings.h"

namespace palisor {

enum class ListGroup { kCountry, kProxy, kOverseas };

// One row of the fixed list table, in the order the lists are fetched.
struct ListEntry {
  std::string_view name;     // for messages: "Anonymous", "Japan", ...
  std::string_view caption;  // shown while the list downloads
  ListGroup group;
};

// The five countries (in Country order), then Anonymous, Non-Anonymous, Squid, Russia 1,
// Russia 2 and Canada.
extern const std::array<ListEntry, 11> kListTable;

// Whether row `row` of the table is enabled by the settings.
bool ListEnabled(const Settings& settings, std::size_t row);

// The address row `row` is fetched from, as held in the settings (not trimmed).
// Empty for a country whose mode is not 1 or 2.
std::string ListAddress(const Settings& settings, std::size_t row);

// Downloads one list: the address without its surrounding spaces, the whole body as bytes,
// no larger than `room` allows.
Result<std::string> FetchList(Transfer& transfer, std::string_view address, std::stop_token stop,
                              const BodyLimit& room);

}  // namespace palisor
