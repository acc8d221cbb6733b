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

}  // namespace palisor
