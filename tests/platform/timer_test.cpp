#include "platform/timer.h"

#include <gtest/gtest.h>

#include "platform/application.h"
#include "platform/tick_count.h"

namespace platform {
namespace {

// The UI thread waits here until the timer has queued its call, then runs it.
void RunQueuedCall(Application& application) {
  ASSERT_EQ(MsgWaitForMultipleObjects({}, false, INFINITE, QS_POSTMESSAGE), WAIT_OBJECT_0);
  application.ProcessMessages();
}

class TimerTest : public ::testing::Test {
 protected:
  FakeTickClock clock{0xFFFFFFF0u};  // the time-outs below cross the wrap
  Application application;
  Timer timer{application};
  int calls = 0;
};

TEST_F(TimerTest, QueuesItsCallForTheUIThreadOnceTheTimeHasPassed) {
  timer.Start(100, [this] {
    EXPECT_TRUE(application.IsUIThread());
    ++calls;
  });
  EXPECT_TRUE(timer.Pending());
  clock.WaitUntilWaiting(1);
  clock.Advance(100);
  RunQueuedCall(application);
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(timer.Pending());
}

TEST_F(TimerTest, ACallQueuedButNotRunIsStoppedByCancel) {
  timer.Start(10, [this] { ++calls; });
  clock.WaitUntilWaiting(1);
  clock.Advance(10);
  ASSERT_EQ(MsgWaitForMultipleObjects({}, false, INFINITE, QS_POSTMESSAGE), WAIT_OBJECT_0);
  timer.Cancel();
  application.ProcessMessages();
  EXPECT_EQ(calls, 0);
}

TEST_F(TimerTest, ANewStartReplacesTheOneBefore) {
  int first = 0;
  timer.Start(10, [&first] { ++first; });
  timer.Start(50, [this] { ++calls; });
  clock.WaitUntilWaiting(1);
  clock.Advance(50);
  RunQueuedCall(application);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(calls, 1);
}

TEST_F(TimerTest, CanBeStartedAgainFromItsOwnCall) {
  timer.Start(5, [this] {
    ++calls;
    timer.Start(5, [this] { ++calls; });
  });
  clock.WaitUntilWaiting(1);
  clock.Advance(5);
  RunQueuedCall(application);
  EXPECT_TRUE(timer.Pending());
  clock.WaitUntilWaiting(1);
  clock.Advance(5);
  RunQueuedCall(application);
  EXPECT_EQ(calls, 2);
}

TEST_F(TimerTest, ZeroQueuesAtOnce) {
  timer.Start(0, [this] { ++calls; });
  RunQueuedCall(application);
  EXPECT_EQ(calls, 1);
}

TEST(TimerLifetime, DestroyingATimerStopsItsQueuedCall) {
  Application application;
  int calls = 0;
  {
    Timer timer(application);
    timer.Start(0, [&calls] { ++calls; });
    ASSERT_EQ(MsgWaitForMultipleObjects({}, false, INFINITE, QS_POSTMESSAGE), WAIT_OBJECT_0);
  }
  application.ProcessMessages();
  EXPECT_EQ(calls, 0);
}

TEST(TimerLifetime, AnIdleTimerEndsWithoutEverBeingStarted) {
  Application application;
  const Timer timer(application);
  EXPECT_FALSE(timer.Pending());
}

}  // namespace
}  // namespace platform
