// The port's side of event delivery: the event-mask translation, starting and
// stopping the event thread with its notification window, and the dispatch
// steps that gather each event's argument, tell the links and fire the hook.
#include <array>
#include <memory>
#include <utility>
#include <vector>

#include "cport/CPort.h"
#include "cport/com_thread.h"

namespace cport {

namespace {

struct EventBit {
  TComEvent event;
  device::DWORD mask;
};

constexpr std::array<EventBit, 10> kEventBits = {{
    {evRxChar, device::EV_RXCHAR},
    {evTxEmpty, device::EV_TXEMPTY},
    {evRxFlag, device::EV_RXFLAG},
    {evRing, device::EV_RING},
    {evBreak, device::EV_BREAK},
    {evCTS, device::EV_CTS},
    {evDSR, device::EV_DSR},
    {evError, device::EV_ERR},
    {evRLSD, device::EV_RLSD},
    {evRx80Full, device::EV_RX80FULL},
}};

}  // namespace

device::DWORD EventsToMask(TComEvents events) {
  device::DWORD mask = 0;
  for (const EventBit& bit : kEventBits) {
    if (events.Contains(bit.event)) mask |= bit.mask;
  }
  return mask;
}

TComEvents MaskToEvents(device::DWORD mask) {
  TComEvents events;
  for (const EventBit& bit : kEventBits) {
    if (mask & bit.mask) events.Include(bit.event);
  }
  return events;
}

// ---------------------------------------------------------------------------
// The event thread's lifetime

void EventMachineryDeleter::operator()(TComThread* thread) const noexcept {
  std::default_delete<TComThread>{}(thread);
}

void EventMachineryDeleter::operator()(TNotificationWindow* window) const noexcept {
  std::default_delete<TNotificationWindow>{}(window);
}

void TCustomComPort::StartEventThread() {
  try {
    if (syncMethod_ == smWindowSync) {
      notificationWindow_.reset(std::make_unique<TNotificationWindow>(*this).release());
    }
    // Stored before it runs: its deliveries look themselves up through the port.
    eventThread_.reset(std::make_unique<TComThread>(*this).release());
    eventThread_->Start();
  } catch (...) {
    eventThread_.reset();
    notificationWindow_.reset();
    throw;
  }
}

void TCustomComPort::StopEventThread() {
  if (eventThread_) {
    // Still reachable while it ends: deliveries served during the wait
    // belong to it.
    eventThread_->Stop();
    eventThread_.reset();
  }
  notificationWindow_.reset();
}

// ---------------------------------------------------------------------------
// Dispatch steps

void TCustomComPort::DispatchRxChar() {
  std::int32_t count = InputQueueCount();
  if (count <= 0) return;  // already read by an earlier handler: nothing to tell
  NotifyLinks(&PortLink::RxActivity, true);

  if (!TriggersOnRxChar()) {
    // The component reads the waiting bytes itself, once, for every link
    // that takes them and for OnRxBuf; OnRxChar then has nothing left.
    std::unique_ptr<char[]> buffer;
    std::int32_t read = 0;
    const auto readOnce = [&] {
      if (buffer) return;
      buffer = std::make_unique<char[]>(static_cast<std::size_t>(count));
      read = ReceiveBuffer(buffer.get(), count);
      HandleRxBuf(buffer.get(), read);
    };
    // A handler may register or unregister links: walk a snapshot.
    const std::vector<PortLink*> links = linkList_;
    for (PortLink* link : links) {
      if (!link->RxData) continue;
      readOnce();
      link->RxData(*this, buffer.get(), read);
    }
    if (!buffer && !triggersOnRxChar_) readOnce();
    if (buffer) count = 0;
  }
  if (count > 0) HandleRxChar(count);
}

void TCustomComPort::DispatchTxEmpty() {
  NotifyLinks(&PortLink::TxActivity, false);
  NotifyLinks(&PortLink::TxEmpty);
  HandleTxEmpty();
}

void TCustomComPort::DispatchRxFlag() {
  NotifyLinks(&PortLink::EventChar);
  HandleRxFlag();
}

void TCustomComPort::DispatchRing() {
  NotifyLinks(&PortLink::Ring);
  HandleRing();
}

void TCustomComPort::DispatchBreak() {
  HandleBreak();
}

void TCustomComPort::DispatchError() {
  const TComErrors errors = ReadLineErrors();
  if (!errors.Empty()) HandleError(errors);
}

void TCustomComPort::DispatchRx80Full() {
  HandleRx80Full();
}

}  // namespace cport
