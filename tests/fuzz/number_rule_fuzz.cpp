// The number rule on arbitrary text: no crash, no undefined conversion, and the integer and
// flag readings agree with the number read.

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "FuzzSupport.h"
#include "settings/NumberRule.h"

namespace palisor::fuzz {
namespace {

template <typename Int>
double ClampedInto(double rounded) {
  if (std::isnan(rounded)) {
    return 0;
  }
  return std::fmin(std::fmax(rounded, std::numeric_limits<Int>::min()),
                   std::numeric_limits<Int>::max());
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace
}  // namespace palisor::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace palisor;
  using namespace palisor::fuzz;
  const std::string_view text = AsText(data, size);

  const double number = ReadNumber(text);
  // Text always means a number or none (0): "0e999" is zero, not 0 times infinity.
  FUZZ_CHECK(!std::isnan(number));
  const double rounded = RoundHalfEven(number);
  if (std::isfinite(number)) {
    FUZZ_CHECK(rounded == std::floor(rounded));
    FUZZ_CHECK(std::fabs(rounded - number) <= 0.5);
  }
  FUZZ_CHECK(ReadInt32(text) == ClampedInto<std::int32_t>(rounded));
  FUZZ_CHECK(ReadInt16(text) == ClampedInto<std::int16_t>(rounded));
  FUZZ_CHECK(ReadFlag(text) == (number != 0));
  if (AllDigits(text) && text.size() <= 15) {
    FUZZ_CHECK(number == std::stod(std::string(text)));
  }
  return 0;
}
