// The message loop: idle handler and its done flag, ProcessMessages,
// Synchronize, exception handling, termination and MsgWaitForMultipleObjects.
#include "platform/application.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/tick_count.h"

namespace platform {
namespace {

using ::testing::ElementsAre;

struct CustomError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class ApplicationTest : public ::testing::Test {
 protected:
  Application app;
};

TEST_F(ApplicationTest, IdleLeftDoneSleepsUntilTheNextMessage) {
  FakeTickClock clock;  // only for WaitUntilWaiting: no time-outs involved
  int idleCalls = 0;
  int idleCallsSeenByMessage = -1;
  std::thread poster;
  app.SetOnIdle([&](bool&) {
    ++idleCalls;
    if (idleCalls == 1) {
      poster = std::thread([&] {
        clock.WaitUntilWaiting(1);  // Run is asleep
        app.QueueCall([&] { idleCallsSeenByMessage = idleCalls; });
      });
    } else {
      app.Terminate();  // a spinning loop would get here before the message
    }
  });
  app.Run();
  poster.join();
  EXPECT_EQ(idleCallsSeenByMessage, 1);
  EXPECT_EQ(idleCalls, 2);
}

TEST_F(ApplicationTest, IdleSettingDoneFalseIsCalledAgainAfterPendingWork) {
  std::vector<std::string> trace;
  int idleCalls = 0;
  app.SetOnIdle([&](bool& done) {
    trace.push_back("idle" + std::to_string(++idleCalls));
    if (idleCalls == 1) app.QueueCall([&] { trace.push_back("posted"); });
    if (idleCalls < 3) {
      done = false;
    } else {
      app.Terminate();
    }
  });
  app.Run();
  EXPECT_THAT(trace, ElementsAre("idle1", "posted", "idle2", "idle3"));
}

TEST_F(ApplicationTest, FailingIdleHandlerIsReportedAndSleepsAsIfDone) {
  FakeTickClock clock;
  std::vector<std::string> shown;
  app.SetErrorDisplay([&](const std::string& message) { shown.push_back(message); });
  int idleCalls = 0;
  std::thread poster;
  app.SetOnIdle([&](bool& done) {
    if (++idleCalls == 1) {
      poster = std::thread([&] {
        clock.WaitUntilWaiting(1);
        app.Terminate();
      });
      done = false;
      throw std::overflow_error("floating point overflow");
    }
  });
  app.Run();
  poster.join();
  EXPECT_EQ(idleCalls, 1);
  EXPECT_THAT(shown, ElementsAre("floating point overflow"));
}

TEST_F(ApplicationTest, TerminateFromAnotherThreadEndsASleepingRun) {
  std::thread stopper([&] { app.Terminate(); });
  app.Run();
  stopper.join();
  EXPECT_TRUE(app.Terminated());
}

TEST_F(ApplicationTest, ProcessMessagesHandlesEverythingQueuedAndReturns) {
  std::vector<int> order;
  app.QueueCall([&] {
    order.push_back(1);
    app.QueueCall([&] { order.push_back(3); });
  });
  app.QueueCall([&] { order.push_back(2); });
  app.ProcessMessages();
  EXPECT_THAT(order, ElementsAre(1, 2, 3));
  app.ProcessMessages();  // empty: returns at once
  EXPECT_EQ(order.size(), 3u);
}

TEST_F(ApplicationTest, EscapingExceptionsGoToTheDefaultDisplayOnStderr) {
  app.QueueCall([] { throw std::runtime_error("Port Not Open"); });
  ::testing::internal::CaptureStderr();
  app.ProcessMessages();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "error: Port Not Open\n");
}

TEST_F(ApplicationTest, OwnExceptionHandlerReplacesTheDisplay) {
  std::vector<std::string> shown;
  app.SetErrorDisplay([&](const std::string& message) { shown.push_back(message); });
  std::exception_ptr handled;
  app.SetOnException([&](std::exception_ptr e) { handled = e; });
  app.QueueCall([] { throw CustomError("mine"); });
  app.ProcessMessages();
  EXPECT_THROW(std::rethrow_exception(handled), CustomError);
  EXPECT_TRUE(shown.empty());
}

TEST_F(ApplicationTest, SynchronizeRunsInTheUIThreadAndReturnsAfterIt) {
  std::thread::id ranIn;
  int value = 0;
  std::thread worker([&] {
    app.Synchronize([&] {
      ranIn = std::this_thread::get_id();
      value = 42;
    });
    EXPECT_EQ(value, 42);
    app.Terminate();
  });
  app.Run();
  worker.join();
  EXPECT_EQ(ranIn, std::this_thread::get_id());
}

TEST_F(ApplicationTest, SynchronizeRethrowsTheCallsExceptionInTheCaller) {
  std::vector<std::string> shown;
  app.SetErrorDisplay([&](const std::string& message) { shown.push_back(message); });
  bool caught = false;
  std::thread worker([&] {
    try {
      app.Synchronize([] { throw CustomError("in handler"); });
    } catch (const CustomError& e) {
      caught = std::string(e.what()) == "in handler";
    }
    app.Terminate();
  });
  app.Run();
  worker.join();
  EXPECT_TRUE(caught);
  EXPECT_TRUE(shown.empty());  // handed back, not shown
}

TEST_F(ApplicationTest, SynchronizeInTheUIThreadRunsAtOnce) {
  bool ran = false;
  app.Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_THROW(app.Synchronize([] { throw CustomError("x"); }), CustomError);
}

TEST(ApplicationLifetime, PendingSynchronizeFailsWhenTheApplicationEnds) {
  auto app = std::make_unique<Application>();
  bool failed = false;
  std::thread worker([&] {
    try {
      app->Synchronize([] {});
    } catch (const std::runtime_error&) {
      failed = true;
    }
  });
  // Wait until the call is queued, then end the application without serving it.
  EXPECT_EQ(MsgWaitForMultipleObjects({}, false, INFINITE, QS_POSTMESSAGE), WAIT_OBJECT_0);
  app.reset();
  worker.join();
  EXPECT_TRUE(failed);
}

TEST(ApplicationLifetime, AppReturnsTheInnermostApplication) {
  Application outer;
  EXPECT_EQ(&App(), &outer);
  {
    Application inner;
    EXPECT_EQ(&App(), &inner);
  }
  EXPECT_EQ(&App(), &outer);
}

class MsgWaitTest : public ApplicationTest {
 protected:
  std::array<EventHandle, 2> events{CreateEvent(false, false), CreateEvent(false, false)};
};

TEST_F(MsgWaitTest, ReportsASignalledEventBeforeQueuedWork) {
  SetEvent(events[1]);
  app.QueueCall([] {});
  EXPECT_EQ(MsgWaitForMultipleObjects(events, false, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(MsgWaitForMultipleObjects(events, false, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 2);
}

TEST_F(MsgWaitTest, WakesWhenWorkIsQueuedFromAnotherThread) {
  std::thread poster([&] { app.QueueCall([] {}); });
  EXPECT_EQ(MsgWaitForMultipleObjects(events, false, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0 + 2);
  poster.join();
}

TEST_F(MsgWaitTest, WakesWhenAnEventIsSetFromAnotherThread) {
  std::thread setter([&] { SetEvent(events[0]); });
  EXPECT_EQ(MsgWaitForMultipleObjects(events, false, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0);
  setter.join();
}

TEST_F(MsgWaitTest, IgnoresWorkOutsideTheWakeMask) {
  app.QueueCall([] {});
  EXPECT_EQ(MsgWaitForMultipleObjects(events, false, 0, QS_SENDMESSAGE), WAIT_TIMEOUT);
}

// The pacing wait of the simulation: wait on a never-signalled event while
// handling messages, until the tick count says the time is up.
TEST_F(MsgWaitTest, PacedWaitHandlesMessagesAndLastsUntilTheClockHasAdvanced) {
  FakeTickClock clock(0xFFFFFE00u);  // crosses the 32-bit wrap
  EventHandle never = CreateEvent(false, false);
  int handled = 0;
  std::thread driver([&] {
    clock.WaitUntilWaiting(1);
    clock.Advance(400);
    app.QueueCall([&] { ++handled; });
    clock.WaitUntilWaiting(1);
    clock.Advance(600);
  });
  const std::uint32_t start = GetTickCount();
  std::uint32_t remaining = 1000;
  int wakeUps = 0;
  while (remaining > 0) {
    const auto r = MsgWaitForMultipleObjects(std::span(&never, 1), false, remaining, 255);
    if (r == WAIT_TIMEOUT) break;
    ++wakeUps;
    app.ProcessMessages();
    remaining = 1000 - TicksSince(start, GetTickCount());
  }
  driver.join();
  EXPECT_EQ(handled, 1);
  EXPECT_EQ(wakeUps, 1);
  EXPECT_EQ(TicksSince(start, GetTickCount()), 1000u);
}

}  // namespace
}  // namespace platform
