#include "app/log_text.h"

#include <gtest/gtest.h>

#include <string>

namespace app {
namespace {

struct EscapeCase {
  std::string bytes;
  std::string console;
};

class ConsoleEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(ConsoleEscape, WritesOneLineWithControlBytesEscaped) {
  EXPECT_EQ(EscapeLogLine(GetParam().bytes), GetParam().console);
}

INSTANTIATE_TEST_SUITE_P(
    LogText, ConsoleEscape,
    ::testing::Values(EscapeCase{"received A;12.5\r\n", "received A;12.5\\r\\n"},
                      EscapeCase{"a\tb", "a\\tb"}, EscapeCase{"C:\\dir", "C:\\\\dir"},
                      EscapeCase{std::string("\0\x1b\x7f", 3), "\\x00\\x1B\\x7F"},
                      EscapeCase{"raw  4 T -17.80\xB0"
                                 "C",
                                 "raw  4 T -17.80\xC2\xB0"
                                 "C"},
                      EscapeCase{"\x80\x9f\xff", "\xE2\x82\xAC\xC5\xB8\xC3\xBF"},
                      EscapeCase{"\x81\x8d\x8f\x90\x9d", "\\x81\\x8D\\x8F\\x90\\x9D"},
                      EscapeCase{"", ""}));

TEST(LogText, WindowShowsLineBreaksAndMarksOtherControlBytes) {
  EXPECT_EQ(LogLineToDisplayText("received A;12.5\r\n"), "received A;12.5\n");
  EXPECT_EQ(LogLineToDisplayText("a\rb\nc\r\n\r\nd"), "a\nb\nc\n\nd");
  EXPECT_EQ(LogLineToDisplayText(std::string("\0\x1b\t\x7f", 4)),
            "\xE2\x90\x80\xE2\x90\x9B\t\xE2\x90\xA1");
  EXPECT_EQ(LogLineToDisplayText("\xB0"
                                 "C \x81"),
            "\xC2\xB0"
            "C \xEF\xBF\xBD");
}

TEST(LogText, EveryByteHasACodePoint) {
  for (int byte = 0; byte < 256; ++byte) {
    const char32_t cp = Windows1252ToCodePoint(static_cast<unsigned char>(byte));
    if (byte < 0x80 || byte > 0x9F) {
      EXPECT_EQ(cp, static_cast<char32_t>(byte));
    } else {
      EXPECT_NE(cp, 0u);
    }
  }
  EXPECT_EQ(Windows1252ToCodePoint(0x80), U'\u20AC');
  EXPECT_EQ(Windows1252ToCodePoint(0x99), U'\u2122');
}

}  // namespace
}  // namespace app
