// The rules of port names that every platform's port-name table shares.
// Pure functions; any thread.
#pragma once

#include <string_view>

namespace cport::detail {

// ASCII letters compared without case ("loop", "LOOP").
bool SameLetters(std::string_view a, std::string_view b);
// COMn with n from 1 and no leading zero; `number` is n.
bool ComPortNumber(std::string_view name, unsigned& number);

}  // namespace cport::detail
