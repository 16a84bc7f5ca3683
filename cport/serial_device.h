// The device layer: the only way the component reaches a serial device.
//
// Each call keeps the effect of the Win32 serial call of the same name, and
// the structures keep the Win32 field names and meanings so that tests can
// compare a DCB field by field. Every call returns a DeviceError: its system
// error number (ERROR_SUCCESS on success) together with the POSIX reason
// where the failure came from a POSIX call. Nothing is left in a
// thread-global "last error": the result is the failure of exactly that
// call, and a later failure cannot lend it another's reason.
//
// Overlapped calls (WaitCommEvent, ReadFile, WriteFile) either complete at
// once (ERROR_SUCCESS, with the count filled in) or return ERROR_IO_PENDING
// and complete later: the device then stores the status in
// OVERLAPPED::Internal and the count in InternalHigh and signals hEvent. The
// caller keeps the OVERLAPPED block and the buffer alive and unmoved until
// hEvent is signalled. PurgeComm(PURGE_TXABORT | PURGE_RXABORT) completes
// every transfer in flight with ERROR_OPERATION_ABORTED.
//
// A SerialDevice may be called from several threads at once (the event
// thread waits while the user-interface thread reads and writes).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/events.h"

namespace cport::device {

using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using BYTE = std::uint8_t;

// System error numbers the component and its callers rely on.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;      // no such device
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;       // denied, or in use
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;      // a call on a closed device
inline constexpr DWORD ERROR_GEN_FAILURE = 31;        // any other device failure
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;      // a call this kind of device has not
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;  // a setting the device refuses
inline constexpr DWORD ERROR_OPERATION_ABORTED = 995;
inline constexpr DWORD ERROR_IO_PENDING = 997;
inline constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;  // hang-up, unplug

// What a device call ended with. `code` is the Win32 number the component
// acts on; `posixErrno` the errno of the POSIX call that failed, 0 when the
// failure has no POSIX cause (a refused setting, a closed device, Windows).
// `reason`, where set, is the device layer's own explanation (a static
// text), for a failure that neither number explains: a kind of port this
// system does not have. Converts to and from the bare number, so a caller
// that needs only the code keeps a DWORD; one that reports the failure keeps
// the DeviceError.
struct DeviceError {
  DWORD code = ERROR_SUCCESS;
  int posixErrno = 0;
  const char* reason = nullptr;

  constexpr DeviceError() = default;
  constexpr DeviceError(DWORD systemError, int posixError = 0,  // NOLINT: implicit by design
                        const char* why = nullptr)
      : code(systemError), posixErrno(posixError), reason(why) {}
  constexpr operator DWORD() const { return code; }  // NOLINT: implicit by design
};

// The system's description of an error number.
std::string SystemErrorMessage(DWORD code);
// The same, followed by the POSIX reason (or the layer's own reason) in
// parentheses where there is one: "Access is denied. (Device or resource
// busy)".
std::string SystemErrorMessage(const DeviceError& error);
// The layer's own reason, else the POSIX reason ("No such file or
// directory"), else the description of the code.
std::string SystemReason(const DeviceError& error);

// Event mask bits (SetCommMask, WaitCommEvent).
inline constexpr DWORD EV_RXCHAR = 0x0001;
inline constexpr DWORD EV_RXFLAG = 0x0002;
inline constexpr DWORD EV_TXEMPTY = 0x0004;
inline constexpr DWORD EV_CTS = 0x0008;
inline constexpr DWORD EV_DSR = 0x0010;
inline constexpr DWORD EV_RLSD = 0x0020;
inline constexpr DWORD EV_BREAK = 0x0040;
inline constexpr DWORD EV_ERR = 0x0080;
inline constexpr DWORD EV_RING = 0x0100;
inline constexpr DWORD EV_RX80FULL = 0x0400;

// PurgeComm flags.
inline constexpr DWORD PURGE_TXABORT = 0x0001;
inline constexpr DWORD PURGE_RXABORT = 0x0002;
inline constexpr DWORD PURGE_TXCLEAR = 0x0004;
inline constexpr DWORD PURGE_RXCLEAR = 0x0008;

// ClearCommError error word.
inline constexpr DWORD CE_RXOVER = 0x0001;
inline constexpr DWORD CE_OVERRUN = 0x0002;
inline constexpr DWORD CE_RXPARITY = 0x0004;
inline constexpr DWORD CE_FRAME = 0x0008;
inline constexpr DWORD CE_BREAK = 0x0010;
inline constexpr DWORD CE_TXFULL = 0x0100;
inline constexpr DWORD CE_IOE = 0x0400;
inline constexpr DWORD CE_MODE = 0x8000;

// GetCommModemStatus bits.
inline constexpr DWORD MS_CTS_ON = 0x0010;
inline constexpr DWORD MS_DSR_ON = 0x0020;
inline constexpr DWORD MS_RING_ON = 0x0040;
inline constexpr DWORD MS_RLSD_ON = 0x0080;

// DCB field values.
inline constexpr BYTE NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
inline constexpr BYTE ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;
inline constexpr DWORD DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2,
                       RTS_CONTROL_TOGGLE = 3;

// The device control block, with the flag bits held as one word.
struct DCB {
  DWORD DCBlength = 28;
  DWORD BaudRate = 0;
  DWORD Flags = 0;  // bit layout below
  WORD wReserved = 0;
  WORD XonLim = 0;
  WORD XoffLim = 0;
  BYTE ByteSize = 0;
  BYTE Parity = 0;
  BYTE StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  WORD wReserved1 = 0;

  friend bool operator==(const DCB&, const DCB&) = default;
};

// DCB::Flags bits.
inline constexpr DWORD DCB_fBinary = 0x0001;
inline constexpr DWORD DCB_fParity = 0x0002;
inline constexpr DWORD DCB_fOutxCtsFlow = 0x0004;
inline constexpr DWORD DCB_fOutxDsrFlow = 0x0008;
inline constexpr DWORD DCB_fDtrControlShift = 4;  // two bits
inline constexpr DWORD DCB_fDsrSensitivity = 0x0040;
inline constexpr DWORD DCB_fTXContinueOnXoff = 0x0080;
inline constexpr DWORD DCB_fOutX = 0x0100;
inline constexpr DWORD DCB_fInX = 0x0200;
inline constexpr DWORD DCB_fErrorChar = 0x0400;
inline constexpr DWORD DCB_fNull = 0x0800;
inline constexpr DWORD DCB_fRtsControlShift = 12;  // two bits
inline constexpr DWORD DCB_fAbortOnError = 0x4000;

struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout = 0;
  DWORD ReadTotalTimeoutMultiplier = 0;
  DWORD ReadTotalTimeoutConstant = 0;
  DWORD WriteTotalTimeoutMultiplier = 0;
  DWORD WriteTotalTimeoutConstant = 0;

  friend bool operator==(const COMMTIMEOUTS&, const COMMTIMEOUTS&) = default;
};
inline constexpr DWORD MAXDWORD = 0xFFFFFFFFu;

struct COMSTAT {
  DWORD Flags = 0;
  DWORD cbInQue = 0;
  DWORD cbOutQue = 0;
};

// Room for the system's own overlapped block (Internal, InternalHigh,
// Offset, OffsetHigh, hEvent: 32 bytes on 64-bit Windows).
inline constexpr std::size_t kSystemOverlappedSize = 32;

struct OVERLAPPED {
  std::uintptr_t Internal = 0;      // completion status (a system error number)
  std::uintptr_t InternalHigh = 0;  // bytes transferred
  DWORD Offset = 0;
  DWORD OffsetHigh = 0;
  platform::EventHandle hEvent;
  // Reserved for a backend that hands the operation to the system itself
  // (the Windows serial device): the system's block lives here, owned by
  // this block, while the system runs the operation; its event is hEvent's
  // system object. Zero otherwise. Internal and InternalHigh above then
  // hold the result once it has been taken.
  alignas(std::uintptr_t) std::array<std::byte, kSystemOverlappedSize> System{};
};

// What a device tells its owner that is no result of a call: something
// that happened on the line on its own. OutputLost: `bytes` bytes written to
// the device were dropped because the far end took nothing (a virtual port
// whose client stopped reading), counted over one such stall and told once,
// when the far end reads again or goes away.
// Text: a line the device's user may want to see in a log, worded by the
// line itself (a refused network client, the settings a client asked for).
struct DeviceNotice {
  enum class Kind { OutputLost, Text };
  Kind kind = Kind::OutputLost;
  std::uint64_t bytes = 0;  // OutputLost
  std::string text;         // Text
};
using NoticeHandler = std::function<void(const DeviceNotice&)>;

// One open serial device. Obtained from CreateFileA; closing it is CloseHandle.
class SerialDevice {
 public:
  SerialDevice() = default;
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;
  virtual ~SerialDevice() = default;

  virtual DeviceError SetupComm(DWORD inQueue, DWORD outQueue) = 0;
  virtual DeviceError SetCommState(const DCB& dcb) = 0;
  virtual DeviceError GetCommState(DCB& dcb) = 0;
  virtual DeviceError SetCommTimeouts(const COMMTIMEOUTS& timeouts) = 0;
  virtual DeviceError SetCommMask(DWORD mask) = 0;
  virtual DeviceError WaitCommEvent(DWORD* mask, OVERLAPPED* overlapped) = 0;
  virtual DeviceError ReadFile(void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped) = 0;
  virtual DeviceError WriteFile(const void* buffer, DWORD count, DWORD* written,
                                OVERLAPPED* overlapped) = 0;
  // bWait false: ERROR_IO_INCOMPLETE (996) while the operation still runs.
  virtual DeviceError GetOverlappedResult(OVERLAPPED* overlapped, DWORD* transferred,
                                          bool wait) = 0;
  virtual DeviceError PurgeComm(DWORD flags) = 0;
  virtual DeviceError ClearCommError(DWORD* errors, COMSTAT* stat) = 0;
  virtual DeviceError GetCommModemStatus(DWORD* status) = 0;
  // Releases the device; on failure the device stays open.
  virtual DeviceError CloseHandle() = 0;

  // The path a client opens to reach the far end of a virtual port; empty
  // for every other kind of device.
  virtual std::string ClientPath() const { return {}; }

  // Subscribes to the device's notices; an empty handler unsubscribes. The
  // handler runs on one of the device's own threads (hand the notice on to
  // the thread that acts on it), never after CloseHandle succeeded or after
  // it was replaced, and must not call the device. Devices that have no
  // notices ignore it.
  virtual void SetNoticeHandler(NoticeHandler /*handler*/) {}

  // Line timing: bytes move at the rate and framing of the last
  // SetCommState, both ways, as on a UART, so that writes take their time
  // (and end short under their total timeout) and input arrives byte by
  // byte. Off when the device opens. A device whose line keeps the rate
  // itself (a real serial port) succeeds and changes nothing.
  virtual DeviceError SetLineTiming(bool /*on*/) { return ERROR_SUCCESS; }

  // Drops the client of a line that has one (a virtual or network port) as a
  // pulled cable would: the client sees its line hang up, the device goes on
  // and the next client attaches as usual. ERROR_NOT_SUPPORTED on other
  // devices. A virtual port comes back on a new client path (ClientPath).
  virtual DeviceError DropClient() { return ERROR_NOT_SUPPORTED; }
};

inline constexpr DWORD ERROR_IO_INCOMPLETE = 996;

// The result of an operation that has ended on a device closed since, as
// its block keeps it: what GetOverlappedResult without waiting gave then.
DeviceError EndedOperationResult(const OVERLAPPED& overlapped, DWORD* transferred);

// Opens the device named by `path` ("\\.\" followed by the port name) for
// exclusive overlapped use. Which port names exist is the platform's (see
// detail/device_openers.h): on POSIX COMn (/dev/ttyS{n-1}), a path that
// begins with '/', "virtual" (a new pseudo-terminal pair), "loop" (an
// in-memory loopback), "tcp:[HOST:]PORT" or "rfc2217:[HOST:]PORT" (a
// listening socket, see network_port_name.h), or a name registered by a
// test's memory line; on Windows COM1..COM255 (the system's \\.\COMn), a
// device name that begins with "\\.\", "loop" and the memory lines.
DeviceError CreateFileA(const std::string& path, std::unique_ptr<SerialDevice>& device);

// The device a port name stands for, as a user would look for it:
// "/dev/ttyS0" for COM1 ("\\.\COM1" on Windows), the path itself for a
// path, the name otherwise.
std::string DevicePathOf(const std::string& portName);

}  // namespace cport::device
