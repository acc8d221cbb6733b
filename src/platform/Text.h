#pragma once

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

}  // namespace palisor
