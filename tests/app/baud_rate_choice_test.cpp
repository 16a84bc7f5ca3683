#include "app/baud_rate_choice.h"

#include <gtest/gtest.h>

#include <string>

namespace app {
namespace {

struct NamedRate {
  std::string text;
  cport::TBaudRate expected;
};

class BaudRateNamed : public ::testing::TestWithParam<NamedRate> {};

TEST_P(BaudRateNamed, SelectsTheValueThatNamesTheRate) {
  const auto choice = ChooseBaudRate(GetParam().text);
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->baudRate, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    BaudRateChoice, BaudRateNamed,
    ::testing::Values(NamedRate{"110", cport::br110}, NamedRate{"9600", cport::br9600},
                      NamedRate{"38400", cport::br38400}, NamedRate{" 115200 ", cport::br115200},
                      NamedRate{"57600", cport::br57600}, NamedRate{"256000", cport::br256000}));

TEST(BaudRateChoice, OtherPositiveRatesAreCustom) {
  for (const auto& [text, rate] : {std::pair{"250000", 250000}, std::pair{"1", 1},
                                   std::pair{"2147483647", 2147483647}, std::pair{"9601", 9601}}) {
    const auto choice = ChooseBaudRate(text);
    ASSERT_TRUE(choice) << text;
    EXPECT_EQ(choice->baudRate, cport::brCustom) << text;
    EXPECT_EQ(choice->customBaudRate, rate) << text;
  }
}

TEST(BaudRateChoice, RejectsWhatIsNoPositiveRate) {
  for (const char* text : {"", " ", "0", "-9600", "abc", "9600x", "96 00", "2147483648", "1e4",
                           "+9600", "9600.0", "select baud rate"}) {
    EXPECT_FALSE(ChooseBaudRate(text)) << text;
  }
}

TEST(BaudRateChoice, ApplyingACustomRateStoresItWithBrCustom) {
  cport::TComPort port;
  ApplyBaudRate(port, *ChooseBaudRate("250000"));
  EXPECT_EQ(port.BaudRate(), cport::brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 250000);
  ApplyBaudRate(port, *ChooseBaudRate("38400"));
  EXPECT_EQ(port.BaudRate(), cport::br38400);
  EXPECT_EQ(port.CustomBaudRate(), 250000);
}

}  // namespace
}  // namespace app
