// The system's text for an error number, as FormatMessageA gives it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// One line without the trailing line break; "system error N" when the
// system has no text for it.
std::string SystemMessage(std::uint32_t code);

}  // namespace platform
