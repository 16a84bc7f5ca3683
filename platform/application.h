// The application object and the user-interface thread's message loop.
//
// One Application is current per program; App() returns it (creating a
// process-wide one on first use if none was constructed). The thread that
// constructs an Application is its user-interface (UI) thread: only that
// thread may call Run, ProcessMessages and the setters; Terminate,
// Terminated, Synchronize and QueueCall may be called from any thread.
// A constructed Application becomes current until it is destroyed, when the
// previous one is current again (tests construct their own).
//
// Work for the UI thread waits in that thread's queue: posted calls and
// posted window messages (in order), synchronised calls (in order, with the
// posted work), and messages sent from other threads (served before posted
// work). Exceptions that escape posted work, the idle handler or a window
// procedure serving a cross-thread message are handed to HandleException.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>

#include "platform/events.h"
#include "platform/message_pump.h"

namespace platform {

namespace detail {
struct ThreadQueue;
}  // namespace detail

// Wake-mask bits of MsgWaitForMultipleObjects. Headless threads have no
// input, so only posted and sent work can wake them; a toolkit pump may
// report input for the other bits.
inline constexpr std::uint32_t QS_KEY = 0x0001;
inline constexpr std::uint32_t QS_MOUSEMOVE = 0x0002;
inline constexpr std::uint32_t QS_MOUSEBUTTON = 0x0004;
inline constexpr std::uint32_t QS_POSTMESSAGE = 0x0008;  // posted work and synchronised calls
inline constexpr std::uint32_t QS_TIMER = 0x0010;
inline constexpr std::uint32_t QS_PAINT = 0x0020;
inline constexpr std::uint32_t QS_SENDMESSAGE = 0x0040;  // messages sent from other threads
inline constexpr std::uint32_t QS_HOTKEY = 0x0080;
inline constexpr std::uint32_t QS_ALLINPUT = 0x04FF;

// Waits like WaitForMultipleObjects, and also returns WAIT_OBJECT_0 +
// events.size() while work that `wakeMask` selects is queued for the calling
// thread (unlike Win32, work that was already queued before the call counts
// too, so nothing queued is ever slept over). WAIT_TIMEOUT on time-out
// (measured against the FakeTickClock when one exists); WAIT_FAILED for an
// empty handle. Does not handle the queued work: the caller does, e.g. with
// ProcessMessages.
std::uint32_t MsgWaitForMultipleObjects(std::span<const EventHandle> events, bool waitAll,
                                        std::uint32_t milliseconds, std::uint32_t wakeMask);

class Application {
 public:
  // The idle handler's flag: left true, Run sleeps until the next message;
  // set false, the handler is called again as soon as the queue is empty.
  using IdleHandler = std::function<void(bool& done)>;
  using ExceptionHandler = std::function<void(std::exception_ptr)>;
  using ErrorDisplay = std::function<void(const std::string& message)>;

  Application();
  // Work still queued is dropped; threads waiting in Synchronize get
  // std::runtime_error instead of hanging.
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Handles messages until Terminated; calls the idle handler whenever the
  // queue runs empty.
  void Run();
  // Handles everything queued for the calling thread, then returns; never
  // blocks.
  void ProcessMessages();
  // Any thread: Run returns after the message in hand; PacedWait-style loops
  // check Terminated. Wakes the UI thread.
  void Terminate();
  bool Terminated() const { return terminated_.load(); }

  // Runs `call` in the UI thread and waits for it; an exception it throws is
  // rethrown here. From the UI thread it runs at once. While waiting, the
  // calling thread serves messages sent to its own windows.
  void Synchronize(const std::function<void()>& call);
  // Any thread: queues `call` for the UI thread without waiting.
  void QueueCall(std::function<void()> call);

  // The application's own exception handling: the handler set with
  // SetOnException, otherwise the error display with the exception's text.
  // Never throws.
  void HandleException(std::exception_ptr error);

  void SetOnIdle(IdleHandler handler) { onIdle_ = std::move(handler); }
  void SetOnException(ExceptionHandler handler) { onException_ = std::move(handler); }
  // Default: one line "error: MESSAGE" on stderr.
  void SetErrorDisplay(ErrorDisplay display);
  // Replaces the UI thread's pump (a toolkit's event loop); nullptr restores
  // the headless one. Call before Run, from the UI thread.
  void SetPump(std::unique_ptr<MessagePump> pump);

  bool IsUIThread() const { return std::this_thread::get_id() == uiThread_; }
  std::thread::id UIThreadId() const { return uiThread_; }

 private:
  MessagePump* ActivePump();
  bool HandleOneMessage();
  void CallIdle(bool& done);
  void SleepUntilWork();

  std::thread::id uiThread_;
  std::shared_ptr<detail::ThreadQueue> queue_;
  HeadlessPump headlessPump_;
  std::unique_ptr<MessagePump> pump_;
  std::atomic<bool> terminated_{false};
  IdleHandler onIdle_;
  ExceptionHandler onException_;
  ErrorDisplay errorDisplay_;
  Application* previous_ = nullptr;
};

// The current application.
Application& App();

}  // namespace platform
