#include "app/float_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

namespace app {
namespace {

struct Formatted {
  double value;
  const char* text;
};

class FloatToTextTable : public testing::TestWithParam<Formatted> {};

TEST_P(FloatToTextTable, WritesGeneralForm) {
  EXPECT_EQ(FloatToText(GetParam().value, '.'), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    PlainAndScientific, FloatToTextTable,
    testing::Values(
        Formatted{0.0, "0"}, Formatted{-0.0, "0"}, Formatted{1.0, "1"}, Formatted{-20.0, "-20"},
        Formatted{12.5, "12.5"}, Formatted{-0.25, "-0.25"}, Formatted{1000.0, "1000"},
        Formatted{static_cast<double>(0.549f), "0.549000024795532"}, Formatted{0.1, "0.1"},
        Formatted{1.0 / 3.0, "0.333333333333333"}, Formatted{2.0 / 3.0, "0.666666666666667"},
        // Exponent boundaries: 0.0001 is still plain, 0.00001 is not.
        Formatted{0.0001, "0.0001"}, Formatted{0.00012345, "0.00012345"},
        Formatted{0.000015, "1.5E-5"}, Formatted{0.00001, "1E-5"},
        Formatted{999999999999999.0, "999999999999999"}, Formatted{1e15, "1E15"},
        Formatted{1e14, "100000000000000"}, Formatted{123456789012345678.0, "1.23456789012346E17"},
        Formatted{1e20, "1E20"}, Formatted{-2.5e-7, "-2.5E-7"},
        // Rounding to 15 digits can carry into a new leading digit.
        Formatted{9.9999999999999999, "10"}, Formatted{0.99999999999999999, "1"},
        Formatted{99999999999999950.0, "1E17"},
        Formatted{static_cast<double>(FLT_MAX), "3.40282346638529E38"},
        Formatted{-static_cast<double>(FLT_MAX), "-3.40282346638529E38"},
        Formatted{static_cast<double>(FLT_MIN), "1.17549435082229E-38"},
        Formatted{static_cast<double>(std::numeric_limits<float>::denorm_min()),
                  "1.40129846432482E-45"},
        Formatted{DBL_MAX, "1.79769313486232E308"}, Formatted{4.9e-324, "4.94065645841247E-324"},
        Formatted{std::numeric_limits<double>::infinity(), "INF"},
        Formatted{-std::numeric_limits<double>::infinity(), "-INF"},
        Formatted{std::numeric_limits<double>::quiet_NaN(), "NAN"}));

TEST(FloatToText, UsesTheGivenSeparator) {
  EXPECT_EQ(FloatToText(12.5, ','), "12,5");
  EXPECT_EQ(FloatToText(0.000015, ','), "1,5E-5");
  EXPECT_EQ(FloatToText(-0.001, ','), "-0,001");
}

TEST(FloatToText, LongestTextsFitTheBuffer) {
  for (const double value :
       {-1.23456789012345e-300, -0.000123456789012345, -123456789012345.0, -1.23456789012345e100}) {
    char buffer[kFloatTextCapacity];
    EXPECT_LE(FormatFloat(value, '.', buffer), kFloatTextCapacity);
  }
}

struct Parsed {
  const char* text;
  std::optional<double> value;
};

class TextToFloatTable : public testing::TestWithParam<Parsed> {};

TEST_P(TextToFloatTable, FollowsTheGrammar) {
  const std::optional<double> result = TextToFloat(GetParam().text, '.');
  ASSERT_EQ(result.has_value(), GetParam().value.has_value()) << GetParam().text;
  if (result) {
    EXPECT_EQ(*result, *GetParam().value) << GetParam().text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, TextToFloatTable,
    testing::Values(Parsed{"12.5", 12.5}, Parsed{"+12.5", 12.5}, Parsed{"-2.5E-1", -0.25},
                    Parsed{"1e3", 1000.0}, Parsed{"1E+3", 1000.0}, Parsed{"5.", 5.0},
                    Parsed{"-.5", -0.5}, Parsed{".5", 0.5}, Parsed{"1e", 1.0}, Parsed{"1e-", 1.0},
                    Parsed{".", 0.0}, Parsed{"-.e7", 0.0}, Parsed{"007", 7.0},
                    Parsed{"1.5   ", 1.5}, Parsed{"0.549000024795532", 0.549000024795532},
                    Parsed{"1e39", 1e39}, Parsed{"1e-50", 1e-50}, Parsed{"1e400", HUGE_VAL},
                    Parsed{"-1e400", -HUGE_VAL}, Parsed{"1e-400", 0.0},
                    Parsed{"1e99999999999999999999999", HUGE_VAL},
                    Parsed{"0.0000000000000000000000000000000001e34", 1.0},
                    Parsed{"4.9e-324", 4.9e-324}));

INSTANTIATE_TEST_SUITE_P(Rejected, TextToFloatTable,
                         testing::Values(Parsed{"", std::nullopt}, Parsed{"-", std::nullopt},
                                         Parsed{"+", std::nullopt}, Parsed{"e5", std::nullopt},
                                         Parsed{"-e5", std::nullopt}, Parsed{" 1", std::nullopt},
                                         Parsed{"1 2", std::nullopt}, Parsed{"1;2", std::nullopt},
                                         Parsed{"1,5", std::nullopt}, Parsed{"1.5.", std::nullopt},
                                         Parsed{"+-1", std::nullopt}, Parsed{"1e5x", std::nullopt},
                                         Parsed{"1\t", std::nullopt}, Parsed{"0x10", std::nullopt},
                                         Parsed{"inf", std::nullopt}, Parsed{"nan", std::nullopt},
                                         Parsed{"1e+-5", std::nullopt}));

TEST(TextToFloat, KeepsTheSignOfZero) {
  EXPECT_TRUE(std::signbit(*TextToFloat("-0", '.')));
  EXPECT_TRUE(std::signbit(*TextToFloat("-1e-400", '.')));
  EXPECT_FALSE(std::signbit(*TextToFloat("0", '.')));
}

TEST(TextToFloat, ReadsTheGivenSeparatorOnly) {
  EXPECT_EQ(TextToFloat("12,5", ','), 12.5);
  EXPECT_EQ(TextToFloat("-,5e1", ','), -5.0);
  EXPECT_EQ(TextToFloat("12.5", ','), std::nullopt);
  EXPECT_EQ(TextToFloat("3", ','), 3.0);
}

TEST(TextToFloat, ReadsVeryLongDigitStrings) {
  const std::string ones(70000, '1');
  EXPECT_EQ(TextToFloat(ones, '.'), HUGE_VAL);
  EXPECT_EQ(TextToFloat("0." + std::string(70000, '0') + "1e70001", '.'), 1.0);
  EXPECT_EQ(TextToFloat(std::string(70000, '0') + "2.5", '.'), 2.5);
}

TEST(FloatText, RoundTripsEverySingleExactlyEnough) {
  // 15 digits are more than the 9 a single needs, so the text of a widened
  // single narrows back to the same single.
  for (const float value : {0.549f, -20.0f, 1e-45f, FLT_MIN, FLT_MAX, -FLT_MAX, 3.14159f,
                            1.17549421e-38f, 16777217.0f}) {
    const std::optional<double> back = TextToFloat(FloatToText(value, ','), ',');
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(NarrowToSingle(*back), value);
  }
}

// Any double: the text is the C library's 15-digit rounding ("%.14e").
TEST(FloatToText, AgreesWithTheCLibraryRounding) {
  std::mt19937_64 random(20240601);
  // Ties at the 16th digit, carries into a new leading digit, then random
  // doubles and widened singles.
  const double fixed[] = {1234567890123455.0, 1234567890123465.0,  0.9999999999999995,
                          9999999999999999.0, 0.30000000000000004, 123456.78901234567};
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t bits = random();
    double value = std::bit_cast<double>(bits);
    if (i < static_cast<int>(std::size(fixed))) value = fixed[i];
    if (i % 2 == 1)
      value = static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
    if (!std::isfinite(value)) continue;
    char reference[40];
    std::snprintf(reference, sizeof reference, "%.14e", value);
    const std::string text = FloatToText(value, '.');
    // Extended precision tells apart any two different 15-digit decimals.
    ASSERT_EQ(std::strtold(text.c_str(), nullptr), std::strtold(reference, nullptr))
        << reference << " " << text;
  }
}

TEST(NarrowToSingle, FailsOnlyWhenTheSingleWouldBeInfinite) {
  const double largest = static_cast<double>(FLT_MAX);
  EXPECT_EQ(NarrowToSingle(largest), FLT_MAX);
  EXPECT_EQ(NarrowToSingle(-largest), -FLT_MAX);
  // Up to half a unit above the largest single still rounds to it.
  const double overflow = 0x1.ffffffp+127;
  EXPECT_EQ(NarrowToSingle(3.40282346638529e38), FLT_MAX);
  EXPECT_EQ(NarrowToSingle(std::nextafter(overflow, 0.0)), FLT_MAX);
  EXPECT_EQ(NarrowToSingle(overflow), std::nullopt);
  EXPECT_EQ(NarrowToSingle(-overflow), std::nullopt);
  EXPECT_EQ(NarrowToSingle(1e39), std::nullopt);
  EXPECT_EQ(NarrowToSingle(-1e39), std::nullopt);
  EXPECT_EQ(NarrowToSingle(HUGE_VAL), std::nullopt);
  EXPECT_EQ(NarrowToSingle(std::nan("")), std::nullopt);
}

TEST(NarrowToSingle, RoundsTinyValuesToTheNearestSingle) {
  EXPECT_EQ(NarrowToSingle(1e-50), 0.0f);
  EXPECT_EQ(NarrowToSingle(1.4e-45), std::numeric_limits<float>::denorm_min());
  EXPECT_EQ(NarrowToSingle(0.549), 0.549f);
  EXPECT_TRUE(std::signbit(*NarrowToSingle(-1e-50)));
}

}  // namespace
}  // namespace app
