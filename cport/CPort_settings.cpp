// Settings of the port and its sub-objects: construction, defaults and what
// writing each setting does.
#include <exception>

#include "cport/CPort.h"
#include "cport/com_thread.h"

namespace cport {

// ---------------------------------------------------------------------------
// Sub-objects

void TComSettings::FailAssign(const TComSettings* source) const {
  const std::string_view from = source != nullptr ? source->ClassName() : "nil";
  throw EConvertError("Cannot assign a " + std::string(from) + " to a " + std::string(ClassName()));
}

void TComTimeouts::CopySettingsFrom(const TComSettings* source) {
  const auto* from = dynamic_cast<const TComTimeouts*>(source);
  if (from == nullptr) FailAssign(source);
  readInterval_ = from->readInterval_;
  readTotalMultiplier_ = from->readTotalMultiplier_;
  readTotalConstant_ = from->readTotalConstant_;
  writeTotalMultiplier_ = from->writeTotalMultiplier_;
  writeTotalConstant_ = from->writeTotalConstant_;
}

void TComTimeouts::Set(std::int32_t& field, std::int32_t value) {
  if (field == value) return;
  field = value;
  if (TCustomComPort* port = OwnerPort()) port->ApplyPortTimeouts();
}

void TComTimeouts::SetReadInterval(std::int32_t value) {
  Set(readInterval_, value);
}
void TComTimeouts::SetReadTotalMultiplier(std::int32_t value) {
  Set(readTotalMultiplier_, value);
}
void TComTimeouts::SetReadTotalConstant(std::int32_t value) {
  Set(readTotalConstant_, value);
}
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t value) {
  Set(writeTotalMultiplier_, value);
}
void TComTimeouts::SetWriteTotalConstant(std::int32_t value) {
  Set(writeTotalConstant_, value);
}

void TComFlowControl::CopySettingsFrom(const TComSettings* source) {
  const auto* from = dynamic_cast<const TComFlowControl*>(source);
  if (from == nullptr) FailAssign(source);
  outCTSFlow_ = from->outCTSFlow_;
  outDSRFlow_ = from->outDSRFlow_;
  controlDTR_ = from->controlDTR_;
  controlRTS_ = from->controlRTS_;
  xonXoffOut_ = from->xonXoffOut_;
  xonXoffIn_ = from->xonXoffIn_;
  dsrSensitivity_ = from->dsrSensitivity_;
  txContinueOnXoff_ = from->txContinueOnXoff_;
  xonChar_ = from->xonChar_;
  xoffChar_ = from->xoffChar_;
}

template <class T>
void TComFlowControl::Set(T& field, T value) {
  if (field == value) return;
  field = value;
  if (TCustomComPort* port = OwnerPort()) port->ApplyLineSettings();
}

void TComFlowControl::SetOutCTSFlow(bool value) {
  Set(outCTSFlow_, value);
}
void TComFlowControl::SetOutDSRFlow(bool value) {
  Set(outDSRFlow_, value);
}
void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
  Set(controlDTR_, value);
}
void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
  Set(controlRTS_, value);
}
void TComFlowControl::SetXonXoffOut(bool value) {
  Set(xonXoffOut_, value);
}
void TComFlowControl::SetXonXoffIn(bool value) {
  Set(xonXoffIn_, value);
}
void TComFlowControl::SetDSRSensitivity(bool value) {
  Set(dsrSensitivity_, value);
}
void TComFlowControl::SetTxContinueOnXoff(bool value) {
  Set(txContinueOnXoff_, value);
}
void TComFlowControl::SetXonChar(char value) {
  Set(xonChar_, value);
}
void TComFlowControl::SetXoffChar(char value) {
  Set(xoffChar_, value);
}

TFlowControl TComFlowControl::FlowControl() const {
  if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) {
    return fcHardware;
  }
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_) return fcSoftware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
  if (value != fcCustom) {
    controlRTS_ = rtsDisable;
    outCTSFlow_ = false;
    xonXoffIn_ = false;
    xonXoffOut_ = false;
    if (value == fcHardware) {
      controlRTS_ = rtsHandshake;
      outCTSFlow_ = true;
    } else if (value == fcSoftware) {
      xonXoffIn_ = true;
      xonXoffOut_ = true;
    }
  }
  if (TCustomComPort* port = OwnerPort()) port->ApplyLineSettings();
}

void TComParity::CopySettingsFrom(const TComSettings* source) {
  const auto* from = dynamic_cast<const TComParity*>(source);
  if (from == nullptr) FailAssign(source);
  bits_ = from->bits_;
  check_ = from->check_;
  replace_ = from->replace_;
  replaceChar_ = from->replaceChar_;
}

template <class T>
void TComParity::Set(T& field, T value) {
  if (field == value) return;
  field = value;
  if (TCustomComPort* port = OwnerPort()) port->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits value) {
  Set(bits_, value);
}
void TComParity::SetCheck(bool value) {
  Set(check_, value);
}
void TComParity::SetReplace(bool value) {
  Set(replace_, value);
}
void TComParity::SetReplaceChar(char value) {
  Set(replaceChar_, value);
}

void TComBuffer::CopySettingsFrom(const TComSettings* source) {
  const auto* from = dynamic_cast<const TComBuffer*>(source);
  if (from == nullptr) FailAssign(source);
  inputSize_ = from->inputSize_;
  outputSize_ = from->outputSize_;
}

// Driver queues are kept to even sizes: a positive odd request is stored one lower.
void TComBuffer::Set(std::int32_t& field, std::int32_t value) {
  if (field == value) return;
  field = value;
  if (field > 0 && field % 2 != 0) --field;
  if (TCustomComPort* port = OwnerPort()) port->ApplyBufferSizes();
}

void TComBuffer::SetInputSize(std::int32_t value) {
  Set(inputSize_, value);
}
void TComBuffer::SetOutputSize(std::int32_t value) {
  Set(outputSize_, value);
}

// ---------------------------------------------------------------------------
// The port

TCustomComPort::TCustomComPort(TComponent* owner)
    : TComponent(owner), buffer_(this), parity_(this), timeouts_(this), flowControl_(this) {}

TCustomComPort::~TCustomComPort() {
  TComThread::RefuseDestructionInDelivery(*this);
  try {
    ClosePort();
  } catch (...) {
    // Destruction cannot report; the device is released below regardless.
  }
  // A close that failed, or one skipped in design mode, leaves a thread that
  // must stop before the device it waits on goes away.
  if (threadCreated_) {
    try {
      StopEventThread();
    } catch (...) {
    }
    threadCreated_ = false;
  }
  eventThread_.reset();
  notificationWindow_.reset();
  handle_.reset();
}

void TCustomComPort::SetConnected(bool value) {
  if (Designing() || Loading()) {
    connected_ = value;  // acted on when loading finishes
    return;
  }
  if (value == connected_) return;
  if (value) {
    OpenPort();
  } else {
    ClosePort();
  }
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
  if (value == baudRate_) return;
  baudRate_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(std::int32_t value) {
  if (value == customBaudRate_) return;
  customBaudRate_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetPort(const std::string& value) {
  if (value == port_) return;
  port_ = value;
  if (connected_ && !Designing() && !Loading()) {
    ClosePort();
    OpenPort();
  }
}

void TCustomComPort::SetStopBits(TStopBits value) {
  if (value == stopBits_) return;
  stopBits_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits value) {
  if (value == dataBits_) return;
  dataBits_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool value) {
  if (value == discardNull_) return;
  discardNull_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetEventChar(char value) {
  if (value == eventChar_) return;
  eventChar_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (value == syncMethod_) return;
  if (connected_ && !Designing() && !Loading()) {
    ReportComError(ecChangeWhileConnected, 0);
    return;  // refused, also when a handler absorbed the report
  }
  syncMethod_ = value;
}

void TCustomComPort::SetTriggersOnRxChar(bool value) {
  if (hasRxBufLink_) ReportComError(ecRxBufLinked, 0);
  triggersOnRxChar_ = value;
}

void TCustomComPort::SetBuffer(const TComBuffer& value) {
  buffer_.CopySettingsFrom(&value);
  ApplyBufferSizes();
}

void TCustomComPort::SetParity(const TComParity& value) {
  parity_.CopySettingsFrom(&value);
  ApplyLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
  timeouts_.CopySettingsFrom(&value);
  ApplyPortTimeouts();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
  flowControl_.CopySettingsFrom(&value);
  ApplyLineSettings();
}

std::string TCustomComPort::ClientPath() const {
  return handle_ ? handle_->ClientPath() : "";
}

void TCustomComPort::SetLineTiming(bool on) {
  if (on == lineTiming_) return;
  lineTiming_ = on;
  ApplyLineTiming();
}

device::DeviceError TCustomComPort::DropClient() {
  if (!connected_ || !handle_) return device::ERROR_INVALID_HANDLE;
  return handle_->DropClient();
}

void TCustomComPort::SetOnDeviceNotice(TDeviceNoticeEvent f) {
  onDeviceNotice_ = std::move(f);
  if (handle_) ForwardDeviceNotices();
}

// The device gets its own copy of the callback: it runs on the device's
// thread, which must not read the member the user-interface thread sets.
void TCustomComPort::ForwardDeviceNotices() {
  if (!onDeviceNotice_) {
    handle_->SetNoticeHandler(nullptr);
    return;
  }
  handle_->SetNoticeHandler([this, notify = onDeviceNotice_](const device::DeviceNotice& notice) {
    notify(*this, notice);
  });
}

// ---------------------------------------------------------------------------
// Linked observers

void TCustomComPort::RegisterLink(PortLink* link) {
  if (link == nullptr) return;
  for (const PortLink* known : linkList_) {
    if (known == link) return;
  }
  linkList_.push_back(link);
  if (link->RxData) hasRxBufLink_ = true;
}

void TCustomComPort::UnregisterLink(PortLink* link) {
  std::erase(linkList_, link);
  hasRxBufLink_ = false;
  for (const PortLink* known : linkList_) {
    if (known->RxData) hasRxBufLink_ = true;
  }
}

}  // namespace cport
