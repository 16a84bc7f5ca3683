// Opening, configuring and closing the device, end of loading, and the three
// status queries.
#include <exception>

#include "cport/CPort.h"
#include "cport/com_thread.h"
#include "cport/device_blocks.h"

namespace cport {

namespace {

// Clears a flag when the scope ends, also when an exception passes.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;
  ~FlagScope() { flag_ = false; }

 private:
  bool& flag_;
};

}  // namespace

void TCustomComPort::OpenPort() {
  if (connected_ || Designing()) return;
  HandleBeforeOpen();
  CreateDeviceHandle();
  // An OnException handler absorbed the open failure: without a device there
  // is nothing to configure or watch, so the port stays closed.
  if (!handle_) return;
  connected_ = true;
  try {
    ConfigurePort();
    threadCreated_ = false;
    if (!events_.Empty()) {
      StartEventThread();
      threadCreated_ = true;
    }
  } catch (...) {
    DestroyDeviceHandle();
    connected_ = false;
    throw;
  }
  NotifyLinks(&PortLink::Connection, true);
  HandleAfterOpen();
  AnnounceSignals(true);
}

void TCustomComPort::ClosePort() {
  // Asked from inside a delivery of this port: the event thread waits for
  // that delivery, so the close happens once it has returned.
  if (TComThread::DeferClose(*this)) return;
  // A close requested while this port is already closing (from a delivery
  // served during the wait for the event thread) does nothing.
  if (!connected_ || Designing() || closing_) return;
  FlagScope closing(closing_);
  AnnounceSignals(false);
  HandleBeforeClose();
  AbortAllTransfers();
  if (threadCreated_) {
    StopEventThread();
    threadCreated_ = false;
  }
  DestroyDeviceHandle();
  connected_ = false;
  NotifyLinks(&PortLink::Connection, false);
  HandleAfterClose();
}

bool TCustomComPort::ClosePending() const {
  return TComThread::ClosePending(*this);
}

void TCustomComPort::CreateDeviceHandle() {
  std::unique_ptr<device::SerialDevice> device;
  device::DeviceError error = device::CreateFileA("\\\\.\\" + port_, device);
  if (error == device::ERROR_SUCCESS && !device) error = device::ERROR_GEN_FAILURE;
  if (error != device::ERROR_SUCCESS) {
    ReportDeviceError(ecOpenFailed, error);
    return;
  }
  handle_ = std::move(device);
  ForwardDeviceNotices();
}

void TCustomComPort::DestroyDeviceHandle() {
  if (handle_ && handle_->CloseHandle() == device::ERROR_SUCCESS) handle_.reset();
}

void TCustomComPort::ConfigurePort() {
  ApplyBufferSizes();
  ApplyLineSettings();
  ApplyPortTimeouts();
  // A device opens without it: only a port that asks for it calls the device.
  if (lineTiming_) ApplyLineTiming();
}

void TCustomComPort::ApplyLineTiming() {
  if (!ApplyAllowed()) return;
  if (const device::DeviceError error = handle_->SetLineTiming(lineTiming_); error != 0) {
    ReportDeviceError(ecSetStateFailed, error);
  }
}

bool TCustomComPort::ApplyAllowed() const {
  return connected_ && handle_ && !Designing() && !Loading();
}

void TCustomComPort::ApplyLineSettings() {
  if (!ApplyAllowed()) return;
  const device::DCB dcb = BuildDCB(baudRate_, customBaudRate_, stopBits_, dataBits_, discardNull_,
                                   eventChar_, parity_, flowControl_, buffer_);
  if (const device::DeviceError error = handle_->SetCommState(dcb); error != 0) {
    ReportDeviceError(ecSetStateFailed, error);
  }
}

void TCustomComPort::ApplyPortTimeouts() {
  if (!ApplyAllowed()) return;
  if (const device::DeviceError error = handle_->SetCommTimeouts(BuildTimeouts(timeouts_));
      error != 0) {
    ReportDeviceError(ecSetTimeoutsFailed, error);
  }
}

void TCustomComPort::ApplyBufferSizes() {
  if (!ApplyAllowed()) return;
  const auto input = static_cast<device::DWORD>(buffer_.InputSize());
  const auto output = static_cast<device::DWORD>(buffer_.OutputSize());
  if (const device::DeviceError error = handle_->SetupComm(input, output); error != 0) {
    ReportDeviceError(ecSetupFailed, error);
  }
}

void TCustomComPort::Loaded() {
  TComponent::Loaded();
  if (!connected_ || Designing()) return;
  connected_ = false;
  try {
    OpenPort();
  } catch (...) {
    // Nobody who loaded the component can receive this: show it instead.
    HandleApplicationException(std::current_exception());
  }
}

// The queries below answer empty (0, no signals, no errors) when the device
// call failed and an OnException handler absorbed the report; without a
// device they fail as a call on a closed handle does.

std::int32_t TCustomComPort::InputQueueCount() {
  device::DWORD errors = 0;
  device::COMSTAT stat;
  const device::DWORD error = handle_ ? handle_->ClearCommError(&errors, &stat)
                                      : device::DeviceError(device::ERROR_INVALID_HANDLE);
  if (error != device::ERROR_SUCCESS) {
    ReportComError(ecClearErrorFailed, error);
    return 0;
  }
  return static_cast<std::int32_t>(stat.cbInQue);
}

TModemSignals TCustomComPort::ReadModemSignals() {
  device::DWORD status = 0;
  const device::DWORD error = handle_ ? handle_->GetCommModemStatus(&status)
                                      : device::DeviceError(device::ERROR_INVALID_HANDLE);
  if (error != device::ERROR_SUCCESS) {
    ReportComError(ecModemStatusFailed, error);
    return {};
  }
  return ModemSignalsFromStatus(status);
}

TComErrors TCustomComPort::ReadLineErrors() {
  device::DWORD errors = 0;
  device::COMSTAT stat;
  const device::DWORD error = handle_ ? handle_->ClearCommError(&errors, &stat)
                                      : device::DeviceError(device::ERROR_INVALID_HANDLE);
  if (error != device::ERROR_SUCCESS) {
    ReportComError(ecClearErrorFailed, error);
    return {};
  }
  return LineErrorsFromWord(errors, parity_.Check());
}

}  // namespace cport
