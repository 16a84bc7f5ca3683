// Float text: how the simulated device writes and reads numbers, on the line
// and in its parameter file.
//
// Writing (FloatToText, FormatFloat): the value is rounded to 15 significant
// digits and trailing zeros are dropped. Seen as 0.d1...dn x 10^e, a value
// with e from -3 to 15 is written plainly ("12.5", "-0.0001", "0.25"),
// anything else in scientific form ("1E20", "1.5E-5", "-2.5E-7"). Zero of
// either sign is "0"; infinities are "INF"/"-INF" and NaN is "NAN".
//
// Reading (TextToFloat) accepts exactly: an optional sign, digits, optionally
// the separator and digits (a digit or the separator must follow the sign),
// optionally "E"/"e" with an optional sign and digits (none means 0), then
// only spaces. A magnitude beyond double precision reads as infinity, one
// below it as the nearest double (possibly 0).
//
// The separator is the caller's (the locale's, see
// platform::DecimalSeparator); it must not be a digit, sign, "E", "e" or
// space. All functions are pure and thread-safe.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace app {

// Room for the longest text FormatFloat writes.
inline constexpr std::size_t kFloatTextCapacity = 32;

// Writes the text of `value` into `out` and returns its length.
std::size_t FormatFloat(double value, char separator, std::span<char, kFloatTextCapacity> out);
std::string FloatToText(double value, char separator);

std::optional<double> TextToFloat(std::string_view text, char separator);

// The nearest single-precision value; std::nullopt when that is no finite
// single, i.e. the magnitude lies beyond the largest single by half a unit in
// its last place or more (or for NaN). So the 15-digit text of the largest
// single, which rounds slightly above it, still reads back as that single.
// Tiny values round to the nearest single, possibly zero.
std::optional<float> NarrowToSingle(double value);

}  // namespace app
