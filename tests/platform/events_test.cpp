// Event objects and waits: reset kinds, list order, wait-all, time-outs on
// the fake clock, and wake-ups from another thread.
#include "platform/events.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "platform/tick_count.h"

namespace platform {
namespace {

TEST(EventReset, AutoResetReleasesOneWaitThenClears) {
  EventHandle e = CreateEvent(false, true);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  SetEvent(e);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
}

TEST(EventReset, ManualResetStaysSignalledUntilReset) {
  EventHandle e = CreateEvent(true, false);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  SetEvent(e);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  ResetEvent(e);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
}

TEST(EventHandles, EmptyHandlesFailAndCloseEmptiesTheHandle) {
  EventHandle e = CreateEvent(true, true);
  EXPECT_TRUE(CloseHandle(e));
  EXPECT_FALSE(e);
  EXPECT_FALSE(CloseHandle(e));
  EXPECT_FALSE(SetEvent(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
  const std::array<EventHandle, 2> list{CreateEvent(true, true), e};
  EXPECT_EQ(WaitForMultipleObjects(list, false, 0), WAIT_FAILED);
}

TEST(WaitAny, ReportsTheFirstSignalledInListOrderAndTakesOnlyThatOne) {
  const std::array<EventHandle, 3> list{CreateEvent(false, false), CreateEvent(false, true),
                                        CreateEvent(false, true)};
  EXPECT_EQ(WaitForMultipleObjects(list, false, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(list, false, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(list, false, 0), WAIT_TIMEOUT);
}

TEST(WaitAll, WaitsForAllAndTakesThemTogether) {
  const std::array<EventHandle, 2> list{CreateEvent(false, true), CreateEvent(true, false)};
  EXPECT_EQ(WaitForMultipleObjects(list, true, 0), WAIT_TIMEOUT);
  // A failed wait-all takes nothing: the auto-reset event is still set.
  EXPECT_EQ(WaitForSingleObject(list[0], 0), WAIT_OBJECT_0);
  SetEvent(list[0]);
  SetEvent(list[1]);
  EXPECT_EQ(WaitForMultipleObjects(list, true, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(list[0], 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(list[1], 0), WAIT_OBJECT_0);
}

TEST(WaitAll, RefusesTheSameEventTwice) {
  EventHandle e = CreateEvent(true, true);
  const std::array<EventHandle, 2> list{e, e};
  EXPECT_EQ(WaitForMultipleObjects(list, true, 0), WAIT_FAILED);
}

TEST(WaitWakeUp, SetFromAnotherThreadReleasesAnInfiniteWait) {
  EventHandle e = CreateEvent(false, false);
  std::thread setter([&] { SetEvent(e); });
  EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
  setter.join();
}

TEST(WaitWakeUp, WaitAllCompletesWhenTheLastEventIsSetElsewhere) {
  const std::array<EventHandle, 2> list{CreateEvent(true, true), CreateEvent(false, false)};
  std::thread setter([&] { SetEvent(list[1]); });
  EXPECT_EQ(WaitForMultipleObjects(list, true, INFINITE), WAIT_OBJECT_0);
  setter.join();
}

TEST(WaitTimeout, TimesOutOnlyWhenTheFakeClockPassesTheTimeout) {
  FakeTickClock clock(0xFFFFFF00u);  // the wait crosses the 32-bit wrap
  EventHandle never = CreateEvent(false, false);
  std::atomic<std::uint32_t> result{0};
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    result = WaitForSingleObject(never, 1000);
    returned = true;
  });
  clock.WaitUntilWaiting(1);
  clock.Advance(999);
  // Advancing wakes the waiter; it must go back to sleep, not return.
  clock.WaitUntilWaiting(1);
  EXPECT_FALSE(returned.load());
  clock.Advance(1);
  waiter.join();
  EXPECT_EQ(result.load(), WAIT_TIMEOUT);
}

TEST(WaitTimeout, SleepHonoursTheFakeClock) {
  FakeTickClock clock;
  std::atomic<bool> slept{false};
  std::thread sleeper([&] {
    Sleep(500);
    slept = true;
  });
  clock.WaitUntilWaiting(1);
  clock.Advance(500);
  sleeper.join();
  EXPECT_TRUE(slept.load());
}

TEST(WaitTimeout, RealClockTimeoutEnds) {
  EventHandle never = CreateEvent(true, false);
  EXPECT_EQ(WaitForSingleObject(never, 5), WAIT_TIMEOUT);
}

TEST(TickCount, WrapAroundSubtractionGivesTheElapsedTime) {
  EXPECT_EQ(TicksSince(0xFFFFFFF0u, 0x10u), 0x20u);
  EXPECT_EQ(TicksSince(5, 5), 0u);
  FakeTickClock clock(0xFFFFFFFFu);
  const std::uint32_t start = GetTickCount();
  clock.Advance(2);
  EXPECT_EQ(GetTickCount(), 1u);
  EXPECT_EQ(TicksSince(start, GetTickCount()), 2u);
}

TEST(TickCount, TimeLeftStopsAtZeroOnceTheTimeoutHasPassed) {
  EXPECT_EQ(TicksLeft(100, 400, 1000), 700u);
  EXPECT_EQ(TicksLeft(100, 1100, 1000), 0u);
  // Read late, after the deadline: nothing is left, not about 49 days.
  EXPECT_EQ(TicksLeft(100, 1101, 1000), 0u);
  EXPECT_EQ(TicksLeft(0xFFFFFF00u, 0x100u, 0x100u), 0u);
  EXPECT_EQ(TicksLeft(0xFFFFFF00u, 0x10u, 0x200u), 0xF0u);
}

TEST(TickCount, OnlyOneFakeClockAtATime) {
  FakeTickClock clock;
  EXPECT_THROW(FakeTickClock second, std::logic_error);
}

}  // namespace
}  // namespace platform
