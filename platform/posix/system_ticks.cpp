#include <chrono>

#include "platform/detail/system_ticks.h"

namespace platform::detail {

std::uint32_t SystemTicks() {
  const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count();
  return static_cast<std::uint32_t>(ms);  // keeps the low 32 bits: the count wraps
}

}  // namespace platform::detail
