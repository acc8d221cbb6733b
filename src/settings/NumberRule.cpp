#include "settings/NumberRule.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace palisor {
namespace {

// Walks the text the way the classic reader does: blanks, tabs and line feeds are invisible.
class NumberCursor final {
 public:
  explicit NumberCursor(std::string_view text) : text_(text) { SkipBlanks(); }

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  void Advance() {
    ++pos_;
    SkipBlanks();
  }
  bool Take(char c) {
    if (Peek() != c) {
      return false;
    }
    Advance();
    return true;
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n')) {
      ++pos_;
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The value of `c` as a digit of `base`, or -1.
int DigitValue(char c, int base) {
  int value = -1;
  if (IsDigit(c)) {
    value = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  }
  return value < base ? value : -1;
}

// &H and &O numbers: the digits that follow, read as an unsigned magnitude.
double ReadPrefixed(NumberCursor& cursor) {
  int base = 0;
  if (cursor.Take('H') || cursor.Take('h')) {
    base = 16;
  } else if (cursor.Take('O') || cursor.Take('o')) {
    base = 8;
  } else {
    return 0;
  }
  double value = 0;
  for (int digit = DigitValue(cursor.Peek(), base); digit >= 0;
       digit = DigitValue(cursor.Peek(), base)) {
    value = value * base + digit;
    cursor.Advance();
  }
  return value;
}

void TakeDigits(NumberCursor& cursor, std::string& out) {
  while (IsDigit(cursor.Peek())) {
    out += cursor.Peek();
    cursor.Advance();
  }
}

bool IsExponentLetter(char c) {
  return c == 'E' || c == 'e' || c == 'D' || c == 'd';
}

// An exponent counts only when digits follow its letter and optional sign ("1e+" is 1).
// Beyond any double's range the exact size no longer matters, so it is capped.
long ReadExponent(NumberCursor& cursor) {
  if (!IsExponentLetter(cursor.Peek())) {
    return 0;
  }
  cursor.Advance();
  const bool negative = cursor.Take('-');
  if (!negative) {
    cursor.Take('+');
  }
  long exponent = 0;
  while (IsDigit(cursor.Peek())) {
    exponent = std::min(exponent * 10 + (cursor.Peek() - '0'), 100000L);
    cursor.Advance();
  }
  return negative ? -exponent : exponent;
}

// Where the first significant digit stands, as a power of ten, for numbers too large or too
// small for a double.
long DecimalMagnitude(std::string_view whole, std::string_view fraction, long exponent) {
  const auto firstWhole = whole.find_first_not_of('0');
  if (firstWhole != std::string_view::npos) {
    return static_cast<long>(whole.size() - firstWhole) - 1 + exponent;
  }
  const auto firstFraction = fraction.find_first_not_of('0');
  if (firstFraction == std::string_view::npos) {
    return std::numeric_limits<long>::min();  // zero
  }
  return -static_cast<long>(firstFraction) - 1 + exponent;
}

double ReadDecimal(NumberCursor& cursor) {
  const bool negative = cursor.Take('-');
  if (!negative) {
    cursor.Take('+');
  }
  std::string whole;
  std::string fraction;
  TakeDigits(cursor, whole);
  if (cursor.Take('.')) {
    TakeDigits(cursor, fraction);
  }
  if (whole.empty() && fraction.empty()) {
    return 0;
  }
  const long exponent = ReadExponent(cursor);

  std::string digits = whole.empty() ? "0" : whole;
  if (!fraction.empty()) {
    digits += "." + fraction;
  }
  digits += "e" + std::to_string(exponent);
  double magnitude = 0;
  const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  if (result.ec == std::errc::result_out_of_range) {
    magnitude = DecimalMagnitude(whole, fraction, exponent) > 0
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
  }
  return negative ? -magnitude : magnitude;
}

template <typename Int>
Int ReadClamped(std::string_view text) {
  const double value = RoundHalfEven(ReadNumber(text));
  if (std::isnan(value)) {
    return 0;
  }
  constexpr double kLow = std::numeric_limits<Int>::min();
  constexpr double kHigh = std::numeric_limits<Int>::max();
  if (value <= kLow) {
    return std::numeric_limits<Int>::min();
  }
  if (value >= kHigh) {
    return std::numeric_limits<Int>::max();
  }
  return static_cast<Int>(value);
}

}  // namespace

double ReadNumber(std::string_view text) {
  NumberCursor cursor(text);
  if (cursor.Take('&')) {
    return ReadPrefixed(cursor);
  }
  return ReadDecimal(cursor);
}

double RoundHalfEven(double value) {
  if (!std::isfinite(value)) {
    return value;
  }
  const double below = std::floor(value);
  const double fraction = value - below;
  if (fraction > 0.5) {
    return below + 1;
  }
  if (fraction < 0.5) {
    return below;
  }
  return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

std::int32_t ReadInt32(std::string_view text) {
  return ReadClamped<std::int32_t>(text);
}

std::int16_t ReadInt16(std::string_view text) {
  return ReadClamped<std::int16_t>(text);
}

bool ReadFlag(std::string_view text) {
  return ReadNumber(text) != 0;
}

}  // namespace palisor
