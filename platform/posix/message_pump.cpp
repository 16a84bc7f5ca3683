#include "platform/message_pump.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace platform {

HeadlessPump::HeadlessPump() {
  std::array<int, 2> ends{};
  if (::pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK) == 0) {
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
  }
}

HeadlessPump::~HeadlessPump() {
  if (readEnd_ >= 0) ::close(readEnd_);
  if (writeEnd_ >= 0) ::close(writeEnd_);
}

// The flag is raised before `sleeping_` is read, and the sleeper announces
// itself before it reads the flag again (both sequentially consistent), so
// either the sleeper sees the flag or the waker sees the sleeper.
void HeadlessPump::Wake() {
  pending_.store(true);
  if (!sleeping_.load()) return;
  if (writeEnd_ >= 0) {
    const char byte = 1;
    // A full pipe already wakes the sleeper.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd_, &byte, 1);
  } else {
    { std::lock_guard lock(mutex_); }  // the sleeper is waiting, or sees the flag
    woken_.notify_one();
  }
}

bool HeadlessPump::WaitForWork(Deadline deadline, bool /*handleInput*/) {
  if (pending_.exchange(false)) return false;
  if (readEnd_ >= 0) {
    SleepOnPipe(deadline);
  } else {
    SleepOnCondition(deadline);
  }
  pending_.store(false);
  return false;
}

void HeadlessPump::SleepOnPipe(Deadline deadline) {
  sleeping_.store(true);
  if (!pending_.load()) {
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          *deadline - std::chrono::steady_clock::now());
      timeout = static_cast<int>(
          std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 1000 * 60 * 60));
    }
    pollfd wake{readEnd_, POLLIN, 0};
    // EINTR or a time-out: the caller checks its condition again.
    ::poll(&wake, 1, timeout);
  }
  sleeping_.store(false);
  // A read shorter than the buffer has emptied the pipe: no second call to
  // find that out.
  std::array<char, 64> drained;
  while (::read(readEnd_, drained.data(), drained.size()) == static_cast<ssize_t>(drained.size())) {
  }
}

void HeadlessPump::SleepOnCondition(Deadline deadline) {
  std::unique_lock lock(mutex_);
  sleeping_.store(true);
  const auto woken = [this] { return pending_.load(); };
  if (deadline) {
    woken_.wait_until(lock, *deadline, woken);
  } else {
    woken_.wait(lock, woken);
  }
  sleeping_.store(false);
}

}  // namespace platform
