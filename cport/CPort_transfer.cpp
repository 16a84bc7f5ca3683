// Moving bytes to and from the open device: transfer records, the starting
// operations, the wait for a transfer's end, and the synchronous calls built
// from them.
//
// A record's event is signalled whenever nothing is in flight on it, so a
// wait on a record that carries nothing returns at once. When a start fails
// and an OnException handler absorbs the report, the record is left in that
// idle state (no bytes, no data copy), so the caller's wait neither hangs nor
// reports the same failure again.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "cport/CPort.h"
#include "platform/events.h"

namespace cport {

namespace {

using device::DWORD;

// The record carries nothing: a wait on it returns 0 at once.
void MarkIdle(PendingTransfer& transfer) {
  transfer.Overlapped.Internal = device::ERROR_SUCCESS;
  transfer.Overlapped.InternalHigh = 0;
  platform::SetEvent(transfer.Overlapped.hEvent);
}

// The outcome of the record's ended transfer, as the device recorded it.
DWORD OverlappedResult(device::SerialDevice* device, PendingTransfer& transfer,
                       DWORD& transferred) {
  if (device != nullptr) {
    return device->GetOverlappedResult(&transfer.Overlapped, &transferred, false);
  }
  // No device (the port closed meanwhile): the ended transfer's block still
  // holds its result.
  return device::EndedOperationResult(transfer.Overlapped, &transferred);
}

}  // namespace

std::unique_ptr<PendingTransfer> CreatePendingTransfer() {
  auto transfer = std::make_unique<PendingTransfer>();
  transfer->Overlapped.hEvent = platform::CreateEvent(true, true);
  return transfer;
}

void DisposePendingTransfer(std::unique_ptr<PendingTransfer>& transfer) {
  if (!transfer) return;
  platform::CloseHandle(transfer->Overlapped.hEvent);
  transfer.reset();
}

TComExceptions TCustomComPort::TransferErrorCode(const PendingTransfer& Transfer) const {
  return Transfer.Kind == tkWrite ? ecWriteFailed : ecReadFailed;
}

// ---------------------------------------------------------------------------
// Starting

std::int32_t TCustomComPort::BeginSendBuffer(const char* Buffer, std::int32_t Count,
                                             PendingTransfer* Transfer) {
  if (Transfer == nullptr) {
    ReportComError(ecInvalidTransfer, 0);
    return 0;  // nothing to start on
  }
  if (!handle_) {
    ReportComError(ecPortNotOpen, -ecPortNotOpen);
    return 0;
  }
  Transfer->Kind = tkWrite;
  Transfer->Data.reset();
  Transfer->Size = 0;
  if (Count < 0 || (Count > 0 && Buffer == nullptr)) {
    ReportComError(ecWriteFailed, device::ERROR_INVALID_PARAMETER);
    MarkIdle(*Transfer);
    return 0;
  }
  Transfer->Data = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(Count));
  if (Count > 0) std::memcpy(Transfer->Data.get(), Buffer, static_cast<std::size_t>(Count));
  Transfer->Size = Count;

  DWORD written = 0;
  const DWORD error =
      handle_->WriteFile(Buffer, static_cast<DWORD>(Count), &written, &Transfer->Overlapped);
  if (error != device::ERROR_SUCCESS && error != device::ERROR_IO_PENDING) {
    ReportComError(ecWriteFailed, error);
    // Nothing went out: no copy to announce as transmitted.
    Transfer->Data.reset();
    Transfer->Size = 0;
    MarkIdle(*Transfer);
    return 0;
  }
  NotifyLinks(&PortLink::TxActivity, true);
  return static_cast<std::int32_t>(written);
}

std::int32_t TCustomComPort::BeginSendText(const std::string& Text, PendingTransfer* Transfer) {
  if (Text.empty()) return 0;
  return BeginSendBuffer(Text.data(), static_cast<std::int32_t>(Text.size()), Transfer);
}

std::int32_t TCustomComPort::BeginReceiveBuffer(char* Buffer, std::int32_t Count,
                                                PendingTransfer* Transfer) {
  if (Transfer == nullptr) {
    ReportComError(ecInvalidTransfer, 0);
    return 0;
  }
  Transfer->Kind = tkRead;
  if (!handle_) {
    ReportComError(ecPortNotOpen, -ecPortNotOpen);
    return 0;
  }
  if (Count < 0) {
    ReportComError(ecReadFailed, device::ERROR_INVALID_PARAMETER);
    MarkIdle(*Transfer);
    return 0;
  }
  DWORD read = 0;
  const DWORD error =
      handle_->ReadFile(Buffer, static_cast<DWORD>(Count), &read, &Transfer->Overlapped);
  if (error != device::ERROR_SUCCESS && error != device::ERROR_IO_PENDING) {
    ReportComError(ecReadFailed, error);
    MarkIdle(*Transfer);
    return 0;
  }
  return static_cast<std::int32_t>(read);
}

std::int32_t TCustomComPort::BeginReceiveText(std::string& Text, std::int32_t Count,
                                              PendingTransfer* Transfer) {
  Text.assign(static_cast<std::size_t>(std::max(Count, 0)), '\0');
  if (Count <= 0) return 0;
  return BeginReceiveBuffer(Text.data(), Count, Transfer);
}

// ---------------------------------------------------------------------------
// Waiting

std::int32_t TCustomComPort::WaitForTransfer(PendingTransfer* Transfer) {
  if (Transfer == nullptr) {
    ReportComError(ecInvalidTransfer, 0);
    return 0;
  }
  DWORD transferred = 0;
  DWORD error = device::ERROR_INVALID_HANDLE;
  if (platform::WaitForSingleObject(Transfer->Overlapped.hEvent, platform::INFINITE) ==
      platform::WAIT_OBJECT_0) {
    error = OverlappedResult(handle_.get(), *Transfer, transferred);
  }
  if (error != device::ERROR_SUCCESS) {
    ReportComError(TransferErrorCode(*Transfer), error);
    return 0;  // a failed transfer moved nothing worth announcing
  }

  if (Transfer->Kind == tkRead) {
    // Without a device there is no queue to ask (the read was never started).
    if (handle_ && InputQueueCount() == 0) NotifyLinks(&PortLink::RxActivity, false);
  } else if (Transfer->Data) {
    // Only what actually went out counts as transmitted.
    const auto sent =
        std::min<std::int32_t>(Transfer->Size, static_cast<std::int32_t>(transferred));
    NotifyLinks(&PortLink::TxData, Transfer->Data.get(), sent);
  }
  return static_cast<std::int32_t>(transferred);
}

// ---------------------------------------------------------------------------
// Synchronous transfers: a private record, started, waited for, and disposed
// of on every path (the unique_ptr also when a step raises).

std::int32_t TCustomComPort::SendText(std::string Text) {
  std::unique_ptr<PendingTransfer> transfer = CreatePendingTransfer();
  BeginSendText(Text, transfer.get());
  const std::int32_t written = WaitForTransfer(transfer.get());
  DisposePendingTransfer(transfer);
  return written;
}

std::int32_t TCustomComPort::ReceiveBuffer(char* Buffer, std::int32_t Count) {
  std::unique_ptr<PendingTransfer> transfer = CreatePendingTransfer();
  BeginReceiveBuffer(Buffer, Count, transfer.get());
  const std::int32_t read = WaitForTransfer(transfer.get());
  DisposePendingTransfer(transfer);
  return read;
}

std::int32_t TCustomComPort::ReceiveText(std::string& Text, std::int32_t Count) {
  std::unique_ptr<PendingTransfer> transfer = CreatePendingTransfer();
  std::string received;
  BeginReceiveText(received, Count, transfer.get());
  const std::int32_t read = WaitForTransfer(transfer.get());
  received.resize(static_cast<std::size_t>(std::max(read, 0)));
  Text = std::move(received);
  DisposePendingTransfer(transfer);
  return read;
}

}  // namespace cport
