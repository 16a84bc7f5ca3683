// The I/O thread of a line backed by a tty descriptor (a real port, a
// pseudo-terminal slave, or the master of a virtual port).
//
// It sleeps in poll() on the descriptor and a wake-up eventfd, never on a
// timer. Received bytes go into the driver, through the PARMRK decoder while
// parity marks are on, never more than the driver's input queue has room
// for: while it is full the descriptor is not read (no POLLIN), so the bytes
// wait in the tty and its flow control holds the sender back, and nothing is
// lost; the owner calls Wake when the driver reports room (Wire::InputRoom).
// The driver's output queue is written out, with POLLOUT asked for only while
// output waits for room. What one kind of line adds (a side descriptor to
// watch, giving up on a far end that takes nothing) it says through its
// LineHooks; the thread itself knows no kind of line. Where the driver keeps error
// counters (TIOCGICOUNT), overruns, framing and parity errors and breaks are
// reported from them. On a hang-up (POLLHUP, a read of 0, EIO) it tells the
// driver once and stops watching the descriptor, so it cannot spin.
//
// Start, Wake, Stop and the setters may be called from any thread; Stop
// returns once the thread has ended and will never call the driver again.
// Start after Stop serves the line afresh (its descriptor now names a new
// line): what the thread knew of the old one is forgotten.
// WriteNow is for Wire::WriteNow, under the driver's lock (see there).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "cport/detail/parmrk_decoder.h"
#include "cport/detail/serial_driver.h"
#include "cport/posix/posix_fd.h"

namespace cport::detail {

// What an I/O thread has done; readable from any thread, also after Stop.
struct IoStats {
  std::atomic<std::uint64_t> wakeups{0};  // times poll() returned: few while the line is quiet
};

// What a kind of line adds to its I/O thread. Every function runs on the I/O
// thread; the defaults add nothing.
class LineHooks {
 public:
  LineHooks() = default;
  LineHooks(const LineHooks&) = delete;
  LineHooks& operator=(const LineHooks&) = delete;
  virtual ~LineHooks() = default;

  // A further descriptor to watch (-1: none). When it is readable,
  // OnSideReadable runs before any bytes read with it are delivered, so what
  // it reports is served in the order it happened.
  virtual int SideFd() const { return -1; }
  virtual void OnSideReadable() {}
  // While output waits for room on the line: how long to wait before
  // OnNoRoomFor is called (milliseconds; -1 waits as long as it takes).
  virtual int NoRoomLimitMs() const { return -1; }
  virtual void OnNoRoomFor() {}
  // Output found no room: true drops those `count` bytes instead of waiting.
  virtual bool DropUnsent(std::size_t /*count*/) { return false; }
  // The line took output bytes.
  virtual void OnOutputTaken() {}
  // True: watch the line for room even while no output waits, and call
  // OnRoom when there is some (the far end has read).
  virtual bool WatchForRoom() const { return false; }
  virtual void OnRoom() {}
};

class PosixIoThread final : private ParmrkSink {
 public:
  struct Options {
    // Ask the tty for its error counters after every read.
    bool watchErrorCounters = false;
    // The line's own additions; none when null. Must outlive the thread.
    LineHooks* hooks = nullptr;
    // Where to count; a private one when empty.
    std::shared_ptr<IoStats> stats;
  };

  PosixIoThread(int fd, SerialDriver& driver, Options options);
  ~PosixIoThread();

  void Start();
  // Output is waiting, or a setting changed: look again.
  void Wake();
  void Stop();
  // Writes what the descriptor takes without waiting; 0 when it takes
  // nothing or fails (the drain meets the failure and reports it).
  std::size_t WriteNow(std::span<const BYTE> bytes);

  // The tty delivers PARMRK marks (parity checking is on).
  void SetParityMarks(bool on);
  // Forget a half-received mark (after the input was purged).
  void ResetDecoder() { resetDecoder_ = true; }

  const IoStats& Stats() const { return *options_.stats; }

 private:
  struct Counters {
    int frame = 0, parity = 0, overrun = 0, bufOverrun = 0, brk = 0;
  };

  void Run();
  void ServeLine(short revents, bool roomForInput);
  bool ReadAvailable();
  void ServeSideIfReady();
  void Deliver(std::span<const BYTE> bytes, const Counters& delta);
  void Drain();
  void LostLine();
  bool ReadCounters(Counters& counters) const;

  void OnData(std::span<const std::uint8_t> bytes) override;
  void OnFaultyByte(std::uint8_t byte) override;
  void OnBreak() override;

  const int fd_;
  SerialDriver& driver_;
  LineHooks noHooks_;
  Options options_;
  UniqueFd wake_;
  std::thread thread_;

  std::atomic<bool> stop_{false};
  std::atomic<bool> parityMarks_{false};
  std::atomic<bool> resetDecoder_{false};

  // Owned by the I/O thread.
  ParmrkDecoder decoder_;
  bool decoding_ = false;
  DWORD faultBits_ = device::CE_RXPARITY;  // what a marked byte reports
  bool hungUp_ = false;
  bool endSeen_ = false;  // POLLHUP/POLLERR while the input was held back
  bool waitingForRoom_ = false;
  bool haveCounters_ = false;
  Counters counters_;
};

}  // namespace cport::detail
