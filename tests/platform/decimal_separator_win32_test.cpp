// The decimal separator comes from the system's locale data.
#include <gtest/gtest.h>

#include "platform/decimal_separator.h"

namespace platform {
namespace {

TEST(DecimalSeparatorOfWindowsLocales, ReadsTheLocalesSeparator) {
  EXPECT_EQ(DecimalSeparatorOfLocale("en-US"), '.');
  EXPECT_EQ(DecimalSeparatorOfLocale("de-DE"), ',');
  EXPECT_EQ(DecimalSeparatorOfLocale("xx-NOWHERE"), '.');
}

}  // namespace
}  // namespace platform
