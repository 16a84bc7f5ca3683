#include "platform/win32/windows_headers.h"

#include "platform/detail/system_ticks.h"

namespace platform::detail {

std::uint32_t SystemTicks() {
  return ::GetTickCount();
}

}  // namespace platform::detail
