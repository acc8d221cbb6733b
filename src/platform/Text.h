#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace palisor {

// Removes leading and trailing space characters (code 32) only; tabs stay.
std::string_view TrimSpaces(std::string_view text);

// Removes leading and trailing spaces and tabs.
std::string_view TrimBlanks(std::string_view text);

// True when the text is empty or holds spaces only.
bool IsBlank(std::string_view text);

// Whether `text` begins with `prefix`, ASCII letters compared without their case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// `text` with every byte outside printable ASCII, every backslash and every byte of
// `alsoEscaped` written as \xNN: what a server or a list sent then moves no cursor, rings
// no bell and fakes no line in a terminal, the log or a tooltip, and a "\xNN" read there
// always stands for one byte.
std::string EscapeBytes(std::string_view text, std::string_view alsoEscaped = {});

enum class Appended { kOk, kPastLimit, kOutOfMemory };

// Appends `piece` to `text` unless that takes it past `limit` bytes. The room grows by
// doubling, but never past `limit`: a body near its limit must not hold twice as much.
Appended AppendWithin(std::string& text, std::string_view piece, std::size_t limit);

}  // namespace palisor
