// The time bytes take on a UART line, one direction at a time.
//
// A character is a start bit, the data bits, a parity bit when parity is on,
// and the stop bits, at the DCB's rate: 9600 baud 8N1 moves 960 bytes a
// second. A LinePacer holds a count of bytes on the line in order: bytes
// added while the line is idle start at once, bytes added while it sends
// follow the ones before them, and each is done when its last stop bit has
// left. Arithmetic is exact (no drift over a long run).
//
// Pure code, no clock of its own and no locking: the serial driver calls it
// under its lock with the time from its clock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "cport/detail/driver_clock.h"
#include "cport/serial_device.h"

namespace cport::detail {

// One character with the framing and rate of `dcb`.
struct CharacterTime {
  std::uint64_t halfBits = 20;  // frame length in half bits (1.5 stop bits is 3)
  std::uint64_t baud = 9600;

  std::chrono::nanoseconds Of(std::uint64_t characters) const;   // rounded up
  std::uint64_t DoneIn(std::chrono::nanoseconds elapsed) const;  // whole characters
};
CharacterTime CharacterTimeOf(const device::DCB& dcb);

class LinePacer {
 public:
  // The real-time timer is woken at most once this often while bytes move.
  static constexpr std::chrono::milliseconds kShortestStep{1};

  // The line carries bytes at `time` from `now` on; bytes on it keep their
  // place and go on at the new rate.
  void SetCharacterTime(CharacterTime time, DriverTime now);
  // `count` more bytes go onto the line after those on it.
  void Add(std::size_t count, DriverTime now);
  // Takes up to `most` bytes that are done by `now`, oldest first. Done
  // bytes that `most` holds back stop the line (as flow control would): the
  // next call hands them out first, and the bytes after them start then.
  // `now` may be earlier than that of an earlier call: nothing more is done.
  std::size_t TakeDone(DriverTime now, std::size_t most = SIZE_MAX);
  // Forgets `count` bytes not yet done (a write that ended before them).
  void Drop(std::size_t count);
  void Clear() { Drop(onLine_); }

  std::size_t OnLine() const { return onLine_; }
  // When the next byte is done (not before kShortestStep after the last
  // take); none while the line is idle or stopped behind held bytes.
  std::optional<DriverTime> NextDone() const;

 private:
  void Restart(DriverTime now);

  CharacterTime time_;
  DriverTime runStart_{};        // the first byte of this run started here
  std::uint64_t doneInRun_ = 0;  // bytes of this run taken so far
  std::size_t onLine_ = 0;       // bytes added and not yet taken
  std::size_t held_ = 0;         // of those, done but held back by `most`
  DriverTime notBefore_{};
};

}  // namespace cport::detail
