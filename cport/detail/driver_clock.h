// Time for the serial driver's read and write timeouts.
//
// A driver built without a clock measures real time and runs its own timer
// thread. A driver given a ManualClock never looks at real time: time stands
// still until a test calls Advance, and Advance expires every deadline that
// has become due in every driver on that clock before it returns, so a test
// proves a timeout without sleeping and without waiting for another thread.
//
// All functions may be called from any thread. A listener must detach before
// it is destroyed; Advance never runs concurrently with a detached listener.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

namespace cport::detail {

using DriverTime = std::chrono::steady_clock::time_point;

// Told when a manual clock moves on.
class ClockListener {
 public:
  virtual void OnClockAdvanced() = 0;

 protected:
  ~ClockListener() = default;
};

class ManualClock {
 public:
  ManualClock() = default;
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  DriverTime Now() const;
  // Moves time forward and lets every attached listener act on it.
  void Advance(std::chrono::milliseconds step);

  void Attach(ClockListener* listener);
  void Detach(ClockListener* listener);

 private:
  std::atomic<std::chrono::steady_clock::duration::rep> ticks_{0};
  std::mutex mutex_;  // guards listeners_; held while they run
  std::vector<ClockListener*> listeners_;
};

}  // namespace cport::detail
