// The serial driver: what a Windows serial driver does between the device
// calls and the line, shared by every backend.
//
// SerialDriver is a complete device::SerialDevice. It keeps the input queue
// (sized by SetupComm; bytes that do not fit are dropped and set CE_RXOVER),
// the output queue (a write completes at once when its bytes fit, otherwise it
// pends until there is room or its total timeout runs out, and then completes
// with the shorter count), serves reads under COMMTIMEOUTS, keeps the event
// mask and the one pending WaitCommEvent, the ClearCommError error word, the
// modem status, and completes transfers on purge, abort and close.
//
// A backend plugs in as the far side of the line:
//
//   * It implements Wire (below) and hands it to AttachWire once, before the
//     device is given to anyone. The driver owns the wire and calls it only
//     while holding none of its own locks, so a wire may call back into the
//     driver from any of its functions.
//   * Its own thread(s) push what the line delivers: Receive (bytes),
//     ReceiveFaulty (a byte with a parity or framing error), LineError
//     (overrun and other errors without a byte), Break, SetModemStatus (the
//     current MS_* levels; changes raise EV_CTS, EV_DSR, EV_RLSD, EV_RING).
//     DCB DiscardNull, the error character and the event character are
//     applied here, not in the backend. Call SetModemStatus once at open.
//   * Input is lossless when the backend asks ReceiveRoom before it reads the
//     line and reads no more than that: bytes it could not take stay in the
//     line (a tty's kernel buffer, which holds the sender back). After
//     ReceiveRoom found the queue full, the driver calls Wire::InputRoom once
//     a read, a purge or SetupComm has made room. Bytes pushed beyond the
//     room (a memory line's injection) are dropped and set CE_RXOVER.
//   * Output: a write that finds nothing queued first offers its bytes to
//     Wire::WriteNow, which a line that can take bytes without waiting uses
//     to send them from the writer's thread. What is left is queued; when the
//     queue was empty the driver calls Wire::OutputReady from the writer's
//     thread (a queue that holds bytes is being drained already, or waits
//     for the line to take more). The backend then drains:
//     PeekOutput copies queued bytes, ConsumeOutput removes the ones the line
//     took (which makes room for pending writes and raises EV_TXEMPTY when the
//     queue runs empty). Drain until PeekOutput returns 0 or the line is full;
//     a full line is retried when it can take bytes again (POLLOUT), never on
//     a timer.
//   * Hang-up: when the line is gone (POLLHUP, EIO, a read of 0), call HangUp
//     once and stop watching the descriptor. Every pending read, write and
//     event wait then ends with ERROR_DEVICE_NOT_CONNECTED; later reads find
//     what is still queued and then fail with it at once, writes fail with it
//     at once, and WaitCommEvent fails with it without signalling its event,
//     so an event thread that ignores the result sleeps instead of spinning.
//     Reconnect makes the line usable again (a memory line plugged back in).
//   * CloseHandle calls Wire::Close first; when that succeeds the backend has
//     stopped its threads and never calls the driver again, and the driver
//     completes everything still pending with ERROR_OPERATION_ABORTED. A
//     failed Wire::Close leaves the device open and untouched.
//
// Line timing (SetLineTiming, off at open): bytes move at the DCB's rate,
// as on a UART (see line_pacer.h). Output: a write's bytes go onto the line
// one after the other and reach the output queue, where the backend takes
// them, only once they have been sent; the write completes when its last
// byte has been sent, so a write longer than its total timeout ends short
// and its unsent bytes are not sent. Input: what the backend receives stays
// on the line for its time before it enters the input queue, so a burst
// arrives as a run of EV_RXCHAR. A line that keeps the rate itself (a real
// UART) is left alone; a loopback paces only its output, which is its input
// (Wire::Pacing). Nothing is timed while no byte is on the line.
//
// Timeouts: with no clock the driver runs one timer thread per device that
// sleeps on a condition variable until the nearest deadline (no periodic
// tick; it sleeps without a deadline while nothing is timed; with line
// timing it wakes as bytes are done, at most once a millisecond). With a
// ManualClock there is no timer thread: ManualClock::Advance expires due
// deadlines synchronously.
//
// Every function is safe to call from any thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "cport/detail/driver_clock.h"
#include "cport/detail/line_pacer.h"
#include "cport/serial_device.h"

namespace cport::detail {

using device::BYTE;
using device::DWORD;

// What line timing asks of the driver on a line (Wire::Pacing).
enum class LinePacing : std::uint8_t {
  kByTheLine,   // the line keeps the rate itself (a real UART): nothing to do
  kBothWays,    // the driver paces output and input
  kOutputOnly,  // the driver paces output; the input is that output (a loopback)
};

// The far side of the line, implemented by a backend.
class Wire {
 public:
  Wire() = default;
  Wire(const Wire&) = delete;
  Wire& operator=(const Wire&) = delete;
  virtual ~Wire() = default;

  // Puts the line into the state of `dcb` (rate, framing, flow control, DTR
  // and RTS). The driver has already refused what no serial line can do (see
  // ValidateDcb); return ERROR_INVALID_PARAMETER for what this line cannot.
  virtual device::DeviceError ApplyState(const device::DCB& dcb) = 0;
  // Bytes are waiting in the output queue: wake the thread that drains them.
  // May be called after Close; must then do nothing.
  virtual void OutputReady() = 0;
  // The input queue has room again after ReceiveRoom found it full: wake the
  // thread that reads the line. May be called after Close; must then do
  // nothing.
  virtual void InputRoom() {}
  // Sends what the line takes at once, without waiting, and returns that
  // count; 0 when it takes nothing now or fails (the bytes are queued, and
  // the thread that drains the queue meets the failure). The exception to
  // the rule above: called with the driver's lock held, and only while no
  // output is queued and no CloseHandle runs, so it must not call back into
  // the driver. A line without it sends everything through the queue.
  virtual std::size_t WriteNow(std::span<const BYTE> /*bytes*/) { return 0; }
  // PurgeComm's PURGE_TXCLEAR / PURGE_RXCLEAR bits: also drop what the line
  // itself still holds (tcflush). The driver's queues are already cleared.
  virtual device::DeviceError Purge(DWORD /*flags*/) { return device::ERROR_SUCCESS; }
  // Called by GetCommModemStatus before it reads the status: a line without
  // change notification may push its current levels here.
  virtual device::DeviceError RefreshModemStatus() { return device::ERROR_SUCCESS; }
  // Stops the backend's threads and releases the line; see the contract above.
  virtual device::DeviceError Close() = 0;
  // See device::SerialDevice::ClientPath.
  virtual std::string ClientPath() const { return {}; }
  // How this line moves bytes in time (see LinePacing).
  virtual LinePacing Pacing() const { return LinePacing::kBothWays; }
  // See device::SerialDevice::DropClient. Called from the caller's thread,
  // never concurrently with Close.
  virtual device::DeviceError DropClient() { return device::ERROR_NOT_SUPPORTED; }
};

// ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for a DCB no serial line accepts:
// rate 0, data bits outside 5..8, an unknown parity or stop-bit value, 1.5
// stop bits with other than 5 data bits, 2 stop bits with 5 data bits.
DWORD ValidateDcb(const device::DCB& dcb);

// The DCB a device starts with: 9600 baud, 8 data bits, no parity, one stop
// bit, binary mode, XON 17, XOFF 19.
device::DCB DefaultDcb();

class SerialDriver final : public device::SerialDevice, private ClockListener {
 public:
  // Queue sizes before SetupComm.
  static constexpr DWORD kDefaultQueueSize = 4096;

  // `clock` null: real time with a timer thread; otherwise time is the
  // manual clock's (see above).
  explicit SerialDriver(std::shared_ptr<ManualClock> clock = nullptr);
  ~SerialDriver() override;

  // Connects the backend. Call once, before the device is used.
  void AttachWire(std::unique_ptr<Wire> wire);

  // --- device::SerialDevice ---
  device::DeviceError SetupComm(DWORD inQueue, DWORD outQueue) override;
  device::DeviceError SetCommState(const device::DCB& dcb) override;
  device::DeviceError GetCommState(device::DCB& dcb) override;
  device::DeviceError SetCommTimeouts(const device::COMMTIMEOUTS& timeouts) override;
  device::DeviceError SetCommMask(DWORD mask) override;
  device::DeviceError WaitCommEvent(DWORD* mask, device::OVERLAPPED* overlapped) override;
  device::DeviceError ReadFile(void* buffer, DWORD count, DWORD* read,
                               device::OVERLAPPED* overlapped) override;
  device::DeviceError WriteFile(const void* buffer, DWORD count, DWORD* written,
                                device::OVERLAPPED* overlapped) override;
  device::DeviceError GetOverlappedResult(device::OVERLAPPED* overlapped, DWORD* transferred,
                                          bool wait) override;
  device::DeviceError PurgeComm(DWORD flags) override;
  device::DeviceError ClearCommError(DWORD* errors, device::COMSTAT* stat) override;
  device::DeviceError GetCommModemStatus(DWORD* status) override;
  device::DeviceError CloseHandle() override;
  std::string ClientPath() const override;
  void SetNoticeHandler(device::NoticeHandler handler) override;
  device::DeviceError SetLineTiming(bool on) override;
  device::DeviceError DropClient() override;

  // --- The far side, for the backend ---
  // How many bytes Receive takes now without dropping any. After it returned
  // 0, Wire::InputRoom is called once there is room.
  std::size_t ReceiveRoom();
  void Receive(std::span<const BYTE> bytes);
  // One byte that arrived with CE_RXPARITY and/or CE_FRAME.
  void ReceiveFaulty(BYTE byte, DWORD errors);
  // Line errors without a byte (CE_OVERRUN, CE_FRAME, CE_RXPARITY, ...).
  void LineError(DWORD errors);
  void Break();
  // The current MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON levels. A
  // change of CTS, DSR or RLSD raises its event; EV_RING when ring comes on.
  void SetModemStatus(DWORD status);
  // Copies up to dest.size() bytes from the head of the output queue.
  std::size_t PeekOutput(std::span<BYTE> dest) const;
  // Removes `count` bytes the line has taken from the head of the queue.
  void ConsumeOutput(std::size_t count);
  std::size_t OutputQueued() const;
  void HangUp();
  void Reconnect();
  // Hands a notice to the subscribed handler, if any (see
  // SerialDevice::SetNoticeHandler). Call without holding the driver's
  // locks, from the backend's own thread, and never after Wire::Close.
  void Notify(const device::DeviceNotice& notice);
  // The state the line was last set to.
  device::DCB State() const;
  // The earliest time the driver has something to do at (a timeout, a byte
  // done on a timed line); none while nothing is timed, when its timer
  // sleeps without a deadline.
  std::optional<DriverTime> NextDeadline() const;

 private:
  struct PendingRead {
    device::OVERLAPPED* overlapped;
    BYTE* buffer;
    DWORD count;
    DWORD done = 0;
    bool anyByteEnds = false;  // returns as soon as one byte arrived
    DWORD interval = 0;        // 0: no interval timeout
    std::optional<DriverTime> totalDeadline = std::nullopt;
    std::optional<DriverTime> intervalDeadline = std::nullopt;
  };
  struct PendingWrite {
    device::OVERLAPPED* overlapped;
    const BYTE* buffer;
    DWORD count;
    DWORD done = 0;  // bytes moved into the output queue
    std::optional<DriverTime> deadline = std::nullopt;
  };
  struct PendingWait {
    device::OVERLAPPED* overlapped;
    DWORD* mask;
  };
  using Lock = std::unique_lock<std::mutex>;

  DriverTime Now() const;
  void OnClockAdvanced() override;
  void TimerLoop();
  void Reschedule(std::optional<DriverTime> deadline);
  // True when sent bytes reached the output queue (the wire is owed OutputReady).
  bool ExpireDue(DriverTime now);
  void ExpireWrites(DriverTime now);
  std::optional<DriverTime> NearestDeadline() const;

  static void BeginOverlapped(device::OVERLAPPED* overlapped);
  void Complete(device::OVERLAPPED* overlapped, DWORD status, DWORD count);
  DWORD FinishStart(device::OVERLAPPED* overlapped, DWORD status, DWORD count, DWORD* out);
  DWORD AwaitSynchronous(Lock& lock, device::OVERLAPPED& local, DWORD* out);

  DWORD StartRead(BYTE* buffer, DWORD count, DWORD* read, device::OVERLAPPED* overlapped);
  DWORD StartWrite(const BYTE* buffer, DWORD count, DWORD* written, device::OVERLAPPED* overlapped,
                   bool& wake);
  DWORD WriteDirectly(const BYTE* buffer, DWORD count, DWORD* written,
                      device::OVERLAPPED* overlapped, DWORD& taken);
  bool RoomAppeared();
  bool ReadIsDone(const PendingRead& read) const;
  void ServeReads();
  bool FillOutputQueue();
  bool Transmit(DriverTime now);
  void Raise(DWORD events);
  void AcceptByte(BYTE byte, DWORD& events, DriverTime now);
  void AcceptLineByte(BYTE byte, DWORD errors, DWORD& events, DriverTime now);
  void ReceiveFromLine(std::size_t count, DriverTime now);
  void AbortReads(DWORD status);
  void AbortWrites(DWORD status);
  void EndEverything(DWORD status);

  std::shared_ptr<ManualClock> clock_;
  std::unique_ptr<Wire> wire_;

  // Held across a whole SetCommState, so that what the line runs with and
  // what GetCommState reports are set in one step. Taken before mutex_, and
  // never by the backend.
  std::mutex stateMutex_;
  std::mutex noticeMutex_;  // guards noticeHandler_; held while it runs
  device::NoticeHandler noticeHandler_;

  mutable std::mutex mutex_;
  std::condition_variable done_;   // an overlapped operation completed
  std::condition_variable timer_;  // the nearest deadline moved earlier
  std::optional<DriverTime> timerSleepsUntil_;
  bool timerSleeping_ = false;
  bool stopTimer_ = false;

  device::DCB dcb_ = DefaultDcb();
  device::COMMTIMEOUTS timeouts_{};
  DWORD inSize_ = kDefaultQueueSize;
  DWORD outSize_ = kDefaultQueueSize;
  std::deque<BYTE> input_;
  std::deque<BYTE> output_;
  std::deque<PendingRead> reads_;
  std::deque<PendingWrite> writes_;
  std::optional<PendingWait> wait_;
  DWORD mask_ = 0;
  DWORD history_ = 0;  // masked events since the last wait completed
  DWORD errors_ = 0;   // the ClearCommError error word
  DWORD modem_ = 0;
  bool inputBlocked_ = false;  // ReceiveRoom found no room; InputRoom is owed
  // Line timing. With paced output, PendingWrite::done counts bytes sent.
  bool paceOutput_ = false;
  bool paceInput_ = false;
  LinePacer txPacer_;
  LinePacer rxPacer_;
  struct LineByte {
    BYTE byte;
    DWORD errors;  // CE_RXPARITY, CE_FRAME of ReceiveFaulty
  };
  std::deque<LineByte> rxLine_;  // received, still on the line
  bool hungUp_ = false;
  bool closing_ = false;  // a CloseHandle is in progress
  bool closed_ = false;

  std::thread timerThread_;  // last: started once everything above exists
};

}  // namespace cport::detail
