#include "platform/message_pump.h"

namespace platform {

std::uint32_t MessagePump::WaitForWorkOrEvents(std::span<const EventHandle> events,
                                               bool /*waitAll*/, Deadline deadline,
                                               bool handleInput) {
  const bool input = WaitForWork(deadline, handleInput);
  return input ? WAIT_OBJECT_0 + static_cast<std::uint32_t>(events.size()) : WAIT_TIMEOUT;
}

}  // namespace platform
