// Internal: the one lock and the blocking step shared by event waits, the
// message queues and the fake clock. Not part of the platform API.
//
// Every thread queue and the list of blocked waiters are guarded by
// WaitLock() (on POSIX every event's state too). A waiter checks its
// condition under the lock, registers its thread's pump as blocked (on POSIX
// also with the events it waits for), releases the lock and sleeps in the
// pump; whoever changes the state does so under the lock and wakes the
// registered pumps. Registration and the check happen in one critical
// section, so no wake-up is lost. Where events are the system's (Windows),
// the pump's sleep is a system wait on the events and its own wake-up event
// together, so a signal from the system wakes it too.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>

#include "platform/events.h"
#include "platform/message_pump.h"

namespace platform::detail {

struct ThreadQueue;

std::mutex& WaitLock();

// WaitLock() held: wakes every thread sleeping in a wait (used when time
// moves on the fake clock).
void WakeAllBlockedLocked();
// WaitLock() held: how many waits are asleep now; BlockedChanged() is
// notified (under WaitLock()) whenever one goes to sleep.
std::size_t BlockedCountLocked();
std::condition_variable_any& BlockedChanged();

// Marks a wait as asleep in `pump` for its lifetime; made and destroyed
// with WaitLock() held.
class BlockedWait {
 public:
  explicit BlockedWait(MessagePump* pump);
  ~BlockedWait();
  BlockedWait(const BlockedWait&) = delete;
  BlockedWait& operator=(const BlockedWait&) = delete;

 private:
  MessagePump* pump_;
};

// WaitLock() held: sets `event` (Application and queue code that already
// holds the lock use this instead of SetEvent).
void SignalLocked(const EventHandle& event);

// A wait's list is refused (WAIT_FAILED) when a handle is empty, or when a
// wait for all names one event twice (it could never be taken "together"
// from an auto-reset event).
bool HasEmptyOrDuplicate(std::span<const EventHandle> events, bool waitAll);

// A time-out measured on the tick count, so a fake clock governs it too.
// Each pass of a wait reads the clock once (Left) and decides both whether
// the time is up and how long to sleep from that one reading.
class TickDeadline {
 public:
  explicit TickDeadline(std::uint32_t milliseconds);

  // INFINITE for a wait without time-out; 0 once it has run out.
  std::uint32_t Left() const;

  // When the pump should wake by itself: never for INFINITE, and never on a
  // fake clock, whose Advance wakes every waiter instead.
  static MessagePump::Deadline RealTime(std::uint32_t left);

 private:
  std::uint32_t start_;
  std::uint32_t milliseconds_;
};

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

}  // namespace platform::detail
