#pragma once

#include <stop_token>
#include <string>
#include <string_view>

#include "platform/Transfer.h"
#include "settings/Settings.h"

namespace palisor {

// Downloads one list: the address without its surrounding spaces, the whole body as bytes,
// no larger than `room` allows.
Result<std::string> FetchList(Transfer& transfer, std::string_view address, std::stop_token stop,
                              const BodyLimit& room);

}  // namespace palisor
