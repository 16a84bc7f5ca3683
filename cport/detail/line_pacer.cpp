#include "cport/detail/line_pacer.h"

#include <algorithm>

namespace cport::detail {

namespace {

// Wide enough for hours of bytes at any rate a DCB can name.
__extension__ using Wide = unsigned __int128;

constexpr std::uint64_t kNanosPerSecond = 1'000'000'000;

}  // namespace

std::chrono::nanoseconds CharacterTime::Of(std::uint64_t characters) const {
  // characters * halfBits / (2 * baud) seconds, rounded up to a nanosecond.
  const Wide numerator = Wide{characters} * halfBits * kNanosPerSecond;
  const Wide denominator = Wide{2} * baud;
  return std::chrono::nanoseconds(
      static_cast<std::int64_t>((numerator + denominator - 1) / denominator));
}

std::uint64_t CharacterTime::DoneIn(std::chrono::nanoseconds elapsed) const {
  if (elapsed.count() <= 0) return 0;
  const Wide numerator = Wide{static_cast<std::uint64_t>(elapsed.count())} * 2 * baud;
  return static_cast<std::uint64_t>(numerator / (Wide{halfBits} * kNanosPerSecond));
}

CharacterTime CharacterTimeOf(const device::DCB& dcb) {
  // The Parity field frames the byte; fParity only turns checking on.
  const bool parity = dcb.Parity != device::NOPARITY;
  const std::uint64_t stopHalfBits = dcb.StopBits == device::ONE5STOPBITS  ? 3
                                     : dcb.StopBits == device::TWOSTOPBITS ? 4
                                                                           : 2;
  return {.halfBits = 2 * (1 + std::uint64_t{dcb.ByteSize} + (parity ? 1 : 0)) + stopHalfBits,
          .baud = std::max<std::uint64_t>(dcb.BaudRate, 1)};
}

void LinePacer::Restart(DriverTime now) {
  runStart_ = now;
  doneInRun_ = 0;
}

void LinePacer::SetCharacterTime(CharacterTime time, DriverTime now) {
  time_ = time;
  if (held_ == 0) Restart(now);
}

void LinePacer::Add(std::size_t count, DriverTime now) {
  if (count == 0) return;
  if (onLine_ == 0) Restart(now);
  onLine_ += count;
}

std::size_t LinePacer::TakeDone(DriverTime now, std::size_t most) {
  if (onLine_ == 0) return 0;
  // Bytes held back were done already; the line stood still behind them.
  // `now` may be earlier than a call before (a deadline already past).
  const std::uint64_t doneBy = time_.DoneIn(now - runStart_);
  const std::uint64_t done =
      held_ > 0 ? held_
                : std::min<std::uint64_t>(doneBy > doneInRun_ ? doneBy - doneInRun_ : 0, onLine_);
  const auto taken = static_cast<std::size_t>(std::min<std::uint64_t>(done, most));
  onLine_ -= taken;
  if (held_ > 0) {
    held_ -= taken;
    if (held_ == 0) Restart(now);  // the line goes on from now
  } else {
    doneInRun_ += taken;
    held_ = static_cast<std::size_t>(done - taken);
  }
  if (taken > 0) notBefore_ = now + kShortestStep;
  return taken;
}

void LinePacer::Drop(std::size_t count) {
  onLine_ -= std::min(count, onLine_);
  held_ = std::min(held_, onLine_);
}

std::optional<DriverTime> LinePacer::NextDone() const {
  if (onLine_ == 0 || held_ > 0) return std::nullopt;
  const DriverTime next =
      runStart_ + std::chrono::duration_cast<DriverTime::duration>(time_.Of(doneInRun_ + 1));
  return std::max(next, notBefore_);
}

}  // namespace cport::detail
