// The event thread of an open port and the delivery of what it hears.
//
// TComThread waits on the port's device for the events the port's Events
// selected when it opened, and has each batch delivered by the port's
// SyncMethod: smThreadSync runs the dispatch steps in the user-interface
// thread while the event thread waits, smWindowSync sends one PortEventMessage
// per event to the port's TNotificationWindow (served in the thread that
// opened the port), smNone runs them in the event thread itself.
//
// Threads: only the port's open and close (the thread that owns the port)
// construct and destroy these objects. An exception that escapes a handler or
// a dispatch step goes to the application's exception handling in the
// user-interface thread; the steps after it in that batch are skipped and
// the thread keeps watching.
//
// A close requested during a delivery of the same port (from a handler, or
// from a message loop a handler entered) cannot wait for the event thread
// there: the thread is itself waiting for that delivery. It is deferred until
// the outermost delivery has returned and then carried out in the
// user-interface thread; further deliveries of the port are dropped meanwhile.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "cport/CPort.h"
#include "platform/events.h"
#include "platform/message_window.h"
#include "platform/thread.h"

namespace cport {

// The window message that carries one event to the TNotificationWindow:
// wParam is the event's mask bit (EV_RXCHAR, ...), lParam 0.
inline constexpr platform::UINT PortEventMessage = platform::WM_USER + 1;

class TComThread final : public platform::Thread {
 public:
  // Sets the device's event mask from the port's Events. The body runs only
  // after Start; the port must keep its device open until this is destroyed.
  explicit TComThread(TCustomComPort& port);
  // Stop, then the body's resources are gone with it.
  ~TComThread() override;

  // Lets the body leave its wait; it ends after the delivery in hand.
  void RequestStop();
  // RequestStop, then waits for the body to end. In the user-interface thread
  // the wait keeps serving queued deliveries, so one pending runs first.
  void Stop();

  // Defers a close requested in the thread that is running a delivery of
  // `port`; false when no delivery of it runs in the calling thread.
  static bool DeferClose(TCustomComPort& port);
  // True while a deferred close of `port` waits for its delivery to return.
  static bool ClosePending(const TCustomComPort& port);
  // Destroying a port inside one of its own deliveries is a programming
  // error that cannot be recovered from: it ends the program at once with a
  // message saying so. Does nothing otherwise.
  static void RefuseDestructionInDelivery(const TCustomComPort& port);

  // Runs one event's dispatch step (a PortEventMessage's wParam) as a
  // delivery; unknown values do nothing.
  void DeliverMessageEvent(device::DWORD mask);

 protected:
  void Execute() override { EventWatchLoop(); }

 private:
  class DeliveryScope;

  void EventWatchLoop();
  // A delivery of the port runs in the calling thread.
  bool DeliveringHere() const;
  void DispatchPendingEvents();
  void PostPendingEvents();
  void DeliverPendingEvents();
  // Runs one event's dispatch step.
  void RunStep(device::DWORD mask);
  // Runs `deliver` as a delivery of the port; an escaping exception goes to
  // the application's exception handling.
  template <class Deliver>
  void RunDelivery(Deliver deliver);
  void ScheduleDeferredClose();

  TCustomComPort& port_;
  platform::EventHandle StopEvent;
  TComEvents PendingEvents;

  // Delivery bookkeeping, touched only by the thread running a delivery
  // (which is always the same thread for a port) except deliveringThread_.
  std::atomic<std::thread::id> deliveringThread_{};
  int deliveryDepth_ = 0;
  std::atomic<bool> closeDeferred_{false};
  // Expires with this object: a queued deferred close finds the port closed.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// The hidden window of an smWindowSync port: PortEventMessage runs the event's
// dispatch step in the thread that created the window, while the port is open.
class TNotificationWindow {
 public:
  explicit TNotificationWindow(TCustomComPort& port);
  ~TNotificationWindow();
  TNotificationWindow(const TNotificationWindow&) = delete;
  TNotificationWindow& operator=(const TNotificationWindow&) = delete;

  const platform::HWND& Handle() const { return window_; }

 private:
  platform::LRESULT WindowProc(const platform::HWND& window, platform::UINT message,
                               platform::WPARAM wParam, platform::LPARAM lParam);

  TCustomComPort& port_;
  platform::HWND window_;
};

}  // namespace cport
