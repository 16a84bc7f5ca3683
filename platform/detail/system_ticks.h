// Internal: the system's own tick count, behind GetTickCount's fake clock.
#pragma once

#include <cstdint>

namespace platform::detail {

std::uint32_t SystemTicks();

}  // namespace platform::detail
