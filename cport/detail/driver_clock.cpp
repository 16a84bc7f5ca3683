#include "cport/detail/driver_clock.h"

#include <algorithm>

namespace cport::detail {

DriverTime ManualClock::Now() const {
  return DriverTime(std::chrono::steady_clock::duration(ticks_.load()));
}

void ManualClock::Advance(std::chrono::milliseconds step) {
  std::lock_guard lock(mutex_);
  ticks_.fetch_add(std::chrono::duration_cast<std::chrono::steady_clock::duration>(step).count());
  for (ClockListener* listener : listeners_)
    listener->OnClockAdvanced();
}

void ManualClock::Attach(ClockListener* listener) {
  std::lock_guard lock(mutex_);
  listeners_.push_back(listener);
}

void ManualClock::Detach(ClockListener* listener) {
  std::lock_guard lock(mutex_);
  std::erase(listeners_, listener);
}

}  // namespace cport::detail
