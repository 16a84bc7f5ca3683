#include "platform/tick_count.h"

#include <atomic>
#include <mutex>
#include <stdexcept>

#include "platform/detail/fake_clock.h"
#include "platform/detail/system_ticks.h"
#include "platform/detail/wait_core.h"

namespace platform {
namespace {

std::atomic<bool> fakeActive{false};
std::atomic<std::uint32_t> fakeNow{0};

}  // namespace

std::uint32_t GetTickCount() {
  return fakeActive.load() ? fakeNow.load() : detail::SystemTicks();
}

FakeTickClock::FakeTickClock(std::uint32_t start) {
  if (fakeActive.exchange(true)) throw std::logic_error("a FakeTickClock already exists");
  fakeNow.store(start);
}

FakeTickClock::~FakeTickClock() {
  fakeActive.store(false);
  std::lock_guard lock(detail::WaitLock());
  detail::WakeAllBlockedLocked();  // waits measured on fake time move to real time
}

std::uint32_t FakeTickClock::Now() const {
  return fakeNow.load();
}

void FakeTickClock::Advance(std::uint32_t milliseconds) {
  fakeNow.fetch_add(milliseconds);
  // The time moves before the lock is taken: a waiter either sees the new
  // time in its check or is registered and gets woken here.
  std::lock_guard lock(detail::WaitLock());
  detail::WakeAllBlockedLocked();
}

void FakeTickClock::WaitUntilWaiting(std::size_t count) const {
  std::unique_lock lock(detail::WaitLock());
  detail::BlockedChanged().wait(lock, [count] { return detail::BlockedCountLocked() >= count; });
}

namespace detail {
bool FakeClockActive() {
  return fakeActive.load();
}
}  // namespace detail

}  // namespace platform
