// The user-interface thread's message pump for the native Windows window.
//
// Installed with platform::Application::SetPump, it makes every wait of the
// user-interface thread one MsgWaitForMultipleObjectsEx of the system on the
// waited events, the pump's own wake-up event and the thread's window input,
// so the application's queue (event deliveries, synchronised calls) and the
// window's messages are served by the one thread. Window messages are
// handled with IsDialogMessage first, so Tab and Shift+Tab move between the
// window's controls, then translated and dispatched.
//
// Construct it in the window's thread; Wake may be called from any thread,
// everything else from that thread only. Throws std::system_error when the
// wake-up event cannot be made.
#pragma once

#include "platform/win32/windows_headers.h"

#include <atomic>
#include <functional>

#include "platform/message_pump.h"

namespace app::win32 {

class Win32MessagePump final : public platform::MessagePump {
 public:
  // `dialogWindow` (may be null) is the window whose controls the keyboard
  // navigates; it must outlive the pump or be reset with SetDialogWindow.
  // `beforeWait` (may be empty) runs each time before the thread waits: the
  // window shows what the work so far has changed.
  explicit Win32MessagePump(HWND dialogWindow, std::function<void()> beforeWait = {});
  ~Win32MessagePump() override;
  Win32MessagePump(const Win32MessagePump&) = delete;
  Win32MessagePump& operator=(const Win32MessagePump&) = delete;

  void SetDialogWindow(HWND dialogWindow) { dialogWindow_ = dialogWindow; }

  void Wake() override;
  bool WaitForWork(Deadline deadline, bool handleInput) override;
  // Without `handleInput` only messages sent from other threads are served
  // during the wait; window input stays queued. A wait for all events
  // together is a plain system wait that Wake interrupts.
  std::uint32_t WaitForWorkOrEvents(std::span<const platform::EventHandle> events, bool waitAll,
                                    Deadline deadline, bool handleInput) override;
  // Handles every window message already queued, without blocking.
  void ProcessInput() override;

 private:
  std::uint32_t WaitForAll(std::span<const platform::EventHandle> events, DWORD milliseconds);
  // Serves the messages other threads sent to this thread's windows.
  static void ServeSentMessages();

  HWND dialogWindow_;
  std::function<void()> beforeWait_;
  HANDLE wake_;
  HANDLE thread_;
  std::atomic<bool> waitingForAll_{false};  // Wake must also end an alertable wait
};

}  // namespace app::win32
