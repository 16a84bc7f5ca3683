// Events and waits of our own: an event's state lives under the wait lock,
// and setting it wakes the pumps registered with it.
#include "platform/events.h"

#include <algorithm>
#include <thread>

#include "platform/detail/thread_queue.h"
#include "platform/detail/wait_core.h"
#include "platform/posix/event_object.h"

namespace platform {

void EventObject::Set() {
  signalled_ = true;
  for (MessagePump* pump : waiters_)
    pump->Wake();
}

void EventObject::Acquire() {
  if (!manualReset_) signalled_ = false;
}

void EventObject::RemoveWaiter(MessagePump* pump) {
  const auto it = std::find(waiters_.begin(), waiters_.end(), pump);
  if (it != waiters_.end()) waiters_.erase(it);
}

namespace detail {
namespace {

// WaitLock() held. The satisfied wait's result, or WAIT_TIMEOUT for none.
std::uint32_t TryTake(std::span<const EventHandle> events, bool waitAll) {
  if (waitAll) {
    if (events.empty()) return WAIT_TIMEOUT;
    const bool all = std::all_of(events.begin(), events.end(),
                                 [](const EventHandle& e) { return e->Signalled(); });
    if (!all) return WAIT_TIMEOUT;
    for (const EventHandle& e : events)
      e->Acquire();
    return WAIT_OBJECT_0;
  }
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (events[i]->Signalled()) {
      events[i]->Acquire();
      return WAIT_OBJECT_0 + static_cast<std::uint32_t>(i);
    }
  }
  return WAIT_TIMEOUT;
}

// A sleeping wait, known to the events it waits for and to the fake clock.
class Registration {
 public:
  Registration(std::span<const EventHandle> events, MessagePump* pump)
      : events_(events), pump_(pump), blocked_(pump) {
    for (const EventHandle& e : events_)
      e->AddWaiter(pump_);
  }
  ~Registration() {
    for (const EventHandle& e : events_)
      e->RemoveWaiter(pump_);
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

 private:
  std::span<const EventHandle> events_;
  MessagePump* pump_;
  BlockedWait blocked_;
};

}  // namespace

void SignalLocked(const EventHandle& event) {
  event->Set();
}

std::uint32_t WaitCore(std::span<const EventHandle> events, bool waitAll,
                       std::uint32_t milliseconds, ThreadQueue* queue, unsigned workClasses,
                       bool handleInput) {
  if (HasEmptyOrDuplicate(events, waitAll)) return WAIT_FAILED;
  const auto messageResult = WAIT_OBJECT_0 + static_cast<std::uint32_t>(events.size());
  const std::shared_ptr<ThreadQueue> own = queue ? nullptr : CurrentQueue();
  ThreadQueue& waiting = queue ? *queue : *own;
  const TickDeadline deadline(milliseconds);
  std::unique_lock lock(WaitLock());
  for (;;) {
    if (const auto r = TryTake(events, waitAll); r != WAIT_TIMEOUT) return r;
    if (queue && queue->HasWork(workClasses)) return messageResult;
    const std::uint32_t left = deadline.Left();
    if (left == 0) return WAIT_TIMEOUT;
    MessagePump* pump = waiting.pump;
    bool input = false;
    {
      // Queue pushes always wake the queue's pump, so only the events and
      // the clock need to know about this waiter.
      const Registration registration(events, pump);
      const auto wakeAt = TickDeadline::RealTime(left);
      lock.unlock();
      input = pump->WaitForWork(wakeAt, handleInput);
      lock.lock();
    }
    if (input && handleInput) return messageResult;
  }
}

}  // namespace detail

EventHandle CreateEvent(bool manualReset, bool initialState) {
  return std::make_shared<EventObject>(manualReset, initialState);
}

bool SetEvent(const EventHandle& event) {
  if (!event) return false;
  std::lock_guard lock(detail::WaitLock());
  event->Set();
  return true;
}

bool ResetEvent(const EventHandle& event) {
  if (!event) return false;
  std::lock_guard lock(detail::WaitLock());
  event->Reset();
  return true;
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
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  detail::WaitCore({}, false, milliseconds, nullptr, 0, false);
}

}  // namespace platform
