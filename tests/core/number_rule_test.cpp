#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "settings/NumberRule.h"

namespace palisor {
namespace {

struct NumberCase {
  std::string_view text;
  double number;
  std::int32_t rounded;
};

TEST(NumberRule, ReadsTheLeadingNumberTheClassicWay) {
  const std::vector<NumberCase> cases = {
      {"2457", 2457, 2457},
      {" 2 45 7", 2457, 2457},
      {"24 and 57", 24, 24},
      {"12  3.4  5.6", 123.45, 123},
      {"12\t3.4\n5.6", 123.45, 123},
      {"1,000", 1, 1},
      {"abc", 0, 0},
      {"$12", 0, 0},
      {"0x1F", 0, 0},
      {"", 0, 0},
      {"   ", 0, 0},
      {"12abc", 12, 12},
      {"120abc", 120, 120},
      {"&H7F", 127, 127},
      {"&hff", 255, 255},
      {"&H F", 15, 15},
      {"&HG", 0, 0},
      {"&O177", 127, 127},
      {"&o 7", 7, 7},
      {"&O8", 0, 0},
      {"&12", 0, 0},
      {"1e", 1, 1},
      {"1e+", 1, 1},
      {"1eA", 1, 1},
      {"1e3", 1000, 1000},
      {"1E3", 1000, 1000},
      {"1D3", 1000, 1000},
      {"1.1e +3", 1100, 1100},
      {"25e-1", 2.5, 2},
      {".5", 0.5, 0},
      {"-.5", -0.5, 0},
      {"+5", 5, 5},
      {" - 5", -5, -5},
      {"--5", 0, 0},
      {"-+5", 0, 0},
      {"-&H10", 0, 0},
      {"1.2.3", 1.2, 1},
      {"1..1", 1, 1},
      {"1. 1", 1.1, 1},
      {".", 0, 0},
      {"\r5", 0, 0},  // a carriage return is no blank
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(ReadNumber(c.text), c.number) << '"' << c.text << '"';
    EXPECT_EQ(ReadInt32(c.text), c.rounded) << '"' << c.text << '"';
  }
}

TEST(NumberRule, HalvesGoToTheEvenNeighbour) {
  const std::vector<std::pair<std::string_view, std::int32_t>> cases = {
      {"0.5", 0},   {"1.5", 2},   {"2.5", 2},  {"3.5", 4},    {"-0.5", 0},
      {"-1.5", -2}, {"-2.5", -2}, {"8.5", 8},  {"9.5", 10},   {"59.5", 60},
      {"60.5", 60}, {"0.51", 1},  {"2.49", 2}, {"-2.51", -3}, {"2147483646.5", 2147483646},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ReadInt32(text), expected) << text;
  }
}

TEST(NumberRule, NumbersBeyondTheFieldAreClampedToItsRange) {
  constexpr auto kMax32 = std::numeric_limits<std::int32_t>::max();
  constexpr auto kMin32 = std::numeric_limits<std::int32_t>::min();
  EXPECT_EQ(ReadInt32("2147483647"), kMax32);
  EXPECT_EQ(ReadInt32("2147483647.6"), kMax32);
  EXPECT_EQ(ReadInt32("2147483648"), kMax32);
  EXPECT_EQ(ReadInt32("1e12"), kMax32);
  EXPECT_EQ(ReadInt32("-2147483648"), kMin32);
  EXPECT_EQ(ReadInt32("-1e12"), kMin32);
  EXPECT_EQ(ReadInt32("&HFFFFFFFFFF"), kMax32);
  // Beyond any double: infinity in either direction, or zero.
  EXPECT_EQ(ReadInt32("1e999"), kMax32);
  EXPECT_EQ(ReadInt32("-1e99999999999999999999"), kMin32);
  EXPECT_EQ(ReadInt32(std::string(400, '9')), kMax32);
  EXPECT_EQ(ReadInt32("1e-999"), 0);
  EXPECT_EQ(ReadInt32("0.000001e-400"), 0);
  EXPECT_EQ(ReadInt32("0e99999"), 0);
  EXPECT_EQ(ReadInt32("0.001e310"), kMax32);
  EXPECT_EQ(ReadInt32("1000e-310"), 0);

  EXPECT_EQ(ReadInt16("32767"), 32767);
  EXPECT_EQ(ReadInt16("32767.5"), 32767);
  EXPECT_EQ(ReadInt16("40000"), 32767);
  EXPECT_EQ(ReadInt16("70000"), 32767);  // no wrap-around to 4464
  EXPECT_EQ(ReadInt16("-32768"), -32768);
  EXPECT_EQ(ReadInt16("-32768.5"), -32768);
  EXPECT_EQ(ReadInt16("-1e30"), -32768);
  EXPECT_EQ(ReadInt16("2"), 2);
}

TEST(NumberRule, RoundingKeepsNonFiniteValues) {
  EXPECT_TRUE(std::isnan(RoundHalfEven(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_EQ(RoundHalfEven(std::numeric_limits<double>::infinity()),
            std::numeric_limits<double>::infinity());
  EXPECT_EQ(RoundHalfEven(4503599627370497.0), 4503599627370497.0);  // beyond halves
}

TEST(NumberRule, FlagIsOnForAnyNonZeroNumber) {
  for (const auto text : {"1", "-1", "2", "0.5", " - 1", "&H1", "1e-300", "1abc"}) {
    EXPECT_TRUE(ReadFlag(text)) << text;
  }
  for (const auto text : {"0", "", "abc", "yes", "true", "-0", "0.0", "&H0", "1e-999"}) {
    EXPECT_FALSE(ReadFlag(text)) << text;
  }
}

}  // namespace
}  // namespace palisor
