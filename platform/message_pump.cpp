#include "platform/message_pump.h"

namespace platform {

// Notified after the mutex is released, so the woken thread does not wake
// only to block on it.
void HeadlessPump::Wake() {
  {
    std::lock_guard lock(mutex_);
    pending_ = true;
  }
  woken_.notify_one();
}

bool HeadlessPump::WaitForWork(Deadline deadline, bool /*handleInput*/) {
  std::unique_lock lock(mutex_);
  if (deadline) {
    woken_.wait_until(lock, *deadline, [this] { return pending_; });
  } else {
    woken_.wait(lock, [this] { return pending_; });
  }
  pending_ = false;
  return false;
}

}  // namespace platform
