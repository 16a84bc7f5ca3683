#include "cport/setting_texts.h"

#include <gtest/gtest.h>

#include <string>

namespace cport {
namespace {

// Every value of every enumeration formats to its table entry and parses back.
TEST(SettingTexts, EveryValueRoundTrips) {
  for (int v = brCustom; v <= br256000; ++v) {
    EXPECT_EQ(ParseBaudRate(FormatBaudRate(static_cast<TBaudRate>(v))), v);
  }
  for (int v = sbOneStopBit; v <= sbTwoStopBits; ++v) {
    EXPECT_EQ(ParseStopBits(FormatStopBits(static_cast<TStopBits>(v))), v);
  }
  for (int v = dbFive; v <= dbEight; ++v) {
    EXPECT_EQ(ParseDataBits(FormatDataBits(static_cast<TDataBits>(v))), v);
  }
  for (int v = prNone; v <= prSpace; ++v) {
    EXPECT_EQ(ParseParity(FormatParity(static_cast<TParityBits>(v))), v);
  }
  for (int v = fcHardware; v <= fcCustom; ++v) {
    EXPECT_EQ(ParseFlowControl(FormatFlowControl(static_cast<TFlowControl>(v))), v);
  }
  for (int v = dtrDisable; v <= dtrHandshake; ++v) {
    EXPECT_EQ(ParseDTRControl(FormatDTRControl(static_cast<TDTRFlowControl>(v))), v);
  }
  for (int v = rtsDisable; v <= rtsToggle; ++v) {
    EXPECT_EQ(ParseRTSControl(FormatRTSControl(static_cast<TRTSFlowControl>(v))), v);
  }
}

TEST(SettingTexts, FormatsTheTableEntryOfTheOrdinal) {
  EXPECT_EQ(FormatBaudRate(brCustom), "Custom");
  EXPECT_EQ(FormatBaudRate(br9600), "9600");
  EXPECT_EQ(FormatBaudRate(br256000), "256000");
  EXPECT_EQ(FormatStopBits(sbOne5StopBits), "1.5");
  EXPECT_EQ(FormatDataBits(dbFive), "5");
  EXPECT_EQ(FormatParity(prSpace), "Space");
  EXPECT_EQ(FormatFlowControl(fcNone), "None");
  EXPECT_EQ(FormatDTRControl(dtrHandshake), "Handshake");
  EXPECT_EQ(FormatRTSControl(rtsToggle), "Toggle");
  // A value no enumerator names has no text rather than a stray read.
  EXPECT_EQ(FormatBaudRate(static_cast<TBaudRate>(200)), "");
}

struct ParseCase {
  const char* text;
  int expected;
};

class ParseBaudRateTest : public ::testing::TestWithParam<ParseCase> {};
TEST_P(ParseBaudRateTest, MatchesWholeTextIgnoringAsciiCaseElseFallsBack) {
  EXPECT_EQ(ParseBaudRate(GetParam().text), GetParam().expected) << GetParam().text;
}
INSTANTIATE_TEST_SUITE_P(Texts, ParseBaudRateTest,
                         ::testing::Values(ParseCase{"custom", brCustom},
                                           ParseCase{"CUSTOM", brCustom},
                                           ParseCase{"cUsToM", brCustom},
                                           ParseCase{"115200", br115200},
                                           ParseCase{"115000", br9600}, ParseCase{" 9600", br9600},
                                           ParseCase{"9600 ", br9600}, ParseCase{"110", br110},
                                           ParseCase{"1100", br9600}, ParseCase{"", br9600}));

TEST(SettingTexts, ParseFallbacksAndCaseRules) {
  EXPECT_EQ(ParseParity("even"), prEven);
  EXPECT_EQ(ParseParity("EVEN"), prEven);
  EXPECT_EQ(ParseParity("Even"), prEven);
  EXPECT_EQ(ParseParity("Evens"), prNone);
  EXPECT_EQ(ParseFlowControl("none"), fcNone);
  EXPECT_EQ(ParseFlowControl(""), fcCustom);
  EXPECT_EQ(ParseFlowControl("Xon/Xoff"), fcCustom);
  EXPECT_EQ(ParseStopBits("1,5"), sbOneStopBit);
  EXPECT_EQ(ParseStopBits("1.5"), sbOne5StopBits);
  EXPECT_EQ(ParseStopBits("2"), sbTwoStopBits);
  EXPECT_EQ(ParseDataBits("9"), dbEight);
  EXPECT_EQ(ParseDataBits("7"), dbSeven);
  EXPECT_EQ(ParseDTRControl("HANDSHAKE"), dtrHandshake);
  EXPECT_EQ(ParseDTRControl("Toggle"), dtrDisable);  // only the RTS table has it
  EXPECT_EQ(ParseRTSControl("toggle"), rtsToggle);
  EXPECT_EQ(ParseRTSControl("?"), rtsDisable);
}

TEST(SettingTexts, UpperCasingTouchesAsciiLettersOnly) {
  // 0xE9 and 0xC9 are a letter pair in the ANSI code page, but not to us; and
  // no byte outside a-z may be folded onto a letter.
  EXPECT_EQ(ParseParity("\xC9ven"), prNone);
  EXPECT_EQ(ParseParity("Ev\xC5n"), prNone);
  EXPECT_EQ(ParseParity("Eve\x0E"), prNone);
}

TEST(SettingTexts, BooleansAreYesOrNo) {
  EXPECT_EQ(FormatBool(true), "Yes");
  EXPECT_EQ(FormatBool(false), "No");
  for (const char* text : {"yes", "YES", "Yes", "yEs"})
    EXPECT_TRUE(ParseBool(text)) << text;
  for (const char* text : {"No", "Y", "true", "True", "1", "", " yes", "yes "}) {
    EXPECT_FALSE(ParseBool(text)) << text;
  }
}

TEST(SettingTexts, FormatCharWritesPrintablesAsThemselvesAndTheRestAsCodes) {
  EXPECT_EQ(FormatChar(0), "#0");
  EXPECT_EQ(FormatChar(17), "#17");
  EXPECT_EQ(FormatChar(32), "#32");
  EXPECT_EQ(FormatChar(33), "!");
  EXPECT_EQ(FormatChar('#'), "#");
  EXPECT_EQ(FormatChar(127), std::string(1, '\x7F'));
  EXPECT_EQ(FormatChar(static_cast<char>(128)), "#128");
  EXPECT_EQ(FormatChar(static_cast<char>(200)), "#200");
  EXPECT_EQ(FormatChar(static_cast<char>(255)), "#255");
}

struct CharCase {
  std::string text;
  int code;
};

class ParseCharTest : public ::testing::TestWithParam<CharCase> {};
TEST_P(ParseCharTest, ReadsTheHashFormOrTheFirstCharacter) {
  EXPECT_EQ(static_cast<unsigned char>(ParseChar(GetParam().text)), GetParam().code)
      << "text: " << GetParam().text;
}
INSTANTIATE_TEST_SUITE_P(
    Texts, ParseCharTest,
    ::testing::Values(CharCase{"", 0}, CharCase{"#", 35}, CharCase{"A", 65}, CharCase{"AB", 65},
                      CharCase{"!", 33}, CharCase{"#17", 17}, CharCase{"#0", 0},
                      CharCase{"#300", 44}, CharCase{"#-1", 255}, CharCase{"#+17", 17},
                      CharCase{"#   17", 17}, CharCase{"#  -2", 254}, CharCase{"#$11", 17},
                      CharCase{"#x11", 17}, CharCase{"#X1f", 31}, CharCase{"#0x41", 65},
                      CharCase{"#0XfF", 255}, CharCase{"#-$10", 240}, CharCase{"#$FFFFFFFF", 255},
                      CharCase{"#$100000000", 0}, CharCase{"#2147483647", 255},
                      CharCase{"#2147483648", 0}, CharCase{"#-2147483648", 0},
                      CharCase{"#-2147483649", 0}, CharCase{"#x", 0}, CharCase{"#$", 0},
                      CharCase{"#0x", 0}, CharCase{"#-", 0}, CharCase{"# ", 0}, CharCase{"#17 ", 0},
                      CharCase{"#17a", 0}, CharCase{"#1 7", 0}, CharCase{"#\t17", 0},
                      CharCase{"#- 17", 0}, CharCase{"#$g", 0}, CharCase{"##", 0},
                      CharCase{std::string("\0A", 2), 0}, CharCase{"\xE9t\xE9", 0xE9}));

TEST(SettingTexts, EveryCharacterCodeRoundTripsThroughItsText) {
  for (int code = 0; code < 256; ++code) {
    const auto c = static_cast<char>(code);
    EXPECT_EQ(ParseChar(FormatChar(c)), c) << code;
  }
}

}  // namespace
}  // namespace cport
