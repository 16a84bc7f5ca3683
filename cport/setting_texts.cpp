#include "cport/setting_texts.h"

#include <cstdint>
#include <optional>

namespace cport {

namespace {

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// The entry at the value's ordinal; an ordinal outside the table (a value no
// enumerator names) has no text.
template <class Enum, std::size_t N>
std::string Format(const std::array<std::string_view, N>& table, Enum value) {
  const auto ordinal = static_cast<std::size_t>(value);
  return ordinal < N ? std::string(table[ordinal]) : std::string();
}

template <class Enum, std::size_t N>
Enum Parse(const std::array<std::string_view, N>& table, std::string_view text, Enum fallback) {
  for (std::size_t ordinal = 0; ordinal < N; ++ordinal) {
    if (EqualIgnoringAsciiCase(table[ordinal], text)) return static_cast<Enum>(ordinal);
  }
  return fallback;
}

int DigitValue(char c, unsigned base) {
  int value = 16;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return static_cast<unsigned>(value) < base ? value : -1;
}

// Reads the whole of `text` as a signed 32-bit integer: leading blanks, an
// optional sign, then decimal digits, or hexadecimal digits after "$", "x",
// "X", "0x" or "0X". Hexadecimal may give any 32-bit pattern ("$FFFFFFFF" is
// -1); decimal must lie in the signed range.
std::optional<std::int32_t> ReadInt32(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  unsigned base = 10;
  if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) {
    base = 16;
    text.remove_prefix(1);
  } else if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  const std::uint64_t limit = base == 16 ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
  std::uint64_t magnitude = 0;
  for (const char c : text) {
    const int digit = DigitValue(c, base);
    if (digit < 0) return std::nullopt;
    magnitude = magnitude * base + static_cast<unsigned>(digit);
    if (magnitude > limit) return std::nullopt;
  }
  auto bits = static_cast<std::uint32_t>(magnitude);
  if (negative) bits = 0u - bits;
  return static_cast<std::int32_t>(bits);
}

}  // namespace

std::string FormatBaudRate(TBaudRate value) {
  return Format(SettingTexts::BaudRate, value);
}
TBaudRate ParseBaudRate(std::string_view text) {
  return Parse(SettingTexts::BaudRate, text, br9600);
}

std::string FormatStopBits(TStopBits value) {
  return Format(SettingTexts::StopBits, value);
}
TStopBits ParseStopBits(std::string_view text) {
  return Parse(SettingTexts::StopBits, text, sbOneStopBit);
}

std::string FormatDataBits(TDataBits value) {
  return Format(SettingTexts::DataBits, value);
}
TDataBits ParseDataBits(std::string_view text) {
  return Parse(SettingTexts::DataBits, text, dbEight);
}

std::string FormatParity(TParityBits value) {
  return Format(SettingTexts::Parity, value);
}
TParityBits ParseParity(std::string_view text) {
  return Parse(SettingTexts::Parity, text, prNone);
}

std::string FormatFlowControl(TFlowControl value) {
  return Format(SettingTexts::FlowControl, value);
}
TFlowControl ParseFlowControl(std::string_view text) {
  return Parse(SettingTexts::FlowControl, text, fcCustom);
}

std::string FormatDTRControl(TDTRFlowControl value) {
  return Format(SettingTexts::DTRControl, value);
}
TDTRFlowControl ParseDTRControl(std::string_view text) {
  return Parse(SettingTexts::DTRControl, text, dtrDisable);
}

std::string FormatRTSControl(TRTSFlowControl value) {
  return Format(SettingTexts::RTSControl, value);
}
TRTSFlowControl ParseRTSControl(std::string_view text) {
  return Parse(SettingTexts::RTSControl, text, rtsDisable);
}

std::string FormatBool(bool value) {
  return std::string(value ? SettingTexts::Yes : SettingTexts::No);
}
bool ParseBool(std::string_view text) {
  return EqualIgnoringAsciiCase(text, SettingTexts::Yes);
}

std::string FormatChar(char value) {
  const auto code = static_cast<unsigned char>(value);
  if (code >= 33 && code <= 127) return std::string(1, value);
  return "#" + std::to_string(code);
}

char ParseChar(std::string_view text) {
  if (text.empty()) return 0;
  if (text.size() >= 2 && text.front() == '#') {
    const auto number = ReadInt32(text.substr(1));
    return number ? static_cast<char>(static_cast<std::uint32_t>(*number) & 0xFFu) : char{0};
  }
  return text.front();
}

}  // namespace cport
