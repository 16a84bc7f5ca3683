// Internal: the one lock and the blocking step shared by event waits, the
// message queues and the fake clock. Not part of the platform API.
//
// Every event's state, every thread queue and the list of blocked waiters
// are guarded by WaitLock(). A waiter checks its condition under the lock,
// registers its thread's pump with everything that could change the
// condition, releases the lock and sleeps in the pump; whoever changes the
// state does so under the lock and wakes the registered pumps. Registration
// and the check happen in one critical section, so no wake-up is lost.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "platform/events.h"
#include "platform/message_pump.h"

namespace platform {

namespace detail {
struct ThreadQueue;
}  // namespace detail

// The state of one event; setting it wakes the threads waiting on it and
// does nothing else.
class EventObject {
 public:
  EventObject(bool manualReset, bool initialState)
      : manualReset_(manualReset), signalled_(initialState) {}

  // All members below: WaitLock() held.
  bool Signalled() const { return signalled_; }
  void Set();
  void Reset() { signalled_ = false; }
  // Takes the signal of an auto-reset event (a successful wait does this).
  void Acquire();
  void AddWaiter(MessagePump* pump) { waiters_.push_back(pump); }
  void RemoveWaiter(MessagePump* pump);

 private:
  const bool manualReset_;
  bool signalled_;
  std::vector<MessagePump*> waiters_;
};

namespace detail {

std::mutex& WaitLock();

// WaitLock() held: wakes every thread sleeping in a wait (used when time
// moves on the fake clock).
void WakeAllBlockedLocked();
// WaitLock() held: how many waits are asleep now; BlockedChanged() is
// notified (under WaitLock()) whenever one goes to sleep.
std::size_t BlockedCountLocked();
std::condition_variable_any& BlockedChanged();

// Work classes of a thread queue.
inline constexpr unsigned kSentWork = 1;
inline constexpr unsigned kPostedWork = 2;
inline constexpr unsigned kSyncWork = 4;

// The common wait: WAIT_OBJECT_0 + i for the events (first in list order,
// or all together), WAIT_OBJECT_0 + events.size() when `queue` holds work
// of `workClasses` or the pump handled toolkit input (only asked for when
// `handleInput`), WAIT_TIMEOUT, or WAIT_FAILED for an empty handle.
std::uint32_t WaitCore(std::span<const EventHandle> events, bool waitAll,
                       std::uint32_t milliseconds, ThreadQueue* queue, unsigned workClasses,
                       bool handleInput);

}  // namespace detail
}  // namespace platform
