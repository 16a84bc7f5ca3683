#include "app/log_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
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

// The console text of one byte, spelled out case by case.
std::string ReferenceEscape(unsigned char byte) {
  switch (byte) {
    case '\r':
      return "\\r";
    case '\n':
      return "\\n";
    case '\t':
      return "\\t";
    case '\\':
      return "\\\\";
    default:
      break;
  }
  const char32_t cp = Windows1252ToCodePoint(byte);
  if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F && cp == byte)) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    return hex;
  }
  std::string utf8;
  if (cp < 0x80) {
    utf8 += static_cast<char>(cp);
  } else if (cp < 0x800) {
    utf8 += static_cast<char>(0xC0 | (cp >> 6));
    utf8 += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    utf8 += static_cast<char>(0xE0 | (cp >> 12));
    utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    utf8 += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return utf8;
}

std::string ReferenceEscape(std::string_view bytes) {
  std::string out;
  for (const char c : bytes)
    out += ReferenceEscape(static_cast<unsigned char>(c));
  return out;
}

TEST(LogText, EveryByteEscapesAsTheReferenceDoes) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    EXPECT_EQ(EscapeLogLine(one), ReferenceEscape(one)) << byte;
    // Alone, between short and long plain runs, and next to itself.
    for (const std::string& framed :
         {"ab" + one + "cd" + one + one, "received " + one + " after eight" + one + "\r\n",
          std::string(7, 'x') + one + std::string(16, 'y') + one}) {
      EXPECT_EQ(EscapeLogLine(framed), ReferenceEscape(framed)) << byte;
    }
    all += one;
  }
  EXPECT_EQ(EscapeLogLine(all), ReferenceEscape(all));
}

TEST(LogText, RandomLinesEscapeAsTheReferenceDoes) {
  std::mt19937 generator(20240611);
  for (int i = 0; i < 2000; ++i) {
    std::string bytes(generator() % 80, '\0');
    // Mostly plain text with a few other bytes, as real lines are, and
    // some lines of anything at all.
    const bool anyBytes = i % 4 == 0;
    for (char& c : bytes) {
      const unsigned pick = generator();
      c = static_cast<char>(anyBytes || pick % 8 == 0 ? pick >> 8 : 0x20 + (pick >> 8) % 95);
    }
    ASSERT_EQ(EscapeLogLine(bytes), ReferenceEscape(bytes)) << i;
  }
}

TEST(LogText, AppendingKeepsWhatIsThere) {
  std::string out = "first\n";
  AppendEscapedLogLine(out, "received a\r\n");
  AppendEscapedLogLine(out, "");
  AppendEscapedLogLine(out, "\xB0");
  EXPECT_EQ(out, "first\nreceived a\\r\\n\xC2\xB0");
}

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
