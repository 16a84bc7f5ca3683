// The system tick count: milliseconds since an arbitrary start, as an
// unsigned 32-bit number that wraps to 0 after about 49.7 days. Callers
// measure intervals by wrap-around subtraction (now - start), which stays
// right across the wrap.
//
// Tests drive time with a FakeTickClock: while one exists, GetTickCount
// returns its value and every wait with a time-out in this library measures
// its time-out against it, so a test proves a time-out by advancing the fake
// clock instead of sleeping. All functions may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

std::uint32_t GetTickCount();

// Milliseconds from `start` to `now`, correct across the 32-bit wrap.
constexpr std::uint32_t TicksSince(std::uint32_t start, std::uint32_t now) {
  return now - start;
}

// What is left of a `timeout` started at `start`, seen at `now`: 0 once it
// has run out, never a wrapped-around remainder.
constexpr std::uint32_t TicksLeft(std::uint32_t start, std::uint32_t now, std::uint32_t timeout) {
  const std::uint32_t passed = TicksSince(start, now);
  return passed >= timeout ? 0 : timeout - passed;
}

// Replaces the system tick count for its lifetime. At most one exists at a
// time (a second one throws std::logic_error); create it before the waits it
// should govern start.
class FakeTickClock {
 public:
  explicit FakeTickClock(std::uint32_t start = 0);
  ~FakeTickClock();
  FakeTickClock(const FakeTickClock&) = delete;
  FakeTickClock& operator=(const FakeTickClock&) = delete;

  std::uint32_t Now() const;
  // Moves time forward (wrapping) and wakes every wait so it can re-check
  // its time-out.
  void Advance(std::uint32_t milliseconds);
  // Blocks until at least `count` waits of this library (any thread, with
  // or without time-out) are asleep, so a test advances time only once the
  // wait it means to time out has taken its start time.
  void WaitUntilWaiting(std::size_t count) const;
};

}  // namespace platform
