// Events and waits on Windows are the system's: an event's handle is the
// system's event object, which the system itself signals (an overlapped
// transfer), and a wait that also serves the message queue or the fake
// clock still wakes for either.
#include "platform/win32/windows_headers.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <thread>

#include "platform/application.h"
#include "platform/events.h"
#include "platform/message_window.h"
#include "platform/tick_count.h"
#include "platform/win32/native_event.h"

namespace platform {
namespace {

// A handle closed on every path out of a test.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr) ::CloseHandle(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

std::string UniquePipeName() {
  return "\\\\.\\pipe\\quillane-events-test-" + std::to_string(::GetCurrentProcessId());
}

TEST(NativeEvents, TheHandleIsTheSystemsEventObjectBothWays) {
  EventHandle e = CreateEvent(true, false);
  const HANDLE native = NativeHandle(e);
  ASSERT_NE(native, nullptr);
  EXPECT_EQ(::WaitForSingleObject(native, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(SetEvent(e));
  EXPECT_EQ(::WaitForSingleObject(native, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  ::ResetEvent(native);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  ::SetEvent(native);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(NativeHandle(EventHandle()), nullptr);
}

TEST(NativeEvents, TheLastReferenceClosesTheSystemHandle) {
  EventHandle e = CreateEvent(false, false);
  EventHandle second = e;
  const HANDLE native = NativeHandle(e);
  DWORD flags = 0;
  ASSERT_TRUE(CloseHandle(e));
  EXPECT_NE(::GetHandleInformation(native, &flags), FALSE);  // `second` still holds it
  ASSERT_TRUE(CloseHandle(second));
  EXPECT_EQ(::GetHandleInformation(native, &flags), FALSE);
}

TEST(NativeEvents, TheSystemSignalsTheEventOfAnOverlappedOperation) {
  const std::string name = UniquePipeName();
  const OwnedHandle server(::CreateNamedPipeA(name.c_str(),
                                              PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                              PIPE_TYPE_BYTE, 1, 64, 64, 0, nullptr));
  ASSERT_NE(server.Get(), INVALID_HANDLE_VALUE);
  EventHandle connected = CreateEvent(true, false);
  OVERLAPPED overlapped{};
  overlapped.hEvent = NativeHandle(connected);
  ASSERT_FALSE(::ConnectNamedPipe(server.Get(), &overlapped));
  ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  EXPECT_EQ(WaitForSingleObject(connected, 0), WAIT_TIMEOUT);

  std::thread client([&] {
    const OwnedHandle end(::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  });
  EXPECT_EQ(WaitForSingleObject(connected, INFINITE), WAIT_OBJECT_0);
  client.join();
  DWORD transferred = 0;
  EXPECT_TRUE(::GetOverlappedResult(server.Get(), &overlapped, &transferred, FALSE));
}

TEST(NativeWaits, WaitForAllTakesEverySignalTogether) {
  const std::array<EventHandle, 2> events = {CreateEvent(false, false), CreateEvent(false, false)};
  SetEvent(events[0]);
  EXPECT_EQ(WaitForMultipleObjects(events, true, 0), WAIT_TIMEOUT);
  std::thread setter([&] { ::SetEvent(NativeHandle(events[1])); });
  EXPECT_EQ(WaitForMultipleObjects(events, true, INFINITE), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForMultipleObjects(events, false, 0), WAIT_TIMEOUT);  // both taken
}

TEST(NativeWaits, TheFakeClockEndsAWaitForOneOrForAllEvents) {
  const std::array<EventHandle, 2> events = {CreateEvent(true, false), CreateEvent(true, false)};
  for (const bool waitAll : {false, true}) {
    FakeTickClock clock;
    std::uint32_t result = WAIT_FAILED;
    std::thread waiter([&] { result = WaitForMultipleObjects(events, waitAll, 100); });
    clock.WaitUntilWaiting(1);
    clock.Advance(99);
    clock.Advance(1);
    waiter.join();
    EXPECT_EQ(result, WAIT_TIMEOUT) << "waitAll " << waitAll;
  }
}

TEST(NativeWaits, MsgWaitWakesForQueuedWorkAndForASystemSignal) {
  Application app;
  EventHandle e = CreateEvent(false, false);
  const std::array<EventHandle, 1> events = {e};
  std::thread poster([&] { app.QueueCall([] {}); });
  EXPECT_EQ(MsgWaitForMultipleObjects(events, false, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  poster.join();
  app.ProcessMessages();
  std::thread signaller([&] { ::SetEvent(NativeHandle(e)); });
  EXPECT_EQ(MsgWaitForMultipleObjects(events, false, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0);
  signaller.join();
}

// The loop as the program runs it: the idle handler waits on a system event
// through MsgWaitForMultipleObjects while a worker synchronises a call,
// sends a message to a window of the UI thread and then signals the event.
TEST(NativeMessageLoop, RunServesSynchronizeAndSentMessagesWhileIdleWaits) {
  Application app;
  EventHandle finished = CreateEvent(true, false);
  const std::array<EventHandle, 1> events = {finished};
  HWND window = CreateMessageWindow([&](const HWND&, UINT message, WPARAM w, LPARAM) {
    EXPECT_TRUE(app.IsUIThread());
    EXPECT_TRUE(InSendMessage());
    return message == WM_USER ? static_cast<LRESULT>(w * 2) : 0;
  });
  app.SetOnIdle([&](bool& done) {
    if (MsgWaitForMultipleObjects(events, false, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0) {
      app.Terminate();
    } else {
      app.ProcessMessages();
    }
    done = false;
  });
  std::thread::id synchronizedIn;
  LRESULT reply = 0;
  std::thread worker([&] {
    app.Synchronize([&] { synchronizedIn = std::this_thread::get_id(); });
    reply = SendMessage(window, WM_USER, 21, 0);
    ::SetEvent(NativeHandle(finished));
  });
  app.Run();
  worker.join();
  EXPECT_EQ(synchronizedIn, app.UIThreadId());
  EXPECT_EQ(reply, 42);
  DestroyWindow(window);
}

}  // namespace
}  // namespace platform
