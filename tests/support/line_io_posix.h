// Writing to and reading from a descriptor (a pseudo-terminal side, a
// pipe, a port's client end) the way a test does: every byte written, reads
// that wait in poll() for a text or a byte count, bounded by a generous
// deadline so a fault fails the test instead of hanging it.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace test_support {

using Clock = std::chrono::steady_clock;
inline constexpr auto kPatience = std::chrono::seconds(20);
inline constexpr std::size_t kReadChunk = 4096;

inline Clock::time_point PatienceDeadline() {
  return Clock::now() + kPatience;
}

inline int MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until `fd` is ready for `events` (or hung up); false at the deadline.
inline bool WaitReady(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int ready = ::poll(&p, 1, MillisecondsLeft(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

// Writes all of `bytes`, waiting while the descriptor is full; false when
// it fails or the deadline passes first.
inline bool WriteAll(int fd, std::string_view bytes,
                     Clock::time_point deadline = PatienceDeadline()) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitReady(fd, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

// One read of what `fd` holds, appended to `buffer`, after waiting for it;
// false at the end of the stream, on an error or at the deadline.
inline bool ReadSome(int fd, std::string& buffer, std::size_t most, Clock::time_point deadline) {
  for (;;) {
    if (!WaitReady(fd, POLLIN, deadline)) return false;
    char chunk[kReadChunk];
    const ssize_t n = ::read(fd, chunk, most < kReadChunk ? most : kReadChunk);
    if (n > 0) {
      buffer.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
    if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) return false;
  }
}

// Reads into `buffer` until it holds `text`; takes the bytes up to and
// including it out of `buffer` and returns them. Nothing when the stream
// ends or the deadline passes first (what came stays in `buffer`).
inline std::optional<std::string> ReadUntil(int fd, std::string& buffer, std::string_view text,
                                            Clock::time_point deadline = PatienceDeadline()) {
  for (std::size_t from = 0;;) {
    if (const auto at = buffer.find(text, from); at != std::string::npos) {
      std::string taken = buffer.substr(0, at + text.size());
      buffer.erase(0, at + text.size());
      return taken;
    }
    // The text may begin in what is there already: search again from there.
    from = buffer.size() >= text.size() ? buffer.size() - text.size() + 1 : 0;
    if (!ReadSome(fd, buffer, kReadChunk, deadline)) return std::nullopt;
  }
}

// Reads until `count` bytes came; fewer when the stream ends or the
// deadline passes first.
inline std::string ReadCount(int fd, std::size_t count,
                             Clock::time_point deadline = PatienceDeadline()) {
  std::string got;
  while (got.size() < count && ReadSome(fd, got, count - got.size(), deadline)) {
  }
  return got;
}

// What `fd` holds right now, without waiting.
inline std::string ReadAvailable(int fd) {
  std::string got;
  while (ReadSome(fd, got, kReadChunk, Clock::now())) {
  }
  return got;
}

}  // namespace test_support
