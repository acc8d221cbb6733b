#pragma once

#include "platform/Result.h"

namespace palisor {

// A stage of the update run: its outcome and, for a failure, why.
using StageResult = Result<>;

}  // namespace palisor
