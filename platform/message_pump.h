// The seam between the message queue and the loop that blocks a thread.
//
// The queue, its order and every rule about who serves what live in
// platform/. A MessagePump only knows how to put its thread to sleep until
// there may be something to do, and how to wake it. Each thread that waits
// in this library uses a headless pump (a condition variable); the
// application's user-interface thread uses the Application's pump, which a
// window toolkit replaces (Application::SetPump) to sleep inside its own
// event loop, so toolkit input and our queue are served by one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "platform/events.h"

namespace platform {

class MessagePump {
 public:
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;

  virtual ~MessagePump() = default;

  // Any thread. Makes the pump's thread return from WaitForWork (now, or at
  // its next call if it is not waiting). Called while the library holds its
  // internal lock: it must not call back into platform/ and must not block.
  virtual void Wake() = 0;

  // The pump's thread only. Sleeps until Wake was called since the previous
  // return, toolkit input arrived (handled here when `handleInput` is true,
  // otherwise left queued), or `deadline` passed (none: no time-out). May
  // return early for no reason; callers re-check their condition. Returns
  // true when toolkit input was handled.
  virtual bool WaitForWork(Deadline deadline, bool handleInput) = 0;

  // The pump's thread only. Sleeps like WaitForWork, and also ends when one
  // of `events` is signalled (all of them together with `waitAll`), taking
  // the signal as a wait does. Returns WAIT_OBJECT_0 + i for the event taken
  // (WAIT_OBJECT_0 for all), WAIT_OBJECT_0 + events.size() when toolkit input
  // was handled, WAIT_TIMEOUT for a wake-up, the deadline or no reason, and
  // WAIT_FAILED when the system refused the wait. Waits call it only where
  // events are the system's (Windows), so a pump there puts the events and
  // its own wake-up in one system wait. The default, right where events
  // wake pumps themselves, is WaitForWork.
  virtual std::uint32_t WaitForWorkOrEvents(std::span<const EventHandle> events, bool waitAll,
                                            Deadline deadline, bool handleInput);

  // The pump's thread only. Handles toolkit input that is already pending,
  // without blocking. Headless: nothing to do.
  virtual void ProcessInput() {}
};

// The pump of threads without a toolkit.
//
// On POSIX it sleeps in poll() on a pipe that Wake writes to only while the
// thread sleeps: the kernel then runs the woken thread on the waker's
// processor once the waker sleeps, which spares a hand-off between two
// threads a cross-processor wake-up. Without a pipe (none could be made) it
// falls back to a condition variable.
//
// On Windows its wake-up is an event object of the system, waited for in
// one system wait with the caller's events.
class HeadlessPump final : public MessagePump {
 public:
  // Asks for the condition variable from the start (POSIX; the same pump on
  // Windows).
  struct WithoutPipe {};

  HeadlessPump();
  explicit HeadlessPump(WithoutPipe);
  ~HeadlessPump() override;
  HeadlessPump(const HeadlessPump&) = delete;
  HeadlessPump& operator=(const HeadlessPump&) = delete;

  void Wake() override;
  bool WaitForWork(Deadline deadline, bool handleInput) override;
  std::uint32_t WaitForWorkOrEvents(std::span<const EventHandle> events, bool waitAll,
                                    Deadline deadline, bool handleInput) override;

 private:
  // The platform's means of sleeping and being woken.
  struct Sleeper;
  std::unique_ptr<Sleeper> sleeper_;
};

}  // namespace platform
