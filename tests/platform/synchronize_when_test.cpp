// A call synchronised into the UI thread that waits for an event first: it
// runs there once the event is signalled, loses to the stop event, hands its
// exception back, never blocks other work while it waits, and never lets its
// caller spin when the UI thread is gone.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#include "platform/application.h"
#include "platform/events.h"
#include "platform/tick_count.h"

namespace platform {
namespace {

class SynchronizeWhenTest : public ::testing::Test {
 protected:
  // The worker's outcome: true/false as returned, nullopt when it threw.
  void StartWorker(std::function<bool()> call = [] { return false; }) {
    worker_ = std::thread([this, call = std::move(call)] {
      try {
        result_ = app_->SynchronizeWhen(trigger_, stop_, call);
      } catch (const std::runtime_error&) {
        threw_ = true;
      }
      returned_ = true;
    });
  }
  void JoinWorker() { worker_.join(); }
  // A worker whose call only notes that it ran, once.
  void StartNotingWorker() {
    StartWorker([this] {
      ran_ = true;
      return false;
    });
  }
  // The UI thread's turn: waits until a call is ready, then serves it.
  void ServeReadyCall() {
    EXPECT_EQ(MsgWaitForMultipleObjects({}, false, INFINITE, QS_POSTMESSAGE), WAIT_OBJECT_0);
    app_->ProcessMessages();
  }

  FakeTickClock clock_;  // only for WaitUntilWaiting: nothing here times out
  std::unique_ptr<Application> app_ = std::make_unique<Application>();
  EventHandle trigger_ = CreateEvent(true, false);
  EventHandle stop_ = CreateEvent(true, false);
  std::thread worker_;
  std::optional<bool> result_;
  bool threw_ = false;
  std::atomic<bool> returned_{false};
  bool ran_ = false;
};

TEST_F(SynchronizeWhenTest, RunsInTheUIThreadOnlyOnceTriggered) {
  std::atomic<bool> ran{false};
  std::thread::id ranIn;
  StartWorker([&] {
    ranIn = std::this_thread::get_id();
    ran = true;
    return false;
  });
  std::thread setter([&] {
    clock_.WaitUntilWaiting(2);  // the UI thread and the worker are asleep
    EXPECT_FALSE(ran.load());
    SetEvent(trigger_);
    JoinWorker();
    app_->Terminate();
  });
  app_->Run();
  setter.join();
  EXPECT_EQ(result_, true);
  EXPECT_EQ(ranIn, std::this_thread::get_id());
}

TEST_F(SynchronizeWhenTest, StopBeforeTheTriggerWithdrawsTheCall) {
  StartNotingWorker();
  clock_.WaitUntilWaiting(1);
  SetEvent(stop_);
  JoinWorker();
  SetEvent(trigger_);
  app_->ProcessMessages();
  EXPECT_EQ(result_, false);
  EXPECT_FALSE(ran_);
}

TEST_F(SynchronizeWhenTest, ATriggerAfterTheStopCommitsNothing) {
  StartNotingWorker();
  clock_.WaitUntilWaiting(1);
  SetEvent(stop_);
  SetEvent(trigger_);
  app_->ProcessMessages();
  JoinWorker();
  EXPECT_EQ(result_, false);
  EXPECT_FALSE(ran_);
}

TEST_F(SynchronizeWhenTest, ACallTheTriggerCommittedRunsDespiteALaterStop) {
  StartNotingWorker();
  clock_.WaitUntilWaiting(1);
  SetEvent(trigger_);
  SetEvent(stop_);
  ServeReadyCall();
  JoinWorker();
  EXPECT_EQ(result_, true);
  EXPECT_TRUE(ran_);
}

TEST_F(SynchronizeWhenTest, AStopAlreadySignalledQueuesNothing) {
  SetEvent(stop_);
  SetEvent(trigger_);
  StartWorker([] {
    ADD_FAILURE() << "ran although stopped";
    return false;
  });
  JoinWorker();
  app_->ProcessMessages();
  EXPECT_EQ(result_, false);
}

TEST_F(SynchronizeWhenTest, TheCallsExceptionIsRethrownInTheCaller) {
  StartWorker([]() -> bool { throw std::runtime_error("from the call"); });
  clock_.WaitUntilWaiting(1);
  SetEvent(trigger_);
  ServeReadyCall();
  JoinWorker();
  EXPECT_TRUE(threw_);
  EXPECT_FALSE(result_.has_value());
}

TEST_F(SynchronizeWhenTest, ACallThatAsksToRunAgainIsArmedAgainWhileTheCallerSleeps) {
  int runs = 0;
  StartWorker([&] {
    ResetEvent(trigger_);  // restarts what signals it, as a new wait would
    return ++runs < 3;
  });
  for (int i = 1; i <= 3; ++i) {
    clock_.WaitUntilWaiting(1);
    SetEvent(trigger_);
    ServeReadyCall();
    EXPECT_EQ(runs, i);
    if (i < 3) {
      EXPECT_FALSE(returned_);
    }
  }
  JoinWorker();
  EXPECT_EQ(result_, true);
}

TEST_F(SynchronizeWhenTest, ARearmedCallIsTakenBackByTheStop) {
  int runs = 0;
  StartWorker([&] {
    ResetEvent(trigger_);
    ++runs;
    return true;
  });
  clock_.WaitUntilWaiting(1);
  SetEvent(trigger_);
  ServeReadyCall();
  SetEvent(stop_);
  JoinWorker();
  app_->ProcessMessages();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(result_, false);
}

TEST_F(SynchronizeWhenTest, AWaitingCallDoesNotHoldBackLaterWork) {
  StartWorker();
  clock_.WaitUntilWaiting(1);
  bool posted = false;
  app_->QueueCall([&] { posted = true; });
  app_->ProcessMessages();
  EXPECT_TRUE(posted);
  EXPECT_FALSE(returned_);
  SetEvent(stop_);
  JoinWorker();
  EXPECT_EQ(result_, false);
}

TEST_F(SynchronizeWhenTest, WithTheUIThreadGoneItStillWaitsForTheTriggerThenThrows) {
  StartWorker([] {
    ADD_FAILURE() << "ran after the application ended";
    return false;
  });
  clock_.WaitUntilWaiting(1);
  app_.reset();
  clock_.WaitUntilWaiting(1);  // asleep again, on the trigger
  EXPECT_FALSE(returned_);
  SetEvent(trigger_);
  JoinWorker();
  EXPECT_TRUE(threw_);
}

}  // namespace
}  // namespace platform
