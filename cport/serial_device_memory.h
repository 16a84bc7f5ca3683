// The memory line: a scriptable far end of a serial line, for tests.
//
// A MemoryLine registers a port name for its lifetime; CreateFileA("\\.\" +
// name) then opens a device on it (names of memory lines take precedence over
// every other kind of port). The device behaves like any other: the shared
// serial driver serves the queues, timeouts and events. The test plays the far
// end: it injects received bytes, line errors, breaks and modem-line levels,
// takes what the device wrote (or holds it back, or makes writes complete
// short), hangs the line up, makes any device call fail with a chosen system
// error, and reads the log of every call with its arguments.
//
// One device at a time: a second CreateFileA while a device is open on the
// line fails with ERROR_ACCESS_DENIED. Everything injected while no device is
// open is lost, as on a wire nobody listens to; modem levels are kept and
// seen by the next device. All members may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cport/detail/driver_clock.h"
#include "cport/serial_device.h"

namespace cport::device {

// One call made on a memory device, as it returned.
struct DeviceCall {
  std::string name{};                      // "CreateFileA", "SetupComm", "CloseHandle", ...
  std::vector<std::uint64_t> args{};       // the numeric arguments, in order
  std::optional<DCB> dcb{};                // SetCommState
  std::optional<COMMTIMEOUTS> timeouts{};  // SetCommTimeouts (also in args)
  std::string path{};                      // CreateFileA
  std::string data{};                      // WriteFile: the bytes handed to the device
  DWORD result = ERROR_SUCCESS;

  // "SetupComm(1024, 1024)", "SetCommTimeouts(4294967295, 0, 0, 100, 1000)",
  // "SetCommState(BaudRate=9600, Flags=0x00000001, ...)", "CreateFileA(\\.\name)".
  std::string ToString() const;
};

class MemoryLine {
 public:
  // Arguments logged per call: SetupComm(in, out), SetCommTimeouts(the five
  // values), SetCommMask(mask), ReadFile(count), WriteFile(count),
  // GetOverlappedResult(wait), PurgeComm(flags); the others none.
  //
  // `clock`: null for real time; a manual clock makes every timeout wait for
  // the test's ManualClock::Advance. Throws std::logic_error when `name` is
  // already registered.
  explicit MemoryLine(std::string name, std::shared_ptr<detail::ManualClock> clock = nullptr);
  ~MemoryLine();
  MemoryLine(const MemoryLine&) = delete;
  MemoryLine& operator=(const MemoryLine&) = delete;

  const std::string& Name() const;
  // "\\.\" + Name(): what CreateFileA takes.
  std::string Path() const;
  bool IsOpen() const;

  // --- Received side (false when no device is open) ---
  bool Inject(std::string_view bytes);
  // One byte with CE_RXPARITY and/or CE_FRAME.
  bool InjectFaulty(BYTE byte, DWORD errors);
  // CE_OVERRUN, CE_FRAME, CE_RXPARITY, ... without a byte.
  bool InjectLineError(DWORD errors);
  bool InjectBreak();
  // MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON; changes raise events.
  void SetModemLines(DWORD status);

  // --- Transmit side ---
  // Held: the far end takes nothing, bytes stay in the device's output queue
  // and writes that do not fit wait (and time out). Releasing takes them all.
  void HoldWrites(bool hold);
  // Every WriteFile from now on passes at most `limit` bytes to the device and
  // so completes with that shorter count; nullopt lifts the limit.
  void LimitWrites(std::optional<DWORD> limit);
  // Everything the far end has taken so far.
  std::string Written() const;
  std::string TakeWritten();
  // Waits (up to `timeout`) until at least `count` bytes have been taken.
  bool WaitForWritten(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // Bytes waiting in the open device's output queue.
  std::size_t OutputQueued() const;

  // --- The line itself ---
  // Unplugs: pending read, write and event wait end once with
  // ERROR_DEVICE_NOT_CONNECTED; nothing spins afterwards.
  void HangUp();
  void Reconnect();

  // --- Failures ---
  // The next call named `call` ("CreateFileA", "ReadFile", "CloseHandle", ...)
  // fails with `error` without reaching the device.
  void FailNext(std::string_view call, DeviceError error);
  // Every call named `call` fails with `error` until ClearFailures.
  void FailAlways(std::string_view call, DeviceError error);
  void ClearFailures();

  // --- Observation ---
  std::vector<DeviceCall> Calls() const;
  // Calls().name for each call, optionally leaving out the given names (the
  // event thread's waits, say).
  std::vector<std::string> CallNames(const std::vector<std::string>& except = {}) const;
  void ClearCalls();
  // Waits (up to `timeout`) until `count` calls named `call` have been logged
  // since the last ClearCalls.
  bool WaitForCall(std::string_view call, std::size_t count = 1,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // The DCB of the last successful SetCommState (the default DCB before).
  DCB State() const;

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace cport::device
