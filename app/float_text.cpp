#include "app/float_text.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace app {
namespace {

constexpr int kSignificantDigits = 15;
// Decimal magnitudes far beyond what a double can hold either way.
constexpr long long kMagnitudeLimit = 400;
constexpr long long kExponentSaturation = 1'000'000'000'000'000;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The value's digits d1...dn (trailing zeros dropped) and e, with the value
// equal to 0.d1...dn x 10^e. `value` is finite and positive.
struct Decimal {
  char digits[kSignificantDigits];
  int count;
  int exponent;
};

// to_chars' scientific text ("d.ddde+XX" or "de-XX") as digits and the
// exponent of 0.d1...dn x 10^e; `digits` must hold 17.
int ReadScientific(const char* text, const char* end, char* digits, int& exponent) {
  int count = 0;
  const char* p = text;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits[count++] = *p;
  }
  ++p;
  if (*p == '+') ++p;
  std::from_chars(p, end, exponent);
  ++exponent;
  return count;
}

// Keeps the first 15 of `digits`, adding one unit to the 15th when `up`.
void RoundTo15(char* digits, int& exponent, bool up) {
  if (up) {
    int i = kSignificantDigits - 1;
    while (i >= 0 && digits[i] == '9')
      digits[i--] = '0';
    if (i >= 0) {
      ++digits[i];
    } else {  // 999...9 became 1000...0
      digits[0] = '1';
      ++exponent;
    }
  }
}

Decimal Decompose(double value) {
  char text[40];
  char digits[17];
  int exponent = 0;
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
  int count = ReadScientific(text, result.ptr, digits, exponent);
  // The shortest text S that reads back as a normal double v is within v's
  // rounding interval, and no shorter text is. With at most 15 digits, S is
  // closer to v than half a unit of the 15th digit, so it is the 15-digit
  // rounding. With 16 or 17 digits, S and v round alike unless S is itself
  // the midpoint between two 15-digit values (16th digit 5, no 17th): any
  // other midpoint between v and S would have been a shorter or closer
  // choice. Subnormals and that tie take the slower exact rounding.
  const bool normal = value >= DBL_MIN;
  const bool tie = count == kSignificantDigits + 1 && digits[kSignificantDigits] == '5';
  if (!normal || tie) {
    result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific,
                           kSignificantDigits - 1);
    count = ReadScientific(text, result.ptr, digits, exponent);
  } else if (count > kSignificantDigits) {
    RoundTo15(digits, exponent, digits[kSignificantDigits] >= '5');
    count = kSignificantDigits;
  }
  Decimal decimal{};
  while (count > 1 && digits[count - 1] == '0')
    --count;
  std::memcpy(decimal.digits, digits, static_cast<std::size_t>(count));
  decimal.count = count;
  decimal.exponent = exponent;
  return decimal;
}

char* WritePlain(const Decimal& d, char separator, char* out) {
  if (d.exponent <= 0) {
    *out++ = '0';
    *out++ = separator;
    for (int i = d.exponent; i < 0; ++i)
      *out++ = '0';
    std::memcpy(out, d.digits, static_cast<std::size_t>(d.count));
    return out + d.count;
  }
  for (int i = 0; i < d.exponent; ++i)
    *out++ = i < d.count ? d.digits[i] : '0';
  if (d.count > d.exponent) {
    *out++ = separator;
    const int fraction = d.count - d.exponent;
    std::memcpy(out, d.digits + d.exponent, static_cast<std::size_t>(fraction));
    out += fraction;
  }
  return out;
}

char* WriteScientific(const Decimal& d, char separator, char* out) {
  *out++ = d.digits[0];
  if (d.count > 1) {
    *out++ = separator;
    std::memcpy(out, d.digits + 1, static_cast<std::size_t>(d.count - 1));
    out += d.count - 1;
  }
  *out++ = 'E';
  return std::to_chars(out, out + 8, d.exponent - 1).ptr;
}

char* WriteSpecial(double value, char* out) {
  const char* text = std::isnan(value) ? "NAN" : (value < 0 ? "-INF" : "INF");
  const std::size_t length = std::strlen(text);
  std::memcpy(out, text, length);
  return out + length;
}

// The parts of a text that matches the grammar.
struct Number {
  bool negative = false;
  std::string_view integer;   // digits before the separator
  std::string_view fraction;  // digits after it
  long long exponent = 0;     // saturated at kExponentSaturation
  std::size_t end = 0;        // where the number (sign to exponent digits) ends
};

std::optional<Number> Scan(std::string_view text, char separator) {
  Number number;
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) number.negative = text[i++] == '-';
  std::size_t start = i;
  while (i < n && IsDigit(text[i]))
    ++i;
  number.integer = text.substr(start, i - start);
  bool hasSeparator = false;
  if (i < n && text[i] == separator) {
    hasSeparator = true;
    start = ++i;
    while (i < n && IsDigit(text[i]))
      ++i;
    number.fraction = text.substr(start, i - start);
  }
  if (number.integer.empty() && !hasSeparator) return std::nullopt;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negativeExponent = text[i++] == '-';
    long long exponent = 0;
    for (; i < n && IsDigit(text[i]); ++i) {
      if (exponent < kExponentSaturation) exponent = exponent * 10 + (text[i] - '0');
    }
    number.exponent = negativeExponent ? -exponent : exponent;
  }
  number.end = i;
  while (i < n && text[i] == ' ')
    ++i;
  if (i != n) return std::nullopt;
  return number;
}

// Decimal position of the leading significant digit (1 for 1.0, 0 for 0.5),
// or nothing when every digit is zero.
std::optional<long long> LeadingMagnitude(const Number& number) {
  const std::size_t inInteger = number.integer.find_first_not_of('0');
  if (inInteger != std::string_view::npos) {
    return static_cast<long long>(number.integer.size() - inInteger) + number.exponent;
  }
  const std::size_t inFraction = number.fraction.find_first_not_of('0');
  if (inFraction == std::string_view::npos) return std::nullopt;
  return -static_cast<long long>(inFraction) + number.exponent;
}

double Convert(std::string_view text, const Number& number, char separator, long long magnitude) {
  double value = 0;
  std::string spelled;
  std::string_view digits = text.substr(0, number.end);
  if (digits.starts_with('+')) digits.remove_prefix(1);
  if (separator != '.' && digits.find(separator) != std::string_view::npos) {
    spelled.assign(digits);
    spelled[spelled.find(separator)] = '.';
    digits = spelled;
  }
  const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return number.negative ? -value : value;
  }
  return value;
}

}  // namespace

std::size_t FormatFloat(double value, char separator, std::span<char, kFloatTextCapacity> out) {
  char* const begin = out.data();
  char* end = begin;
  if (!std::isfinite(value)) {
    end = WriteSpecial(value, begin);
  } else if (value == 0) {
    *end++ = '0';
  } else {
    if (value < 0) *end++ = '-';
    const Decimal decimal = Decompose(std::fabs(value));
    end = (decimal.exponent >= -3 && decimal.exponent <= 15)
              ? WritePlain(decimal, separator, end)
              : WriteScientific(decimal, separator, end);
  }
  return static_cast<std::size_t>(end - begin);
}

std::string FloatToText(double value, char separator) {
  char buffer[kFloatTextCapacity];
  return std::string(buffer, FormatFloat(value, separator, buffer));
}

std::optional<double> TextToFloat(std::string_view text, char separator) {
  const std::optional<Number> number = Scan(text, separator);
  if (!number) return std::nullopt;
  const std::optional<long long> magnitude = LeadingMagnitude(*number);
  const double sign = number->negative ? -1.0 : 1.0;
  if (!magnitude) return sign * 0.0;
  if (*magnitude > kMagnitudeLimit) return sign * std::numeric_limits<double>::infinity();
  if (*magnitude < -kMagnitudeLimit) return sign * 0.0;
  return Convert(text, *number, separator, *magnitude);
}

std::optional<float> NarrowToSingle(double value) {
  // Halfway between the largest single and 2^128: from here on, rounding to
  // single precision gives infinity.
  constexpr double kSingleOverflow = 0x1.ffffffp+127;
  if (std::isnan(value) || std::fabs(value) >= kSingleOverflow) return std::nullopt;
  return static_cast<float>(value);
}

}  // namespace app
