#include "platform/message_pump.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace platform {

struct HeadlessPump::Sleeper {
  void Wake();
  void SleepOnPipe(Deadline deadline);
  void SleepOnCondition(Deadline deadline);

  std::atomic<bool> pending{false};
  std::atomic<bool> sleeping{false};
  int readEnd = -1;
  int writeEnd = -1;
  std::mutex mutex;  // the fallback only
  std::condition_variable woken;
};

HeadlessPump::HeadlessPump() : sleeper_(std::make_unique<Sleeper>()) {
  std::array<int, 2> ends{};
  if (::pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK) == 0) {
    sleeper_->readEnd = ends[0];
    sleeper_->writeEnd = ends[1];
  }
}

HeadlessPump::HeadlessPump(WithoutPipe) : sleeper_(std::make_unique<Sleeper>()) {}

HeadlessPump::~HeadlessPump() {
  if (sleeper_->readEnd >= 0) ::close(sleeper_->readEnd);
  if (sleeper_->writeEnd >= 0) ::close(sleeper_->writeEnd);
}

void HeadlessPump::Wake() {
  sleeper_->Wake();
}

// The flag is raised before `sleeping` is read, and the sleeper announces
// itself before it reads the flag again (both sequentially consistent), so
// either the sleeper sees the flag or the waker sees the sleeper.
void HeadlessPump::Sleeper::Wake() {
  pending.store(true);
  if (!sleeping.load()) return;
  if (writeEnd >= 0) {
    const char byte = 1;
    // A full pipe already wakes the sleeper.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
  } else {
    { std::lock_guard lock(mutex); }  // the sleeper is waiting, or sees the flag
    woken.notify_one();
  }
}

bool HeadlessPump::WaitForWork(Deadline deadline, bool /*handleInput*/) {
  Sleeper& sleeper = *sleeper_;
  if (sleeper.pending.exchange(false)) return false;
  if (sleeper.readEnd >= 0) {
    sleeper.SleepOnPipe(deadline);
  } else {
    sleeper.SleepOnCondition(deadline);
  }
  sleeper.pending.store(false);
  return false;
}

// Our own events wake the pump themselves.
std::uint32_t HeadlessPump::WaitForWorkOrEvents(std::span<const EventHandle> events, bool waitAll,
                                                Deadline deadline, bool handleInput) {
  return MessagePump::WaitForWorkOrEvents(events, waitAll, deadline, handleInput);
}

void HeadlessPump::Sleeper::SleepOnPipe(Deadline deadline) {
  sleeping.store(true);
  if (!pending.load()) {
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          *deadline - std::chrono::steady_clock::now());
      timeout = static_cast<int>(
          std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 1000 * 60 * 60));
    }
    pollfd wake{readEnd, POLLIN, 0};
    // EINTR or a time-out: the caller checks its condition again.
    ::poll(&wake, 1, timeout);
  }
  sleeping.store(false);
  // A read shorter than the buffer has emptied the pipe: no second call to
  // find that out.
  std::array<char, 64> drained;
  while (::read(readEnd, drained.data(), drained.size()) == static_cast<ssize_t>(drained.size())) {
  }
}

void HeadlessPump::Sleeper::SleepOnCondition(Deadline deadline) {
  std::unique_lock lock(mutex);
  sleeping.store(true);
  const auto isWoken = [this] { return pending.load(); };
  if (deadline) {
    woken.wait_until(lock, *deadline, isWoken);
  } else {
    woken.wait(lock, isWoken);
  }
  sleeping.store(false);
}

}  // namespace platform
