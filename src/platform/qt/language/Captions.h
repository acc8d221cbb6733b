#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "update/RunReport.h"

namespace palisor {

// The window's captions and palisor-update's stage lines in the interface's language. The core
// gives its captions in Japanese, as the log keeps them; they are translated only here.

// A caption the core gives (a stage's name, a run's closing caption); one it does not know
// stays as it is.
std::string CaptionText(std::string_view japanese);

// "待機中(n秒)": the countdown.
std::string WaitingCaption(std::int32_t secondsLeft);

// "停止中": the countdown stopped.
std::string StoppedCaption();

// "解析中(n件)" while the file is written.
std::string WritingCaption(std::uint64_t linesWritten);

// All of them, for ConsoleEvents.
CaptionWording InterfaceCaptions();

}  // namespace palisor
