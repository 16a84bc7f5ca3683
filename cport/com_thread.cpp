// The event thread's watch loop, the routing of each batch of events by
// SyncMethod, the fixed delivery order, and the notification window.
#include "cport/com_thread.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <type_traits>
#include <utility>

#include "platform/application.h"

namespace cport {

namespace {

using device::DWORD;

// The order in which one batch is delivered, whatever order the events came in.
constexpr std::array<DWORD, 10> kDeliveryOrder = {
    device::EV_ERR, device::EV_RXCHAR, device::EV_TXEMPTY, device::EV_BREAK, device::EV_RING,
    device::EV_CTS, device::EV_DSR,    device::EV_RXFLAG,  device::EV_RLSD,  device::EV_RX80FULL};

// Shows an exception that escaped a delivery. The error display belongs to
// the user-interface thread; from the event thread the display is
// synchronised there, and the thread goes back to watching once it is done
// (as it does after a delivery under smThreadSync). The exception object
// stays with one thread at a time.
void ShowDeliveryError(const std::exception_ptr& error) {
  platform::Application& app = platform::App();
  if (app.IsUIThread()) {
    app.HandleException(error);
    return;
  }
  try {
    app.Synchronize([&error] { platform::App().HandleException(error); });
  } catch (...) {
    // The user-interface thread has ended: nobody is left to show it to.
  }
}

}  // namespace

// Marks the calling thread as delivering for this port; when the outermost
// delivery ends, a close requested meanwhile is carried out.
class TComThread::DeliveryScope {
 public:
  explicit DeliveryScope(TComThread& thread) : thread_(thread) {
    if (thread_.deliveryDepth_++ == 0) thread_.deliveringThread_.store(std::this_thread::get_id());
  }
  DeliveryScope(const DeliveryScope&) = delete;
  DeliveryScope& operator=(const DeliveryScope&) = delete;
  ~DeliveryScope() {
    if (--thread_.deliveryDepth_ != 0) return;
    thread_.deliveringThread_.store(std::thread::id{});
    if (thread_.closeDeferred_) thread_.ScheduleDeferredClose();
  }

 private:
  TComThread& thread_;
};

TComThread::TComThread(TCustomComPort& port)
    : port_(port), StopEvent(platform::CreateEvent(true, false)) {
  // A device that refuses the mask simply reports nothing.
  port_.handle_->SetCommMask(EventsToMask(port_.events_));
}

TComThread::~TComThread() {
  Stop();
}

void TComThread::RequestStop() {
  platform::SetEvent(StopEvent);
}

void TComThread::Stop() {
  RequestStop();
  WaitFor();
}

// Watches until the stop event is signalled or the wait fails. A wait that
// ends with events hands them over by the sync method and blocks until they
// have been handed; a wait whose result cannot be taken is skipped.
void TComThread::EventWatchLoop() {
  device::SerialDevice& device = *port_.handle_;
  device::OVERLAPPED overlapped;
  overlapped.hEvent = platform::CreateEvent(true, true);  // the WatchEvent
  DWORD mask = 0;
  // The stop event first: when both are signalled, stopping wins.
  const std::array<platform::EventHandle, 2> waitList = {StopEvent, overlapped.hEvent};

  // However the loop ends: no more events, and the bytes still queued are
  // discarded. Clearing the mask also ends the wait still pending on
  // `overlapped`, so the block is free before it goes out of scope.
  struct EndOfWatch {
    device::SerialDevice& device;
    ~EndOfWatch() {
      device.SetCommMask(0);
      device.PurgeComm(device::PURGE_TXCLEAR | device::PURGE_RXCLEAR);
    }
  } endOfWatch{device};

  for (;;) {
    // A wait that fails to start must not look finished: the event would
    // stay signalled from the last pass and the loop would spin.
    platform::ResetEvent(overlapped.hEvent);
    device.WaitCommEvent(&mask, &overlapped);
    const std::uint32_t woken =
        platform::WaitForMultipleObjects(waitList, false, platform::INFINITE);
    if (woken != platform::WAIT_OBJECT_0 + 1) break;  // stop requested, or the wait failed
    DWORD transferred = 0;
    if (device.GetOverlappedResult(&overlapped, &transferred, false) != device::ERROR_SUCCESS) {
      continue;
    }
    PendingEvents = MaskToEvents(mask);
    if (!PendingEvents.Empty()) DispatchPendingEvents();
  }
}

void TComThread::DispatchPendingEvents() {
  switch (port_.syncMethod_) {
    case smThreadSync:
      try {
        Synchronize([this] { RunDelivery(&TComThread::DeliverPendingEvents); });
      } catch (...) {
        // Only the framework fails here (the user-interface thread has
        // ended): the delivery's own errors were handled inside.
      }
      break;
    case smWindowSync:
      PostPendingEvents();
      break;
    case smNone:
      RunDelivery(&TComThread::DeliverPendingEvents);
      break;
  }
}

void TComThread::PostPendingEvents() {
  const platform::HWND& window = port_.notificationWindow_->Handle();
  const DWORD pending = EventsToMask(PendingEvents);
  for (const DWORD event : kDeliveryOrder) {
    if (pending & event) platform::SendMessage(window, PortEventMessage, event, 0);
  }
}

void TComThread::DeliverPendingEvents() {
  const DWORD pending = EventsToMask(PendingEvents);
  for (const DWORD event : kDeliveryOrder) {
    if (pending & event) RunStep(event);
  }
}

void TComThread::DeliverMessageEvent(DWORD mask) {
  RunDelivery([this, mask] { RunStep(mask); });
}

void TComThread::RunStep(DWORD mask) {
  switch (mask) {
    case device::EV_RXCHAR:
      port_.DispatchRxChar();
      break;
    case device::EV_RXFLAG:
      port_.DispatchRxFlag();
      break;
    case device::EV_TXEMPTY:
      port_.DispatchTxEmpty();
      break;
    case device::EV_CTS:
      port_.DispatchCTSChange();
      break;
    case device::EV_DSR:
      port_.DispatchDSRChange();
      break;
    case device::EV_RLSD:
      port_.DispatchRLSDChange();
      break;
    case device::EV_BREAK:
      port_.DispatchBreak();
      break;
    case device::EV_ERR:
      port_.DispatchError();
      break;
    case device::EV_RING:
      port_.DispatchRing();
      break;
    case device::EV_RX80FULL:
      port_.DispatchRx80Full();
      break;
    default:
      break;
  }
}

template <class Deliver>
void TComThread::RunDelivery(Deliver deliver) {
  if (closeDeferred_) return;  // the port is about to close: nobody listens
  DeliveryScope scope(*this);
  try {
    if constexpr (std::is_member_function_pointer_v<Deliver>) {
      (this->*deliver)();
    } else {
      deliver();
    }
  } catch (...) {
    ShowDeliveryError(std::current_exception());
  }
}

void TComThread::ScheduleDeferredClose() {
  TCustomComPort* port = &port_;
  try {
    platform::App().QueueCall([alive = std::weak_ptr<int>(alive_), port] {
      // Closed (and maybe reopened) meanwhile: that close was the one asked for.
      if (!alive.expired()) port->ClosePort();
    });
  } catch (...) {
    // Nothing can be queued: the port stays open, as it would without the request.
  }
}

bool TComThread::DeliveringHere() const {
  return deliveringThread_.load() == std::this_thread::get_id();
}

bool TComThread::DeferClose(TCustomComPort& port) {
  TComThread* thread = port.eventThread_.get();
  if (thread == nullptr || !thread->DeliveringHere()) return false;
  thread->closeDeferred_ = true;
  return true;
}

bool TComThread::ClosePending(const TCustomComPort& port) {
  const TComThread* thread = port.eventThread_.get();
  return thread != nullptr && thread->closeDeferred_;
}

void TComThread::RefuseDestructionInDelivery(const TCustomComPort& port) {
  const TComThread* thread = port.eventThread_.get();
  if (thread == nullptr || !thread->DeliveringHere()) return;
  // The delivery in progress returns into the port being destroyed, and the
  // event thread it belongs to can neither be waited for here nor left
  // running: no way out is safe, so stop before anything is corrupted.
  std::fputs(
      "cport: a port was destroyed inside one of its own event deliveries (a handler, or a "
      "message loop a handler entered); call ClosePort there, which takes effect once the "
      "delivery has returned, and destroy the port afterwards\n",
      stderr);
  std::fflush(stderr);
  std::abort();
}

// ---------------------------------------------------------------------------

TNotificationWindow::TNotificationWindow(TCustomComPort& port)
    : port_(port),
      window_(
          platform::CreateMessageWindow([this](const platform::HWND& window, platform::UINT message,
                                               platform::WPARAM wParam, platform::LPARAM lParam) {
            return WindowProc(window, message, wParam, lParam);
          })) {}

TNotificationWindow::~TNotificationWindow() {
  platform::DestroyWindow(window_);
}

platform::LRESULT TNotificationWindow::WindowProc(const platform::HWND& window,
                                                  platform::UINT message, platform::WPARAM wParam,
                                                  platform::LPARAM lParam) {
  if (message != PortEventMessage) return platform::DefWindowProc(window, message, wParam, lParam);
  // The event thread goes on at once; the handler runs on its own time.
  if (platform::InSendMessage()) platform::ReplyMessage(0);
  TComThread* thread = port_.eventThread_.get();
  if (port_.connected_ && thread != nullptr) {
    thread->DeliverMessageEvent(static_cast<DWORD>(wParam));
  }
  return 0;
}

}  // namespace cport
