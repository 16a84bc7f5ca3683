// The window's message pump: every wait of the user-interface thread is one
// system wait on its events, its wake-up and the thread's window messages,
// so the application's queue and the window are served by one thread.
#include "platform/win32/windows_headers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "app/win32/server_main_window.h"
#include "app/win32/win32_message_pump.h"
#include "platform/application.h"
#include "platform/events.h"
#include "platform/message_window.h"

namespace app::win32 {
namespace {

constexpr UINT kPing = platform::WM_USER + 10;
constexpr UINT kStop = platform::WM_USER + 11;

std::atomic<int> pings{0};
platform::Application* stopping = nullptr;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kPing) {
    ++pings;
    return 1;
  }
  if (message == kStop && stopping != nullptr) {
    stopping->Terminate();
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

// A message-only window of the test's thread that counts the pings it gets.
class MessageTarget {
 public:
  MessageTarget() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = CountingProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QuillanePumpTest";
    ::RegisterClassA(&windowClass);
    window_ = ::CreateWindowExA(0, "QuillanePumpTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
    pings = 0;
  }
  ~MessageTarget() { ::DestroyWindow(window_); }
  MessageTarget(const MessageTarget&) = delete;
  MessageTarget& operator=(const MessageTarget&) = delete;
  HWND Get() const { return window_; }

 private:
  HWND window_;
};

class Win32MessagePumpTest : public ::testing::Test {
 protected:
  Win32MessagePumpTest() {
    auto owned = std::make_unique<Win32MessagePump>(nullptr, [this] { ++waits; });
    pump = owned.get();
    application.SetPump(std::move(owned));
    stopping = &application;
  }
  ~Win32MessagePumpTest() override { stopping = nullptr; }

  bool MessageQueued() {
    MSG msg;
    return ::PeekMessageA(&msg, target.Get(), 0, 0, PM_NOREMOVE) != FALSE;
  }

  platform::Application application;
  Win32MessagePump* pump = nullptr;
  MessageTarget target;
  int waits = 0;
};

TEST_F(Win32MessagePumpTest, RunDispatchesWindowMessagesPostedFromAnotherThread) {
  std::thread poster([this] {
    ::PostMessageA(target.Get(), kPing, 0, 0);
    ::PostMessageA(target.Get(), kStop, 0, 0);
  });
  application.Run();
  poster.join();
  EXPECT_EQ(pings, 1);
  EXPECT_GT(waits, 0);  // the window was brought up to date before each sleep
}

TEST_F(Win32MessagePumpTest, SynchronizedCallsWakeTheSleepingWindowThread) {
  const auto uiThread = std::this_thread::get_id();
  std::thread::id ranIn;
  std::thread caller([&] {
    application.Synchronize([&] {
      ranIn = std::this_thread::get_id();
      application.Terminate();
    });
  });
  application.Run();
  caller.join();
  EXPECT_EQ(ranIn, uiThread);
}

TEST_F(Win32MessagePumpTest, MsgWaitEndsForTheSystemsEventOrForWindowInput) {
  platform::EventHandle event = platform::CreateEvent(false, false);
  std::thread setter([&] { platform::SetEvent(event); });
  EXPECT_EQ(platform::MsgWaitForMultipleObjects(std::span(&event, 1), false, platform::INFINITE,
                                                platform::QS_ALLINPUT),
            platform::WAIT_OBJECT_0);
  setter.join();

  std::thread poster([this] { ::PostMessageA(target.Get(), kPing, 0, 0); });
  EXPECT_EQ(platform::MsgWaitForMultipleObjects(std::span(&event, 1), false, platform::INFINITE,
                                                platform::QS_ALLINPUT),
            platform::WAIT_OBJECT_0 + 1);
  poster.join();
  EXPECT_EQ(pings, 1);  // handled by the wait itself
  platform::CloseHandle(event);
}

TEST_F(Win32MessagePumpTest, AWaitWithoutInputLeavesWindowMessagesQueued) {
  ::PostMessageA(target.Get(), kPing, 0, 0);
  platform::EventHandle event = platform::CreateEvent(true, false);
  EXPECT_EQ(pump->WaitForWorkOrEvents(std::span(&event, 1), false, std::chrono::steady_clock::now(),
                                      false),
            platform::WAIT_TIMEOUT);
  EXPECT_EQ(pings, 0);
  EXPECT_TRUE(MessageQueued());
  pump->ProcessInput();
  EXPECT_EQ(pings, 1);
  EXPECT_FALSE(MessageQueued());
  platform::CloseHandle(event);
}

TEST_F(Win32MessagePumpTest, AWaitWithoutInputStillServesMessagesSentFromAnotherThread) {
  platform::EventHandle answered = platform::CreateEvent(true, false);
  LRESULT reply = 0;
  std::thread sender([&] {
    reply = ::SendMessageA(target.Get(), kPing, 0, 0);
    platform::SetEvent(answered);
  });
  // The sender waits for this thread: the wait must serve it to end.
  while (pump->WaitForWorkOrEvents(std::span(&answered, 1), false, std::nullopt, false) !=
         platform::WAIT_OBJECT_0) {
  }
  sender.join();
  EXPECT_EQ(reply, 1);
  EXPECT_EQ(pings, 1);
  platform::CloseHandle(answered);
}

TEST_F(Win32MessagePumpTest, AWaitForAllEventsTakesThemTogetherAndWakeEndsIt) {
  platform::EventHandle events[2] = {platform::CreateEvent(false, false),
                                     platform::CreateEvent(false, false)};
  std::thread setter([&] {
    platform::SetEvent(events[1]);
    platform::SetEvent(events[0]);
  });
  EXPECT_EQ(pump->WaitForWorkOrEvents(events, true, std::nullopt, true), platform::WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(platform::WaitForSingleObject(events[0], 0), platform::WAIT_TIMEOUT);
  EXPECT_EQ(platform::WaitForSingleObject(events[1], 0), platform::WAIT_TIMEOUT);

  std::thread waker([this] { pump->Wake(); });
  EXPECT_EQ(pump->WaitForWorkOrEvents(events, true, std::nullopt, true), platform::WAIT_TIMEOUT);
  waker.join();
  for (auto& event : events)
    platform::CloseHandle(event);
}

TEST_F(Win32MessagePumpTest, TabMovesTheFocusThroughTheWindowsControls) {
  ServerMainWindow window{nullptr};
  pump->SetDialogWindow(window.frmSerialServer());
  window.Show();
  ::SetFocus(window.cbComPortNr());
  ASSERT_TRUE(::IsChild(window.cbComPortNr(), ::GetFocus()));
  const auto tab = [this] {
    ::PostMessageA(::GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    pump->ProcessInput();
  };
  tab();
  EXPECT_TRUE(::IsChild(window.cbBaudRate(), ::GetFocus()));
  tab();
  EXPECT_EQ(::GetFocus(), window.btOpenPort());
  pump->SetDialogWindow(nullptr);
}

}  // namespace
}  // namespace app::win32
