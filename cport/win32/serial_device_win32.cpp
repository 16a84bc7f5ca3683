#include "cport/win32/windows_serial_headers.h"

#include "cport/win32/serial_device_win32.h"

#include <cstring>
#include <mutex>
#include <new>

#include "platform/win32/native_event.h"

namespace cport::detail {

namespace {

using device::DeviceError;
using Word = device::DWORD;

static_assert(sizeof(::OVERLAPPED) == device::kSystemOverlappedSize);
static_assert(alignof(::OVERLAPPED) <= alignof(std::uintptr_t));
static_assert(sizeof(::DWORD) == sizeof(Word));

DeviceError LastError() {
  return static_cast<Word>(::GetLastError());
}

// The system's block in the component's block's reserved storage.
::OVERLAPPED* SystemBlock(device::OVERLAPPED& block) {
  return std::launder(reinterpret_cast<::OVERLAPPED*>(block.System.data()));
}

const ::OVERLAPPED* SystemBlock(const device::OVERLAPPED& block) {
  return std::launder(reinterpret_cast<const ::OVERLAPPED*>(block.System.data()));
}

// A fresh system block for a new operation, signalling the block's event.
::OVERLAPPED* StartBlock(device::OVERLAPPED& block) {
  auto* system = new (block.System.data())::OVERLAPPED{};
  system->hEvent = platform::NativeHandle(block.hEvent);
  block.Internal = device::ERROR_IO_PENDING;
  block.InternalHigh = 0;
  return system;
}

// The system no longer holds the block: an empty system block.
void ReleaseBlock(device::OVERLAPPED& block) {
  new (block.System.data())::OVERLAPPED{};
}

// Whether the system holds, or held and nobody has taken the result of, an
// operation on the block.
bool SystemOwned(const device::OVERLAPPED& block) {
  return SystemBlock(block)->hEvent != nullptr;
}

// The system's final result, kept in the component's fields.
DeviceError TakeResult(device::OVERLAPPED& block, BOOL done, ::DWORD count, Word* transferred) {
  const DeviceError result = done ? DeviceError() : LastError();
  if (transferred != nullptr) *transferred = static_cast<Word>(count);
  if (result.code == device::ERROR_IO_INCOMPLETE) return result;
  block.Internal = result.code;
  block.InternalHigh = count;
  ReleaseBlock(block);
  return result;
}

// What a started overlapped call returned: finished at once, pending, or
// failed at once (then the system holds nothing, and the block is idle).
DeviceError Started(device::OVERLAPPED& block, BOOL done, ::DWORD count, Word* out) {
  if (out != nullptr) *out = done ? static_cast<Word>(count) : 0;
  if (done) return device::ERROR_SUCCESS;
  const DeviceError error = LastError();
  if (error.code == device::ERROR_IO_PENDING) return error;
  ReleaseBlock(block);
  block.Internal = error.code;
  block.InternalHigh = 0;
  return error;
}

BYTE Bit(Word flags, Word bit) {
  return (flags & bit) != 0 ? 1 : 0;
}

BYTE TwoBits(Word flags, Word shift) {
  return static_cast<BYTE>((flags >> shift) & 3);
}

::DCB ToSystem(const device::DCB& dcb) {
  ::DCB system{};
  system.DCBlength = sizeof(::DCB);
  system.BaudRate = dcb.BaudRate;
  system.fBinary = Bit(dcb.Flags, device::DCB_fBinary);
  system.fParity = Bit(dcb.Flags, device::DCB_fParity);
  system.fOutxCtsFlow = Bit(dcb.Flags, device::DCB_fOutxCtsFlow);
  system.fOutxDsrFlow = Bit(dcb.Flags, device::DCB_fOutxDsrFlow);
  system.fDtrControl = TwoBits(dcb.Flags, device::DCB_fDtrControlShift);
  system.fDsrSensitivity = Bit(dcb.Flags, device::DCB_fDsrSensitivity);
  system.fTXContinueOnXoff = Bit(dcb.Flags, device::DCB_fTXContinueOnXoff);
  system.fOutX = Bit(dcb.Flags, device::DCB_fOutX);
  system.fInX = Bit(dcb.Flags, device::DCB_fInX);
  system.fErrorChar = Bit(dcb.Flags, device::DCB_fErrorChar);
  system.fNull = Bit(dcb.Flags, device::DCB_fNull);
  system.fRtsControl = TwoBits(dcb.Flags, device::DCB_fRtsControlShift);
  system.fAbortOnError = Bit(dcb.Flags, device::DCB_fAbortOnError);
  system.wReserved = dcb.wReserved;
  system.XonLim = dcb.XonLim;
  system.XoffLim = dcb.XoffLim;
  system.ByteSize = dcb.ByteSize;
  system.Parity = dcb.Parity;
  system.StopBits = dcb.StopBits;
  system.XonChar = dcb.XonChar;
  system.XoffChar = dcb.XoffChar;
  system.ErrorChar = dcb.ErrorChar;
  system.EofChar = dcb.EofChar;
  system.EvtChar = dcb.EvtChar;
  system.wReserved1 = dcb.wReserved1;
  return system;
}

Word Flag(unsigned value, Word bit) {
  return value != 0 ? bit : 0;
}

device::DCB FromSystem(const ::DCB& system) {
  device::DCB dcb;
  dcb.DCBlength = system.DCBlength;
  dcb.BaudRate = system.BaudRate;
  dcb.Flags =
      Flag(system.fBinary, device::DCB_fBinary) | Flag(system.fParity, device::DCB_fParity) |
      Flag(system.fOutxCtsFlow, device::DCB_fOutxCtsFlow) |
      Flag(system.fOutxDsrFlow, device::DCB_fOutxDsrFlow) |
      (static_cast<Word>(system.fDtrControl) << device::DCB_fDtrControlShift) |
      Flag(system.fDsrSensitivity, device::DCB_fDsrSensitivity) |
      Flag(system.fTXContinueOnXoff, device::DCB_fTXContinueOnXoff) |
      Flag(system.fOutX, device::DCB_fOutX) | Flag(system.fInX, device::DCB_fInX) |
      Flag(system.fErrorChar, device::DCB_fErrorChar) | Flag(system.fNull, device::DCB_fNull) |
      (static_cast<Word>(system.fRtsControl) << device::DCB_fRtsControlShift) |
      Flag(system.fAbortOnError, device::DCB_fAbortOnError);
  dcb.wReserved = system.wReserved;
  dcb.XonLim = system.XonLim;
  dcb.XoffLim = system.XoffLim;
  dcb.ByteSize = system.ByteSize;
  dcb.Parity = system.Parity;
  dcb.StopBits = system.StopBits;
  dcb.XonChar = system.XonChar;
  dcb.XoffChar = system.XoffChar;
  dcb.ErrorChar = system.ErrorChar;
  dcb.EofChar = system.EofChar;
  dcb.EvtChar = system.EvtChar;
  dcb.wReserved1 = system.wReserved1;
  return dcb;
}

// COMSTAT's flag bits in the order the system declares them.
Word StatusFlags(const ::COMSTAT& stat) {
  return Flag(stat.fCtsHold, 0x01) | Flag(stat.fDsrHold, 0x02) | Flag(stat.fRlsdHold, 0x04) |
         Flag(stat.fXoffHold, 0x08) | Flag(stat.fXoffSent, 0x10) | Flag(stat.fEof, 0x20) |
         Flag(stat.fTxim, 0x40);
}

class SystemSerialDevice final : public device::SerialDevice {
 public:
  explicit SystemSerialDevice(HANDLE handle) : handle_(handle) {}
  ~SystemSerialDevice() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }

  DeviceError SetupComm(Word inQueue, Word outQueue) override {
    return Result(::SetupComm(handle_, inQueue, outQueue));
  }

  DeviceError SetCommState(const device::DCB& dcb) override {
    ::DCB system = ToSystem(dcb);
    return Result(::SetCommState(handle_, &system));
  }

  DeviceError GetCommState(device::DCB& dcb) override {
    ::DCB system{};
    system.DCBlength = sizeof(::DCB);
    if (!::GetCommState(handle_, &system)) return LastError();
    dcb = FromSystem(system);
    return device::ERROR_SUCCESS;
  }

  DeviceError SetCommTimeouts(const device::COMMTIMEOUTS& timeouts) override {
    ::COMMTIMEOUTS system{};
    system.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    system.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    system.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    system.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    system.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    return Result(::SetCommTimeouts(handle_, &system));
  }

  // A new mask ends the wait in flight; the system may finish it a little
  // later, so the call returns once it has, and the waiter's block is free
  // when the caller goes on (the event thread's block lives on its stack).
  DeviceError SetCommMask(Word mask) override {
    const DeviceError result = Result(::SetCommMask(handle_, mask));
    std::lock_guard lock(waitMutex_);
    if (result.code == device::ERROR_SUCCESS && pendingWait_ != nullptr) {
      ::DWORD count = 0;
      ::GetOverlappedResult(handle_, SystemBlock(*pendingWait_), &count, TRUE);
      pendingWait_ = nullptr;
    }
    return result;
  }

  DeviceError WaitCommEvent(Word* mask, device::OVERLAPPED* overlapped) override {
    if (mask == nullptr || !Usable(overlapped)) return device::ERROR_INVALID_PARAMETER;
    std::lock_guard lock(waitMutex_);
    ::OVERLAPPED* system = StartBlock(*overlapped);
    *mask = 0;
    const BOOL done = ::WaitCommEvent(handle_, reinterpret_cast<::DWORD*>(mask), system);
    const DeviceError result = Started(*overlapped, done, 0, nullptr);
    pendingWait_ = result.code == device::ERROR_IO_PENDING ? overlapped : nullptr;
    return result;
  }

  DeviceError ReadFile(void* buffer, Word count, Word* read,
                       device::OVERLAPPED* overlapped) override {
    if (!Usable(overlapped)) return device::ERROR_INVALID_PARAMETER;
    ::OVERLAPPED* system = StartBlock(*overlapped);
    ::DWORD done = 0;
    return Started(*overlapped, ::ReadFile(handle_, buffer, count, &done, system), done, read);
  }

  DeviceError WriteFile(const void* buffer, Word count, Word* written,
                        device::OVERLAPPED* overlapped) override {
    if (!Usable(overlapped)) return device::ERROR_INVALID_PARAMETER;
    ::OVERLAPPED* system = StartBlock(*overlapped);
    ::DWORD done = 0;
    return Started(*overlapped, ::WriteFile(handle_, buffer, count, &done, system), done, written);
  }

  DeviceError GetOverlappedResult(device::OVERLAPPED* overlapped, Word* transferred,
                                  bool wait) override {
    if (overlapped == nullptr) return device::ERROR_INVALID_PARAMETER;
    if (!SystemOwned(*overlapped)) return device::EndedOperationResult(*overlapped, transferred);
    ::DWORD count = 0;
    const BOOL done =
        ::GetOverlappedResult(handle_, SystemBlock(*overlapped), &count, wait ? TRUE : FALSE);
    std::lock_guard lock(waitMutex_);
    const DeviceError result = TakeResult(*overlapped, done, count, transferred);
    if (pendingWait_ == overlapped && result.code != device::ERROR_IO_INCOMPLETE) {
      pendingWait_ = nullptr;
    }
    return result;
  }

  DeviceError PurgeComm(Word flags) override { return Result(::PurgeComm(handle_, flags)); }

  DeviceError ClearCommError(Word* errors, device::COMSTAT* stat) override {
    ::DWORD word = 0;
    ::COMSTAT system{};
    if (!::ClearCommError(handle_, &word, &system)) return LastError();
    if (errors != nullptr) *errors = static_cast<Word>(word);
    if (stat != nullptr) {
      stat->Flags = StatusFlags(system);
      stat->cbInQue = system.cbInQue;
      stat->cbOutQue = system.cbOutQue;
    }
    return device::ERROR_SUCCESS;
  }

  DeviceError GetCommModemStatus(Word* status) override {
    ::DWORD lines = 0;
    if (!::GetCommModemStatus(handle_, &lines)) return LastError();
    if (status != nullptr) *status = static_cast<Word>(lines);
    return device::ERROR_SUCCESS;
  }

  DeviceError CloseHandle() override {
    if (handle_ == INVALID_HANDLE_VALUE) return device::ERROR_INVALID_HANDLE;
    if (!::CloseHandle(handle_)) return LastError();
    handle_ = INVALID_HANDLE_VALUE;
    return device::ERROR_SUCCESS;
  }

 private:
  static DeviceError Result(BOOL done) { return done ? DeviceError() : LastError(); }

  // The system signals the block's own event object, so there must be one.
  static bool Usable(const device::OVERLAPPED* overlapped) {
    return overlapped != nullptr && platform::NativeHandle(overlapped->hEvent) != nullptr;
  }

  HANDLE handle_;
  std::mutex waitMutex_;
  device::OVERLAPPED* pendingWait_ = nullptr;  // the WaitCommEvent in flight
};

}  // namespace

DeviceError OpenSystemDevice(const std::string& path,
                             std::unique_ptr<device::SerialDevice>& device) {
  HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  device = std::make_unique<SystemSerialDevice>(handle);
  return device::ERROR_SUCCESS;
}

}  // namespace cport::detail

namespace cport::device {

// A block the system still holds keeps its result in the system's block,
// which GetOverlappedResult reads without the device when it need not wait.
DeviceError EndedOperationResult(const OVERLAPPED& overlapped, DWORD* transferred) {
  if (!detail::SystemOwned(overlapped)) {
    *transferred = static_cast<DWORD>(overlapped.InternalHigh);
    return static_cast<DWORD>(overlapped.Internal);
  }
  ::OVERLAPPED system = *detail::SystemBlock(overlapped);
  ::DWORD count = 0;
  const BOOL done = ::GetOverlappedResult(INVALID_HANDLE_VALUE, &system, &count, FALSE);
  *transferred = static_cast<DWORD>(count);
  return done ? DeviceError() : detail::LastError();
}

}  // namespace cport::device
