// The float text conversions.
// - TextToFloat on arbitrary text, with either separator: what it accepts
//   has the value the C library's strtod gives the same number (strtod is
//   correctly rounded), once the forms strtod spells differently are
//   normalised ("1e" means "1e0", "." alone means 0).
// - Any finite single written by FloatToText and read back with
//   TextToFloat and NarrowToSingle is the same single.
// - Any finite double read back from its 15-digit text lies within the
//   rounding of 15 significant digits (or is infinite, for the few doubles
//   whose 15-digit text lies beyond the largest double).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "app/float_text.h"
#include "fuzz_support.h"

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool SameDouble(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The accepted text rewritten in the form strtod reads the same way.
std::string ForStrtod(std::string_view text, char separator) {
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  std::string spelled(text);
  for (char& c : spelled) {
    if (c == separator) c = '.';
  }
  const std::size_t marker = spelled.find_first_of("eE");
  // A mantissa without any digit ("." or "-.e5") is zero.
  if (spelled.find_first_of("0123456789") >= marker) return spelled.starts_with('-') ? "-0" : "0";
  // An exponent marker without digits means exponent 0.
  if (marker != std::string::npos && !IsDigit(spelled.back())) spelled.erase(marker);
  return spelled;
}

void CheckAgainstStrtod(std::string_view text, char separator) {
  const std::optional<double> value = app::TextToFloat(text, separator);
  if (!value) return;
  const std::string spelled = ForStrtod(text, separator);
  char* end = nullptr;
  const double expected = std::strtod(spelled.c_str(), &end);
  fuzz::Check(end == spelled.c_str() + spelled.size(), "accepted text is a number to strtod");
  fuzz::Check(SameDouble(*value, expected), "TextToFloat agrees with strtod");
}

void CheckSingleRoundTrip(float single, char separator) {
  if (!std::isfinite(single)) return;
  const std::string text = app::FloatToText(static_cast<double>(single), separator);
  const std::optional<double> read = app::TextToFloat(text, separator);
  fuzz::Check(read.has_value(), "written single text is read");
  const std::optional<float> narrowed = app::NarrowToSingle(*read);
  fuzz::Check(narrowed.has_value(), "written single text narrows to a single");
  fuzz::Check(*narrowed == single, "single round trip gives the same value");
}

void CheckDoubleRoundTrip(double value) {
  if (!std::isfinite(value)) return;
  const std::string text = app::FloatToText(value, '.');
  fuzz::Check(text.size() <= app::kFloatTextCapacity, "text fits its capacity");
  const std::optional<double> read = app::TextToFloat(text, '.');
  fuzz::Check(read.has_value(), "written double text is read");
  // Near the largest double, 15 digits round up past it and read as infinity.
  constexpr double kRoundsBeyondRange = 1.797693134862315e308;
  if (std::isinf(*read) && std::fabs(value) >= kRoundsBeyondRange) return;
  const double tolerance =
      std::max(std::fabs(value) * 1e-14, std::numeric_limits<double>::denorm_min());
  fuzz::Check(std::fabs(*read - value) <= tolerance, "double round trip within 15 digits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::AsText({data, size});
  CheckAgainstStrtod(text, '.');
  CheckAgainstStrtod(text, ',');
  if (size >= sizeof(float)) {
    float single = 0;
    std::memcpy(&single, data, sizeof single);
    CheckSingleRoundTrip(single, '.');
    CheckSingleRoundTrip(single, ',');
  }
  if (size >= sizeof(double)) {
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    CheckDoubleRoundTrip(value);
  }
  return 0;
}
