#pragma once

#include <cstdint>
#include <string_view>

namespace palisor {

// The classic BASIC reading of a number from text: blanks, tabs and line feeds are ignored
// wherever they stand; an optional sign, digits, a decimal point, an exponent, or &H / &O;
// reading stops at the first character that cannot continue the number; no number reads as 0.
double ReadNumber(std::string_view text);

// Rounds to the nearest whole number, halves to the even one (59.5 -> 60, 60.5 -> 60).
double RoundHalfEven(double value);

// The number rule with rounding, clamped into the field's integer range (NaN reads as 0).
std::int32_t ReadInt32(std::string_view text);
std::int16_t ReadInt16(std::string_view text);

// The flag rule: on when the number read (without rounding) is not zero.
bool ReadFlag(std::string_view text);

}  // namespace palisor
