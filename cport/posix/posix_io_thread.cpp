#include "cport/posix/posix_io_thread.h"

#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace cport::detail {

namespace {

constexpr std::size_t kChunk = 4096;
// Reads per wake-up before output gets its turn again.
constexpr int kReadsPerWake = 16;

}  // namespace

PosixIoThread::PosixIoThread(int fd, SerialDriver& driver, Options options)
    : fd_(fd),
      driver_(driver),
      options_(std::move(options)),
      wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!options_.stats) options_.stats = std::make_shared<IoStats>();
  if (!options_.hooks) options_.hooks = &noHooks_;
}

PosixIoThread::~PosixIoThread() {
  Stop();
}

void PosixIoThread::Start() {
  stop_ = false;
  decoder_.Reset();
  hungUp_ = false;
  endSeen_ = false;
  waitingForRoom_ = false;
  if (options_.watchErrorCounters) haveCounters_ = ReadCounters(counters_);
  thread_ = std::thread([this] { Run(); });
}

void PosixIoThread::Wake() {
  const std::uint64_t one = 1;
  // A full counter still wakes the thread, so a failed write loses nothing.
  [[maybe_unused]] const ssize_t written = ::write(wake_.Get(), &one, sizeof one);
}

void PosixIoThread::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  Wake();
  thread_.join();
}

void PosixIoThread::SetParityMarks(bool on) {
  parityMarks_ = on;
  Wake();
}

void PosixIoThread::Run() {
  while (!stop_) {
    // A full input queue leaves the bytes in the tty, whose buffer then holds
    // the sender back; the driver wakes us when a read makes room.
    const bool roomForInput = !hungUp_ && driver_.ReceiveRoom() > 0;
    const bool askRoom = waitingForRoom_ || options_.hooks->WatchForRoom();
    const auto lineEvents =
        static_cast<short>((roomForInput ? POLLIN : 0) | (askRoom ? POLLOUT : 0));
    std::array<pollfd, 3> fds{};
    nfds_t count = 0;
    fds[count++] = {wake_.Get(), POLLIN, 0};
    const nfds_t lineIndex = count;
    // A hang-up is reported whatever is asked for: once seen while the input
    // is held back, the line is left alone until there is room to read the rest.
    if (!hungUp_ && (lineEvents != 0 || !endSeen_)) fds[count++] = {fd_, lineEvents, 0};
    const nfds_t sideIndex = count;
    const int sideFd = options_.hooks->SideFd();
    if (sideFd >= 0) fds[count++] = {sideFd, POLLIN, 0};

    // A line may wait for room only so long (LineHooks::NoRoomLimitMs).
    const int limit = waitingForRoom_ ? options_.hooks->NoRoomLimitMs() : -1;
    const int ready = ::poll(fds.data(), count, limit);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;  // cannot happen with valid descriptors; never spin
    }
    ++options_.stats->wakeups;
    // Output waits only after a wake-up (the driver queued some), room on the
    // line, or the end of a limited wait for room; a read alone leaves
    // nothing to send.
    bool drain = fds[0].revents != 0;
    if (ready == 0 && limit >= 0) {
      options_.hooks->OnNoRoomFor();
      waitingForRoom_ = false;
      drain = true;
    }
    if (fds[0].revents != 0) {
      std::uint64_t value = 0;
      [[maybe_unused]] const ssize_t got = ::read(wake_.Get(), &value, sizeof value);
    }
    if (stop_) return;
    if (decoding_ != parityMarks_) {
      decoding_ = parityMarks_;
      decoder_.Reset();
    }
    // The side descriptor first: what it reports may have happened before
    // the line's bytes were sent (see LineHooks::SideFd).
    if (sideFd >= 0 && fds[sideIndex].revents != 0) {
      options_.hooks->OnSideReadable();
      drain = true;
    }
    if (lineIndex < sideIndex) {
      ServeLine(fds[lineIndex].revents, roomForInput);
      drain = drain || (fds[lineIndex].revents & POLLOUT) != 0;
    }
    if (drain && !hungUp_ && !waitingForRoom_) Drain();
  }
}

void PosixIoThread::ServeLine(short revents, bool roomForInput) {
  if ((revents & POLLNVAL) != 0) {
    LostLine();
    return;
  }
  const bool ended = (revents & (POLLHUP | POLLERR)) != 0;
  if (roomForInput && (ended || (revents & POLLIN) != 0)) {
    // A hang-up or error that leaves nothing to read would be reported
    // again at once by every poll: take it as the end of the line.
    if (!ReadAvailable() && !hungUp_ && ended) LostLine();
  } else if (ended) {
    endSeen_ = true;
  }
  if ((revents & POLLOUT) != 0) {
    waitingForRoom_ = false;
    options_.hooks->OnRoom();
  }
}

// False when nothing was read and the line did not end. Reads no more than
// the input queue has room for.
bool PosixIoThread::ReadAvailable() {
  std::array<BYTE, kChunk> buffer;
  bool gotSomething = false;
  for (int i = 0; i < kReadsPerWake; ++i) {
    const std::size_t room = driver_.ReceiveRoom();
    if (room == 0) return true;  // the rest waits in the tty
    const ssize_t got = ::read(fd_, buffer.data(), std::min(room, buffer.size()));
    if (got > 0) {
      // Output goes out from the writer's thread too, so what the side
      // descriptor reports since the last poll may precede these bytes.
      ServeSideIfReady();
      Counters delta;
      if (haveCounters_) {
        Counters now;
        if (ReadCounters(now)) {
          delta = {now.frame - counters_.frame, now.parity - counters_.parity,
                   now.overrun - counters_.overrun, now.bufOverrun - counters_.bufOverrun,
                   now.brk - counters_.brk};
          counters_ = now;
        }
      }
      Deliver({buffer.data(), static_cast<std::size_t>(got)}, delta);
      gotSomething = true;
      // A short read emptied the tty: asking again would only cost a call
      // that finds nothing.
      if (static_cast<std::size_t>(got) < std::min(room, buffer.size())) return true;
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return gotSomething;
    LostLine();  // a read of 0 or EIO: the other end hung up
    return true;
  }
  return gotSomething;
}

void PosixIoThread::Deliver(std::span<const BYTE> bytes, const Counters& delta) {
  DWORD errors = 0;
  if (delta.overrun > 0) errors |= device::CE_OVERRUN;
  if (delta.bufOverrun > 0) errors |= device::CE_RXOVER;
  if (decoding_) {
    if (resetDecoder_.exchange(false)) decoder_.Reset();
    // A mark cannot tell parity from framing; the counters can.
    faultBits_ = 0;
    if (delta.frame > 0) faultBits_ |= device::CE_FRAME;
    if (delta.parity > 0 || faultBits_ == 0) faultBits_ |= device::CE_RXPARITY;
    decoder_.Decode(bytes, *this);
  } else {
    // Without marks the bad bytes arrive as they are; the counters still
    // tell what happened (a break reads as a 0 byte).
    driver_.Receive(bytes);
    if (delta.frame > 0) errors |= device::CE_FRAME;
    if (delta.parity > 0) errors |= device::CE_RXPARITY;
    for (int i = 0; i < delta.brk; ++i)
      driver_.Break();
  }
  if (errors != 0) driver_.LineError(errors);
}

void PosixIoThread::OnData(std::span<const std::uint8_t> bytes) {
  driver_.Receive(bytes);
}
void PosixIoThread::OnFaultyByte(std::uint8_t byte) {
  driver_.ReceiveFaulty(byte, faultBits_);
}
void PosixIoThread::OnBreak() {
  driver_.Break();
}

void PosixIoThread::Drain() {
  std::array<BYTE, kChunk> buffer;
  while (true) {
    const std::size_t queued = driver_.PeekOutput(buffer);
    if (queued == 0) return;
    const ssize_t written = ::write(fd_, buffer.data(), queued);
    if (written > 0) {
      options_.hooks->OnOutputTaken();
      driver_.ConsumeOutput(static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) {
      if (options_.hooks->DropUnsent(queued)) {
        driver_.ConsumeOutput(queued);
        continue;
      }
      waitingForRoom_ = true;
      return;
    }
    LostLine();
    return;
  }
}

void PosixIoThread::ServeSideIfReady() {
  const int sideFd = options_.hooks->SideFd();
  if (sideFd < 0) return;
  pollfd side{sideFd, POLLIN, 0};
  if (::poll(&side, 1, 0) == 1) options_.hooks->OnSideReadable();
}

std::size_t PosixIoThread::WriteNow(std::span<const BYTE> bytes) {
  while (true) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written > 0) return static_cast<std::size_t>(written);
    if (written < 0 && errno == EINTR) continue;
    return 0;  // full, or failed: the drain finds out which
  }
}

void PosixIoThread::LostLine() {
  hungUp_ = true;
  waitingForRoom_ = false;
  driver_.HangUp();
}

bool PosixIoThread::ReadCounters(Counters& counters) const {
  serial_icounter_struct icount{};
  if (::ioctl(fd_, TIOCGICOUNT, &icount) != 0) return false;
  counters = {icount.frame, icount.parity, icount.overrun, icount.buf_overrun, icount.brk};
  return true;
}

}  // namespace cport::detail
