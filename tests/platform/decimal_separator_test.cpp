#include "platform/decimal_separator.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(DecimalSeparator, OverridesNestAndRestore) {
  const char fromLocale = DecimalSeparator();
  {
    const ScopedDecimalSeparator comma(',');
    EXPECT_EQ(DecimalSeparator(), ',');
    {
      const ScopedDecimalSeparator dot('.');
      EXPECT_EQ(DecimalSeparator(), '.');
    }
    EXPECT_EQ(DecimalSeparator(), ',');
  }
  EXPECT_EQ(DecimalSeparator(), fromLocale);
}

TEST(DecimalSeparator, ReadsNamedLocales) {
  EXPECT_EQ(DecimalSeparatorOfLocale("C"), '.');
  EXPECT_EQ(DecimalSeparatorOfLocale("no_SUCH.locale"), '.');
}

}  // namespace
}  // namespace platform
