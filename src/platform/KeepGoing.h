#pragma once

#include <functional>

namespace palisor {

// Asked between the slices a transfer waits in: false once the user has ended the program,
// so the transfer is abandoned at once. An empty one never stops a transfer.
using KeepGoing = std::function<bool()>;

}  // namespace palisor
