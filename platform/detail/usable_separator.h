// Internal: whether a locale's decimal separator text can serve float text.
#pragma once

#include <cstring>

namespace platform::detail {

// One byte that is no digit, sign, exponent letter or space.
inline bool UsableSeparator(const char* text) {
  if (text == nullptr || text[0] == '\0' || text[1] != '\0') return false;
  const char c = text[0];
  if (c >= '0' && c <= '9') return false;
  return std::strchr("+-eE \t", c) == nullptr && static_cast<unsigned char>(c) > 0x20;
}

}  // namespace platform::detail
