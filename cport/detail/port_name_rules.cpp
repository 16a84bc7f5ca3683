#include "cport/detail/port_name_rules.h"

#include <cctype>
#include <charconv>
#include <cstddef>

namespace cport::detail {

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool ComPortNumber(std::string_view name, unsigned& number) {
  if (name.size() < 4 || !SameLetters(name.substr(0, 3), "COM")) return false;
  const std::string_view digits = name.substr(3);
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  return error == std::errc() && end == digits.data() + digits.size() && number >= 1 &&
         digits.front() != '0';
}

}  // namespace cport::detail
