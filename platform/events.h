// Event objects and waits with the semantics of the Win32 calls of the same
// names, for the component's threads and the device layer.
//
// An event is owned through an EventHandle (shared ownership, so a device that
// completes an overlapped transfer can still signal an event whose owner is
// about to close it). CloseHandle releases the caller's reference and empties
// the handle. All functions are safe to call from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace platform {

class EventObject;
using EventHandle = std::shared_ptr<EventObject>;

inline constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;
inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_TIMEOUT = 258;
inline constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFFu;

// A new event: manual reset stays signalled until ResetEvent; auto reset
// releases one waiter and clears itself.
EventHandle CreateEvent(bool manualReset, bool initialState);
bool SetEvent(const EventHandle& event);
bool ResetEvent(const EventHandle& event);
// Releases the reference and empties `event`; false when it was already empty.
bool CloseHandle(EventHandle& event);

// WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED for an empty handle.
std::uint32_t WaitForSingleObject(const EventHandle& event, std::uint32_t milliseconds);
// waitAll false: WAIT_OBJECT_0 + the index of the first signalled event in
// list order. waitAll true: WAIT_OBJECT_0 once all are signalled together.
std::uint32_t WaitForMultipleObjects(std::span<const EventHandle> events, bool waitAll,
                                     std::uint32_t milliseconds);

// Gives up the processor for `milliseconds` (measured like wait time-outs);
// 0 only yields the rest of the time slice.
void Sleep(std::uint32_t milliseconds);

}  // namespace platform
