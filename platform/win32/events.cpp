// Events are the system's event objects and waits the system's waits. A
// wait that must also wake for queued work or for time moving on a fake
// clock sleeps in its thread's pump, which puts the events and its own
// wake-up into one system wait.
#include "platform/win32/windows_headers.h"

#include <array>

#include "platform/detail/fake_clock.h"
#include "platform/detail/thread_queue.h"
#include "platform/detail/wait_core.h"
#include "platform/events.h"
#include "platform/win32/native_event.h"

namespace platform {
namespace detail {
namespace {

// The system's wait on the events alone.
std::uint32_t SystemWait(std::span<const EventHandle> events, bool waitAll,
                         std::uint32_t milliseconds) {
  std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> handles{};
  for (std::size_t i = 0; i < events.size(); ++i)
    handles[i] = events[i]->Native();
  return ::WaitForMultipleObjects(static_cast<DWORD>(events.size()), handles.data(),
                                  waitAll ? TRUE : FALSE, milliseconds);
}

}  // namespace

void SignalLocked(const EventHandle& event) {
  ::SetEvent(event->Native());
}

std::uint32_t WaitCore(std::span<const EventHandle> events, bool waitAll,
                       std::uint32_t milliseconds, ThreadQueue* queue, unsigned workClasses,
                       bool handleInput) {
  // One place is kept for a pump's own wake-up.
  if (HasEmptyOrDuplicate(events, waitAll) || events.size() >= MAXIMUM_WAIT_OBJECTS) {
    return WAIT_FAILED;
  }
  if (!queue && !FakeClockActive()) return SystemWait(events, waitAll, milliseconds);

  const auto messageResult = WAIT_OBJECT_0 + static_cast<std::uint32_t>(events.size());
  const std::shared_ptr<ThreadQueue> own = queue ? nullptr : CurrentQueue();
  ThreadQueue& waiting = queue ? *queue : *own;
  const TickDeadline deadline(milliseconds);
  for (;;) {
    // Signalled events are taken before queued work, in list order.
    if (!events.empty()) {
      const std::uint32_t r = SystemWait(events, waitAll, 0);
      if (r != WAIT_TIMEOUT) return r;
    }
    std::uint32_t r = WAIT_TIMEOUT;
    {
      std::unique_lock lock(WaitLock());
      if (queue && queue->HasWork(workClasses)) return messageResult;
      const std::uint32_t left = deadline.Left();
      if (left == 0) return WAIT_TIMEOUT;
      MessagePump* pump = waiting.pump;
      const BlockedWait blocked(pump);
      const auto wakeAt = TickDeadline::RealTime(left);
      lock.unlock();
      r = pump->WaitForWorkOrEvents(events, waitAll, wakeAt, handleInput);
      lock.lock();
    }
    if (r == WAIT_FAILED || r < messageResult) return r;
    if (r == messageResult && handleInput) return messageResult;
  }
}

}  // namespace detail

EventHandle CreateEvent(bool manualReset, bool initialState) {
  HANDLE handle =
      ::CreateEventA(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr);
  if (handle == nullptr) return nullptr;
  return std::make_shared<EventObject>(handle);
}

bool SetEvent(const EventHandle& event) {
  return event && ::SetEvent(event->Native()) != FALSE;
}

bool ResetEvent(const EventHandle& event) {
  return event && ::ResetEvent(event->Native()) != FALSE;
}

bool CloseHandle(EventHandle& event) {
  if (!event) return false;
  event.reset();
  return true;
}

std::uint32_t WaitForSingleObject(const EventHandle& event, std::uint32_t milliseconds) {
  return WaitForMultipleObjects(std::span<const EventHandle>(&event, 1), false, milliseconds);
}

std::uint32_t WaitForMultipleObjects(std::span<const EventHandle> events, bool waitAll,
                                     std::uint32_t milliseconds) {
  if (events.empty()) return WAIT_FAILED;
  return detail::WaitCore(events, waitAll, milliseconds, nullptr, 0, false);
}

void Sleep(std::uint32_t milliseconds) {
  if (milliseconds == 0 || !detail::FakeClockActive()) {
    ::Sleep(milliseconds);
    return;
  }
  detail::WaitCore({}, false, milliseconds, nullptr, 0, false);
}

}  // namespace platform
