#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "platform/Transfer.h"
#include "settings/Settings.h"

namespace palisor {

// Downloads one list: the address without its surrounding spaces, the whole body as bytes,
// no larger than `room` allows (the transfer's own cap alone when none is given).
Result<std::string> FetchList(Transfer& transfer, std::string_view address, std::stop_token stop,
                              const std::optional<BodyLimit>& room = {});

}  // namespace palisor
