// The serial-port component: TCustomComPort owns one serial device, its
// settings, its configuration, the thread that watches the line for events,
// reading and writing, and the saving of its settings. TComPort is the same
// class with its settings published.
//
// Threads: settings, open, close and the transfers are called from the thread
// that owns the component (the user-interface thread). While the port is open
// its event thread waits on the device and has the dispatch steps run in the
// user-interface thread, in the opening thread's notification window, or in
// the event thread itself (SyncMethod). Nothing is locked.
//
// Errors: every failure of the component goes through ReportComError, which
// raises EComPort carrying an error code (1 to 24) and the system error, or
// calls OnException instead when one is bound; the operation then goes on.
// Byte strings are std::string: 8-bit bytes sent and received unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cport/component.h"
#include "cport/enum_set.h"
#include "cport/serial_device.h"

namespace platform {
class IniFile;
class Registry;
}  // namespace platform

namespace cport {

// ---------------------------------------------------------------------------
// Enumerations (8 bits, ordinals count from 0 in the order listed)

enum TBaudRate : std::uint8_t {
  brCustom,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent : std::uint8_t {
  evRxChar,
  evTxEmpty,
  evRxFlag,
  evRing,
  evBreak,
  evCTS,
  evDSR,
  evError,
  evRLSD,
  evRx80Full
};
enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };
enum TStoredProp : std::uint8_t {
  spBasic,
  spFlowControl,
  spBuffer,
  spTimeouts,
  spParity,
  spOthers
};
enum TModemSignal : std::uint8_t { msCTS, msDSR, msRing, msRLSD };
enum TComLineError : std::uint8_t {
  lnFraming,
  lnParity,
  lnOverrun,
  lnBreak,
  lnIOError,
  lnModeError,
  lnRxOverflow,
  lnTxFull
};

// The component's error codes; the ordinal is the code (0 names no error).
enum TComExceptions : std::uint8_t {
  ecNoError,
  ecOpenFailed,
  ecWriteFailed,
  ecReadFailed,
  ecInvalidTransfer,
  ecPurgeFailed,
  ecTransferStatusFailed,
  ecSetStateFailed,
  ecSetTimeoutsFailed,
  ecSetupFailed,
  ecClearErrorFailed,
  ecModemStatusFailed,
  ecEscapeFailed,
  ecTransmitCharFailed,
  ecChangeWhileConnected,
  ecEnumPortsFailed,
  ecStoreFailed,
  ecLoadFailed,
  ecLinkFailed,
  ecLedState,
  ecThreadExists,
  ecWaitFailed,
  ecRxBufLinked,
  ecRegistryError,
  ecPortNotOpen
};

// ---------------------------------------------------------------------------
// Sets

using TComEvents = EnumSet<TComEvent, std::uint16_t>;
using TStoredProps = EnumSet<TStoredProp, std::uint8_t>;
using TModemSignals = EnumSet<TModemSignal, std::uint8_t>;
using TComErrors = EnumSet<TComLineError, std::uint8_t>;

inline constexpr TComEvents AllComEvents = TComEvents::FromBits(0x3FF);

// ---------------------------------------------------------------------------
// Errors

// The fixed message of an error code 1 to 24; empty for any other value.
std::string_view ComErrorMessage(int code);

// The component's exception: an error code and, when there is one, the
// operating-system error number (-1 when there is none).
class EComPort : public std::runtime_error {
 public:
  // Message: the code's message followed by " (Error: <systemError>)".
  // `detail`: where and why the device call failed, kept beside the message
  // and never part of it ("/dev/ttyUSB0: No such file or directory").
  EComPort(int code, int systemError, std::string detail = {});
  // Message: the code's message alone; SystemErrorCode is -1.
  explicit EComPort(int code);

  int SystemErrorCode() const { return systemErrorCode_; }
  int ComErrorCode() const { return comErrorCode_; }
  // The device path and the system's reason, or empty when the failure came
  // from no device call.
  const std::string& Detail() const { return detail_; }

 private:
  int systemErrorCode_;
  int comErrorCode_;
  std::string detail_;
};

// The text a program shows for a failure: the exception's message, followed
// by ": " and the detail for an EComPort that has one.
std::string DescribeFailure(const std::exception& error);

// ---------------------------------------------------------------------------
// Event callbacks: empty by default, called only when bound; Sender first.

class TCustomComPort;

using TNotifyEvent = std::function<void(TCustomComPort& Sender)>;
using TRxCharEvent = std::function<void(TCustomComPort& Sender, std::int32_t Count)>;
using TRxBufEvent =
    std::function<void(TCustomComPort& Sender, const char* Buffer, std::int32_t Count)>;
using TComErrorEvent = std::function<void(TCustomComPort& Sender, TComErrors Errors)>;
using TComSignalEvent = std::function<void(TCustomComPort& Sender, bool OnOff)>;
using TComExceptionEvent = std::function<void(
    TCustomComPort& Sender, TComExceptions TComException, const std::string& ComportMessage,
    std::int64_t WinError, const std::string& WinMessage)>;
// A notice of the device (see device::SerialDevice::SetNoticeHandler).
using TDeviceNoticeEvent =
    std::function<void(TCustomComPort& Sender, const device::DeviceNotice& Notice)>;

// ---------------------------------------------------------------------------
// Settings sub-objects. Each belongs to the port that made it (OwnerPort) or
// stands free (OwnerPort null, e.g. one built only to be copied into a port).
// A field setter compares first; a changed value is stored and, with an
// owner, the owner re-applies the affected group of device settings.

class TComSettings {
 public:
  TComSettings(const TComSettings&) = delete;
  TComSettings& operator=(const TComSettings&) = delete;
  virtual ~TComSettings() = default;

  TCustomComPort* OwnerPort() const { return ownerPort_; }

  // Copies the source's fields directly: no setter runs, nothing is applied,
  // OwnerPort stays. Throws EConvertError, changing nothing, when the source
  // is missing or of another class.
  virtual void CopySettingsFrom(const TComSettings* source) = 0;

 protected:
  explicit TComSettings(TCustomComPort* ownerPort) : ownerPort_(ownerPort) {}
  [[noreturn]] void FailAssign(const TComSettings* source) const;
  virtual std::string_view ClassName() const = 0;

 private:
  TCustomComPort* ownerPort_;
};

// Device timeouts in milliseconds (-1 reaches the device as MAXDWORD).
class TComTimeouts : public TComSettings {
 public:
  TComTimeouts() : TComSettings(nullptr) {}  // free-standing
  explicit TComTimeouts(TCustomComPort* ownerPort) : TComSettings(ownerPort) {}
  void CopySettingsFrom(const TComSettings* source) override;

  std::int32_t ReadInterval() const { return readInterval_; }
  std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
  std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
  std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }
  void SetReadInterval(std::int32_t value);
  void SetReadTotalMultiplier(std::int32_t value);
  void SetReadTotalConstant(std::int32_t value);
  void SetWriteTotalMultiplier(std::int32_t value);
  void SetWriteTotalConstant(std::int32_t value);

 protected:
  std::string_view ClassName() const override { return "TComTimeouts"; }

 private:
  void Set(std::int32_t& field, std::int32_t value);

  std::int32_t readInterval_ = -1;
  std::int32_t readTotalMultiplier_ = 0;
  std::int32_t readTotalConstant_ = 0;
  std::int32_t writeTotalMultiplier_ = 100;
  std::int32_t writeTotalConstant_ = 1000;
};

// Flow-control fields and their one-word summary.
class TComFlowControl : public TComSettings {
 public:
  TComFlowControl() : TComSettings(nullptr) {}  // free-standing
  explicit TComFlowControl(TCustomComPort* ownerPort) : TComSettings(ownerPort) {}
  void CopySettingsFrom(const TComSettings* source) override;

  bool OutCTSFlow() const { return outCTSFlow_; }
  bool OutDSRFlow() const { return outDSRFlow_; }
  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  TRTSFlowControl ControlRTS() const { return controlRTS_; }
  bool XonXoffOut() const { return xonXoffOut_; }
  bool XonXoffIn() const { return xonXoffIn_; }
  bool DSRSensitivity() const { return dsrSensitivity_; }
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  char XonChar() const { return xonChar_; }
  char XoffChar() const { return xoffChar_; }
  void SetOutCTSFlow(bool value);
  void SetOutDSRFlow(bool value);
  void SetControlDTR(TDTRFlowControl value);
  void SetControlRTS(TRTSFlowControl value);
  void SetXonXoffOut(bool value);
  void SetXonXoffIn(bool value);
  void SetDSRSensitivity(bool value);
  void SetTxContinueOnXoff(bool value);
  void SetXonChar(char value);
  void SetXoffChar(char value);

  // The summary derived from ControlRTS, OutCTSFlow, XonXoffIn, XonXoffOut.
  TFlowControl FlowControl() const;
  // Writes the summary's fields directly (fcCustom changes none), then the
  // owner re-applies the line settings, every time.
  void SetFlowControl(TFlowControl value);

 protected:
  std::string_view ClassName() const override { return "TComFlowControl"; }

 private:
  template <class T>
  void Set(T& field, T value);

  bool outCTSFlow_ = false;
  bool outDSRFlow_ = false;
  TDTRFlowControl controlDTR_ = dtrDisable;
  TRTSFlowControl controlRTS_ = rtsDisable;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  char xonChar_ = 17;
  char xoffChar_ = 19;
};

class TComParity : public TComSettings {
 public:
  TComParity() : TComSettings(nullptr) {}  // free-standing
  explicit TComParity(TCustomComPort* ownerPort) : TComSettings(ownerPort) {}
  void CopySettingsFrom(const TComSettings* source) override;

  TParityBits Bits() const { return bits_; }
  bool Check() const { return check_; }
  bool Replace() const { return replace_; }
  char ReplaceChar() const { return replaceChar_; }
  void SetBits(TParityBits value);
  void SetCheck(bool value);
  void SetReplace(bool value);
  void SetReplaceChar(char value);

 protected:
  std::string_view ClassName() const override { return "TComParity"; }

 private:
  template <class T>
  void Set(T& field, T value);

  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  char replaceChar_ = 0;
};

// Driver queue sizes in bytes; positive odd sizes are kept one lower (even).
class TComBuffer : public TComSettings {
 public:
  TComBuffer() : TComSettings(nullptr) {}  // free-standing
  explicit TComBuffer(TCustomComPort* ownerPort) : TComSettings(ownerPort) {}
  void CopySettingsFrom(const TComSettings* source) override;

  std::int32_t InputSize() const { return inputSize_; }
  std::int32_t OutputSize() const { return outputSize_; }
  void SetInputSize(std::int32_t value);
  void SetOutputSize(std::int32_t value);

 protected:
  std::string_view ClassName() const override { return "TComBuffer"; }

 private:
  void Set(std::int32_t& field, std::int32_t value);

  std::int32_t inputSize_ = 1024;
  std::int32_t outputSize_ = 1024;
};

// ---------------------------------------------------------------------------
// Linked observers: a PortLink hears about the port's traffic. The port does
// not own its links; a link is registered and unregistered by its owner,
// which keeps it alive while it is registered.

using TLinkSignal = std::function<void(TCustomComPort& Sender, bool OnOff)>;
using TLinkData =
    std::function<void(TCustomComPort& Sender, const char* Buffer, std::int32_t Count)>;
using TLinkNotify = std::function<void(TCustomComPort& Sender)>;

struct PortLink {
  TLinkSignal Connection;
  TLinkData RxData;  // a link with this handler takes the received data (HasRxBufLink)
  TLinkData TxData;
  TLinkNotify TxEmpty;
  TLinkNotify EventChar;
  TLinkSignal CTS;
  TLinkSignal DSR;
  TLinkSignal RLSD;
  TLinkNotify Ring;
  TLinkSignal TxActivity;
  TLinkSignal RxActivity;
};

// ---------------------------------------------------------------------------
// Transfer records

enum TransferKind : std::uint8_t { tkWrite = 0, tkRead = 1 };

// One overlapped transfer at a time; owned by whoever created it (made by
// CreatePendingTransfer, released by DisposePendingTransfer).
struct PendingTransfer {
  device::OVERLAPPED Overlapped;  // hEvent: manual reset, created signalled
  TransferKind Kind = tkWrite;
  std::unique_ptr<char[]> Data;  // copy of the last write's bytes, or none
  std::int32_t Size = 0;         // bytes in Data
};

std::unique_ptr<PendingTransfer> CreatePendingTransfer();
// Closes the record's event, frees its data and the record; `transfer` becomes empty.
void DisposePendingTransfer(std::unique_ptr<PendingTransfer>& transfer);

// Event set <-> Win32 event mask; mask bits outside the ten events are dropped.
device::DWORD EventsToMask(TComEvents events);
TComEvents MaskToEvents(device::DWORD mask);

// The event thread and the notification window of an open port (defined with
// the event dispatch).
class TComThread;
class TNotificationWindow;
struct EventMachineryDeleter {
  void operator()(TComThread* thread) const noexcept;
  void operator()(TNotificationWindow* window) const noexcept;
};

// ---------------------------------------------------------------------------

class TCustomComPort : public TComponent {
 public:
  // Creates a closed port with the default settings; no device is touched.
  explicit TCustomComPort(TComponent* owner = nullptr);
  // Closes the port first (errors are discarded). Destroying a port inside
  // one of its own event deliveries ends the program with a message.
  ~TCustomComPort() override;

  // --- Settings persistence (the store stays the caller's, open and owned)
  virtual void SaveToRegistryKey(platform::Registry& registry);
  virtual void SaveToIniSection(platform::IniFile& ini);
  virtual void LoadFromRegistryKey(platform::Registry& registry);
  virtual void LoadFromIniSection(platform::IniFile& ini);

  // --- Lifecycle
  void OpenPort();
  // Asked for inside one of this port's event deliveries (a handler, or a
  // message loop a handler entered), the close takes effect once that
  // delivery has returned; ClosePending is true meanwhile.
  void ClosePort();
  bool ClosePending() const;

  // --- Status queries (the device must be open)
  std::int32_t InputQueueCount();    // bytes waiting; clears pending line errors
  TModemSignals ReadModemSignals();  // current CTS, DSR, ring, RLSD levels
  TComErrors ReadLineErrors();       // pending line errors, then cleared

  // Raises EComPort(code[, systemError]) or, with OnException bound, calls
  // it and returns. A systemError <= 0 counts as none.
  void ReportComError(std::uint16_t code, std::int64_t systemError);
  // The same for a failed device call: the exception also carries the
  // device path and the system's reason (EComPort::Detail), and OnException
  // gets the reason in its system message.
  void ReportDeviceError(std::uint16_t code, const device::DeviceError& error);
  // Subscribes the open device to the port's notices.
  void ForwardDeviceNotices();

  // --- Transfers
  std::int32_t BeginSendBuffer(const char* Buffer, std::int32_t Count, PendingTransfer* Transfer);
  std::int32_t BeginSendText(const std::string& Text, PendingTransfer* Transfer);
  std::int32_t BeginReceiveBuffer(char* Buffer, std::int32_t Count, PendingTransfer* Transfer);
  std::int32_t BeginReceiveText(std::string& Text, std::int32_t Count, PendingTransfer* Transfer);
  std::int32_t WaitForTransfer(PendingTransfer* Transfer);
  TComExceptions TransferErrorCode(const PendingTransfer& Transfer) const;
  std::int32_t SendText(std::string Text);
  std::int32_t ReceiveBuffer(char* Buffer, std::int32_t Count);
  std::int32_t ReceiveText(std::string& Text, std::int32_t Count);
  // Ends every read and write in flight (the queues keep their bytes).
  void AbortAllTransfers();

  // --- Linked observers
  void RegisterLink(PortLink* link);
  void UnregisterLink(PortLink* link);
  bool HasRxBufLink() const { return hasRxBufLink_; }

  // --- Settings
  bool Connected() const { return connected_; }
  void SetConnected(bool value);
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value);
  std::int32_t CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(std::int32_t value);
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& value);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value);
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool value);
  char EventChar() const { return eventChar_; }
  void SetEventChar(char value);
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value) { events_ = value; }
  TSyncMethod SyncMethod() const { return syncMethod_; }
  void SetSyncMethod(TSyncMethod value);
  TStoredProps StoredProps() const { return storedProps_; }
  void SetStoredProps(TStoredProps value) { storedProps_ = value; }
  // True only while the stored flag is true and no link takes the received data.
  bool TriggersOnRxChar() const { return triggersOnRxChar_ && !hasRxBufLink_; }
  void SetTriggersOnRxChar(bool value);
  std::uint32_t CodePage() const { return codePage_; }
  void SetCodePage(std::uint32_t value) { codePage_ = value; }

  // The owned sub-objects; writing their fields re-applies on an open port.
  TComBuffer& Buffer() { return buffer_; }
  const TComBuffer& Buffer() const { return buffer_; }
  TComParity& Parity() { return parity_; }
  const TComParity& Parity() const { return parity_; }
  TComTimeouts& Timeouts() { return timeouts_; }
  const TComTimeouts& Timeouts() const { return timeouts_; }
  TComFlowControl& FlowControl() { return flowControl_; }
  const TComFlowControl& FlowControl() const { return flowControl_; }
  // Copy into the owned object, then apply that group once.
  void SetBuffer(const TComBuffer& value);
  void SetParity(const TComParity& value);
  void SetTimeouts(const TComTimeouts& value);
  void SetFlowControl(const TComFlowControl& value);

  // The path a client opens to reach a virtual port's far end; empty for
  // other devices and while closed.
  std::string ClientPath() const;

  // Line timing on the device (device::SerialDevice::SetLineTiming): an
  // emulated line moves its bytes at the baud rate, as a real port does.
  // Off by default; neither published nor stored. Applied when the port
  // opens and at once while it is open; a refusal reports ecSetStateFailed.
  bool LineTiming() const { return lineTiming_; }
  void SetLineTiming(bool on);
  // Drops the client of a virtual or network port as a pulled cable would
  // (device::SerialDevice::DropClient). Reports nothing: the result says
  // whether it happened (ERROR_INVALID_HANDLE while closed).
  device::DeviceError DropClient();

  // --- Event callbacks
  const TRxCharEvent& OnRxChar() const { return onRxChar_; }
  void SetOnRxChar(TRxCharEvent f) { onRxChar_ = std::move(f); }
  const TRxBufEvent& OnRxBuf() const { return onRxBuf_; }
  void SetOnRxBuf(TRxBufEvent f) { onRxBuf_ = std::move(f); }
  const TNotifyEvent& OnTxEmpty() const { return onTxEmpty_; }
  void SetOnTxEmpty(TNotifyEvent f) { onTxEmpty_ = std::move(f); }
  const TNotifyEvent& OnBreak() const { return onBreak_; }
  void SetOnBreak(TNotifyEvent f) { onBreak_ = std::move(f); }
  const TNotifyEvent& OnRing() const { return onRing_; }
  void SetOnRing(TNotifyEvent f) { onRing_ = std::move(f); }
  const TComSignalEvent& OnCTSChange() const { return onCTSChange_; }
  void SetOnCTSChange(TComSignalEvent f) { onCTSChange_ = std::move(f); }
  const TComSignalEvent& OnDSRChange() const { return onDSRChange_; }
  void SetOnDSRChange(TComSignalEvent f) { onDSRChange_ = std::move(f); }
  const TComSignalEvent& OnRLSDChange() const { return onRLSDChange_; }
  void SetOnRLSDChange(TComSignalEvent f) { onRLSDChange_ = std::move(f); }
  const TComErrorEvent& OnError() const { return onError_; }
  void SetOnError(TComErrorEvent f) { onError_ = std::move(f); }
  const TNotifyEvent& OnRxFlag() const { return onRxFlag_; }
  void SetOnRxFlag(TNotifyEvent f) { onRxFlag_ = std::move(f); }
  const TNotifyEvent& OnAfterOpen() const { return onAfterOpen_; }
  void SetOnAfterOpen(TNotifyEvent f) { onAfterOpen_ = std::move(f); }
  const TNotifyEvent& OnAfterClose() const { return onAfterClose_; }
  void SetOnAfterClose(TNotifyEvent f) { onAfterClose_ = std::move(f); }
  const TNotifyEvent& OnBeforeOpen() const { return onBeforeOpen_; }
  void SetOnBeforeOpen(TNotifyEvent f) { onBeforeOpen_ = std::move(f); }
  const TNotifyEvent& OnBeforeClose() const { return onBeforeClose_; }
  void SetOnBeforeClose(TNotifyEvent f) { onBeforeClose_ = std::move(f); }
  const TNotifyEvent& OnRx80Full() const { return onRx80Full_; }
  void SetOnRx80Full(TNotifyEvent f) { onRx80Full_ = std::move(f); }
  const TComExceptionEvent& OnException() const { return onException_; }
  void SetOnException(TComExceptionEvent f) { onException_ = std::move(f); }
  // Called on the device's own thread, not the user-interface thread: hand
  // the notice on (Application::QueueCall). Takes effect at once, also on an
  // open port; it must not call the port.
  const TDeviceNoticeEvent& OnDeviceNotice() const { return onDeviceNotice_; }
  void SetOnDeviceNotice(TDeviceNoticeEvent f);

 protected:
  // Opens "\\.\" + Port for exclusive overlapped use; failure reports code 1.
  virtual void CreateDeviceHandle();
  // Closes the device; a failed close is not reported and keeps the handle.
  virtual void DestroyDeviceHandle();
  // ApplyBufferSizes, ApplyLineSettings, ApplyPortTimeouts, in this order.
  virtual void ConfigurePort();

  // Hooks: each calls its callback when bound.
  virtual void HandleAfterClose();
  virtual void HandleAfterOpen();
  virtual void HandleBeforeClose();
  virtual void HandleBeforeOpen();
  virtual void HandleRxChar(std::int32_t Count);
  virtual void HandleRxBuf(const char* Buffer, std::int32_t Count);
  virtual void HandleTxEmpty();
  virtual void HandleBreak();
  virtual void HandleRing();
  virtual void HandleRxFlag();
  virtual void HandleCTSChange(bool OnOff);
  virtual void HandleDSRChange(bool OnOff);
  virtual void HandleError(TComErrors Errors);
  virtual void HandleRLSDChange(bool OnOff);
  virtual void HandleRx80Full();

  // Apply one group of settings to the device; each does nothing unless the
  // port is open and the component is neither designing nor loading.
  virtual void ApplyLineSettings();  // SetCommState; failure reports 7
  virtual void ApplyPortTimeouts();  // SetCommTimeouts; failure reports 8
  virtual void ApplyBufferSizes();   // SetupComm; failure reports 9

  // Opens the port when Connected was stored true while loading; an error
  // goes to the application's default error display.
  void Loaded() override;

  // --- Event dispatch: one step per event, run by the event thread's delivery.
  void DispatchRxChar();
  void DispatchTxEmpty();
  void DispatchRxFlag();
  void DispatchRing();
  void DispatchBreak();
  void DispatchCTSChange();
  void DispatchDSRChange();
  void DispatchRLSDChange();
  void DispatchError();
  void DispatchRx80Full();
  // true: report the current CTS, DSR, RLSD levels; false: report all off
  // without asking the device.
  void AnnounceSignals(bool Opening);

  // Calls `handler` of every registered link that has it, in list order.
  template <class Handler, class... Args>
  void NotifyLinks(Handler PortLink::*handler, Args&&... args) {
    for (PortLink* link : linkList_) {
      if (link->*handler) (link->*handler)(*this, args...);
    }
  }
  const std::vector<PortLink*>& LinkList() const { return linkList_; }

  // The open device, or null while none is open.
  device::SerialDevice* Device() const { return handle_.get(); }
  // True while an event thread runs for this port.
  bool ThreadCreated() const { return threadCreated_; }

 private:
  friend class TComThread;
  friend class TNotificationWindow;
  friend class TComTimeouts;
  friend class TComFlowControl;
  friend class TComParity;
  friend class TComBuffer;

  // Makes the NotificationWindow (smWindowSync only), then the event thread.
  // On failure it leaves neither behind; OpenPort then closes the device.
  void StartEventThread();
  // Stops the event thread and waits for it, then destroys the window.
  // OpenPort and ClosePort keep the thread-created flag.
  void StopEventThread();

  bool ApplyAllowed() const;
  void ApplyLineTiming();

  std::unique_ptr<TComThread, EventMachineryDeleter> eventThread_;
  bool threadCreated_ = false;
  std::unique_ptr<device::SerialDevice> handle_;  // null: INVALID_HANDLE_VALUE
  std::unique_ptr<TNotificationWindow, EventMachineryDeleter> notificationWindow_;
  std::vector<PortLink*> linkList_;
  bool triggersOnRxChar_ = true;
  bool hasRxBufLink_ = false;
  bool connected_ = false;
  bool closing_ = false;  // a close is in progress; a nested close does nothing
  bool lineTiming_ = false;
  TBaudRate baudRate_ = br9600;
  std::int32_t customBaudRate_ = 9600;
  std::string port_ = "COM1";
  TStopBits stopBits_ = sbOneStopBit;
  TDataBits dataBits_ = dbEight;
  bool discardNull_ = false;
  char eventChar_ = 0;
  TComEvents events_ = AllComEvents;
  TComBuffer buffer_;
  TComParity parity_;
  TComTimeouts timeouts_;
  TComFlowControl flowControl_;
  TSyncMethod syncMethod_ = smThreadSync;
  TStoredProps storedProps_{spBasic};
  TRxCharEvent onRxChar_;
  TRxBufEvent onRxBuf_;
  TNotifyEvent onTxEmpty_;
  TNotifyEvent onBreak_;
  TNotifyEvent onRing_;
  TComSignalEvent onCTSChange_;
  TComSignalEvent onDSRChange_;
  TComSignalEvent onRLSDChange_;
  TComErrorEvent onError_;
  TNotifyEvent onRxFlag_;
  TNotifyEvent onAfterOpen_;
  TNotifyEvent onAfterClose_;
  TNotifyEvent onBeforeOpen_;
  TNotifyEvent onBeforeClose_;
  TNotifyEvent onRx80Full_;
  TComExceptionEvent onException_;
  TDeviceNoticeEvent onDeviceNotice_;
  std::uint32_t codePage_ = 0;
};

// The port with its settings published (Name, Tag and 32 more, 34 in all).
class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
  // Closes the port while the whole object still exists: the event thread
  // may be calling into it until the close has stopped it.
  ~TComPort() override;

 protected:
  void DescribePublished(std::vector<PublishedSetting>& out) const override;
};

}  // namespace cport
