// Hidden message windows: direct and cross-thread SendMessage, ReplyMessage,
// InSendMessage, posted messages and destroyed windows.
#include "platform/message_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/application.h"

namespace platform {
namespace {

using ::testing::ElementsAre;

constexpr UINT kPing = WM_USER + 1;

class MessageWindowTest : public ::testing::Test {
 protected:
  // Runs `work` on another thread while this (the owner) thread runs the
  // loop; the loop ends when `work` returns.
  template <typename Work>
  void FromWorker(Work work) {
    std::thread worker([&] {
      work();
      app.Terminate();
    });
    app.Run();
    worker.join();
  }

  Application app;
  std::vector<std::string> shown;
  std::thread::id ranIn;
  bool sawInSend = false;
};

TEST_F(MessageWindowTest, SameThreadSendCallsTheProcedureDirectly) {
  HWND window = CreateMessageWindow([&](const HWND&, UINT message, WPARAM w, LPARAM l) {
    sawInSend = InSendMessage();
    return message == kPing ? static_cast<LRESULT>(w) + l : 0;
  });
  EXPECT_EQ(SendMessage(window, kPing, 40, 2), 42);
  EXPECT_FALSE(sawInSend);
  EXPECT_FALSE(ReplyMessage(1));  // nobody is waiting for a reply
}

TEST_F(MessageWindowTest, SameThreadSendLetsTheProceduresExceptionThrough) {
  HWND window = CreateMessageWindow(
      [](const HWND&, UINT, WPARAM, LPARAM) -> LRESULT { throw std::runtime_error("boom"); });
  EXPECT_THROW(SendMessage(window, kPing, 0, 0), std::runtime_error);
}

TEST_F(MessageWindowTest, CrossThreadSendRunsInTheOwnerAndReturnsTheResult) {
  HWND window = CreateMessageWindow([&](const HWND& self, UINT message, WPARAM w, LPARAM l) {
    ranIn = std::this_thread::get_id();
    sawInSend = InSendMessage();
    if (message != kPing) return DefWindowProc(self, message, w, l);
    return static_cast<LRESULT>(w) * 2;
  });
  LRESULT ping = 0;
  LRESULT other = -1;
  FromWorker([&] {
    ping = SendMessage(window, kPing, 21, 0);
    other = SendMessage(window, WM_NULL, 5, 0);
  });
  EXPECT_EQ(ping, 42);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(ranIn, std::this_thread::get_id());
  EXPECT_TRUE(sawInSend);
}

TEST_F(MessageWindowTest, ReplyMessageReleasesTheSenderBeforeTheProcedureReturns) {
  const EventHandle senderWentOn = CreateEvent(true, false);
  bool secondReply = true;
  HWND window = CreateMessageWindow([&](const HWND&, UINT, WPARAM, LPARAM) -> LRESULT {
    EXPECT_TRUE(ReplyMessage(7));
    secondReply = ReplyMessage(8);
    // Only a sender that was already released can set this.
    EXPECT_EQ(WaitForSingleObject(senderWentOn, INFINITE), WAIT_OBJECT_0);
    return 9;
  });
  LRESULT result = 0;
  FromWorker([&] {
    result = SendMessage(window, kPing, 0, 0);
    SetEvent(senderWentOn);
  });
  EXPECT_EQ(result, 7);
  EXPECT_FALSE(secondReply);
}

TEST_F(MessageWindowTest, CrossThreadExceptionIsHandledInTheOwnerAndReturnsZero) {
  app.SetErrorDisplay([&](const std::string& message) { shown.push_back(message); });
  HWND window = CreateMessageWindow(
      [](const HWND&, UINT, WPARAM, LPARAM) -> LRESULT { throw std::runtime_error("in proc"); });
  LRESULT result = -1;
  FromWorker([&] { result = SendMessage(window, kPing, 0, 0); });
  EXPECT_EQ(result, 0);
  EXPECT_THAT(shown, ElementsAre("in proc"));
}

TEST_F(MessageWindowTest, DestroyedOrEmptyWindowAnswersZeroAtOnce) {
  int calls = 0;
  HWND window = CreateMessageWindow([&](const HWND&, UINT, WPARAM, LPARAM) -> LRESULT {
    ++calls;
    return 1;
  });
  HWND copy = window;
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_FALSE(window);
  EXPECT_FALSE(IsWindow(copy));
  EXPECT_FALSE(DestroyWindow(copy));
  LRESULT fromWorker = -1;
  std::thread worker([&] { fromWorker = SendMessage(copy, kPing, 0, 0); });
  worker.join();  // no loop runs: a hang would show here
  EXPECT_EQ(fromWorker, 0);
  EXPECT_EQ(SendMessage(copy, kPing, 0, 0), 0);
  EXPECT_EQ(SendMessage(nullptr, kPing, 0, 0), 0);
  EXPECT_FALSE(PostMessage(copy, kPing, 0, 0));
  EXPECT_EQ(calls, 0);
}

TEST_F(MessageWindowTest, DestroyingAWindowReleasesQueuedSendersAndDropsPostedMessages) {
  int calls = 0;
  HWND window = CreateMessageWindow([&](const HWND&, UINT, WPARAM, LPARAM) -> LRESULT {
    ++calls;
    return 1;
  });
  EXPECT_TRUE(PostMessage(window, kPing, 0, 0));
  LRESULT result = -1;
  std::thread worker([&] { result = SendMessage(window, kPing, 0, 0); });
  // Wait until the sent message is queued, then destroy without serving it.
  EXPECT_EQ(MsgWaitForMultipleObjects({}, false, INFINITE, QS_SENDMESSAGE), WAIT_OBJECT_0);
  HWND doomed = window;
  DestroyWindow(doomed);
  worker.join();
  app.ProcessMessages();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(calls, 0);
}

TEST_F(MessageWindowTest, WindowOfAnEndedThreadAnswersZero) {
  HWND window;
  std::thread owner([&] {
    window = CreateMessageWindow([](const HWND&, UINT, WPARAM, LPARAM) -> LRESULT { return 1; });
  });
  owner.join();
  EXPECT_EQ(SendMessage(window, kPing, 0, 0), 0);
}

TEST_F(MessageWindowTest, PostedMessagesKeepTheirOrderWithPostedCalls) {
  std::vector<WPARAM> order;
  HWND window = CreateMessageWindow([&](const HWND&, UINT, WPARAM w, LPARAM) -> LRESULT {
    order.push_back(w);
    return 0;
  });
  EXPECT_TRUE(PostMessage(window, kPing, 1, 0));
  app.QueueCall([&] { order.push_back(2); });
  EXPECT_TRUE(PostMessage(window, kPing, 3, 0));
  app.ProcessMessages();
  EXPECT_THAT(order, ElementsAre(1, 2, 3));
}

TEST_F(MessageWindowTest, SentMessagesAreServedBeforePostedWork) {
  std::vector<std::string> order;
  HWND window = CreateMessageWindow([&](const HWND&, UINT, WPARAM, LPARAM) -> LRESULT {
    order.push_back("sent");
    return 0;
  });
  app.QueueCall([&] { order.push_back("posted"); });
  std::thread worker([&] { SendMessage(window, kPing, 0, 0); });
  EXPECT_EQ(MsgWaitForMultipleObjects({}, false, INFINITE, QS_SENDMESSAGE), WAIT_OBJECT_0);
  app.ProcessMessages();
  worker.join();
  EXPECT_THAT(order, ElementsAre("sent", "posted"));
}

}  // namespace
}  // namespace platform
