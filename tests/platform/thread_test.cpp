// Worker threads: start after construction, fatal exceptions, and WaitFor
// from the UI thread serving the calls a worker is blocked on.
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>

#include "platform/application.h"
#include "platform/message_window.h"

namespace platform {
namespace {

class LambdaThread : public Thread {
 public:
  explicit LambdaThread(std::function<void(LambdaThread&)> body) : body_(std::move(body)) {}
  ~LambdaThread() override { WaitFor(); }
  using Thread::Synchronize;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(LambdaThread&)> body_;
};

class ThreadTest : public ::testing::Test {
 protected:
  Application app;
};

TEST_F(ThreadTest, RunsOnlyAfterStartAndWaitForReturnsAfterTheBody) {
  std::atomic<int> runs{0};
  LambdaThread thread([&](LambdaThread&) { ++runs; });
  EXPECT_FALSE(thread.Finished());
  thread.WaitFor();  // not started: returns at once
  EXPECT_EQ(runs.load(), 0);
  thread.Start();
  thread.WaitFor();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_TRUE(thread.Finished());
  EXPECT_FALSE(thread.FatalException());
  EXPECT_THROW(thread.Start(), std::logic_error);
}

TEST_F(ThreadTest, BodySeesTerminate) {
  const EventHandle go = CreateEvent(true, false);
  bool sawTerminated = false;
  LambdaThread thread([&](LambdaThread& self) {
    WaitForSingleObject(go, INFINITE);
    sawTerminated = self.Terminated();
  });
  thread.Start();
  thread.Terminate();
  SetEvent(go);
  thread.WaitFor();
  EXPECT_TRUE(sawTerminated);
}

TEST_F(ThreadTest, EscapingExceptionIsKeptAsTheFatalException) {
  LambdaThread thread([](LambdaThread&) { throw std::runtime_error("body failed"); });
  thread.Start();
  thread.WaitFor();
  ASSERT_TRUE(thread.FatalException());
  EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::runtime_error);
}

TEST_F(ThreadTest, WaitingForItselfIsRefused) {
  LambdaThread thread([](LambdaThread& self) { self.WaitFor(); });
  thread.Start();
  thread.WaitFor();
  EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::logic_error);
}

// The close deadlock: the UI thread waits for a worker that waits for the
// UI thread. WaitFor must serve the worker's call so both can go on.
TEST_F(ThreadTest, WaitForInTheUIThreadServesAPendingSynchronize) {
  std::thread::id ranIn;
  LambdaThread thread(
      [&](LambdaThread& self) { self.Synchronize([&] { ranIn = std::this_thread::get_id(); }); });
  thread.Start();
  thread.WaitFor();
  EXPECT_EQ(ranIn, std::this_thread::get_id());
}

TEST_F(ThreadTest, WaitForInTheUIThreadServesAPendingSendMessage) {
  HWND window = CreateMessageWindow(
      [](const HWND&, UINT, WPARAM w, LPARAM) { return static_cast<LRESULT>(w) + 1; });
  LRESULT result = 0;
  LambdaThread thread([&](LambdaThread&) { result = SendMessage(window, WM_USER, 41, 0); });
  thread.Start();
  thread.WaitFor();
  EXPECT_EQ(result, 42);
}

TEST_F(ThreadTest, WaitForLeavesPostedWorkQueued) {
  bool posted = false;
  LambdaThread thread([&](LambdaThread& self) {
    app.QueueCall([&] { posted = true; });
    self.Synchronize([] {});  // makes sure WaitFor is running while the call waits
  });
  thread.Start();
  thread.WaitFor();
  EXPECT_FALSE(posted);
  app.ProcessMessages();
  EXPECT_TRUE(posted);
}

TEST_F(ThreadTest, DestructorWaitsForTheBody) {
  std::atomic<bool> ended{false};
  {
    LambdaThread thread([&](LambdaThread& self) {
      self.Synchronize([] {});
      ended = true;
    });
    thread.Start();
  }
  EXPECT_TRUE(ended.load());
}

}  // namespace
}  // namespace platform
