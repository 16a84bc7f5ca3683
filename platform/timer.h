// A one-shot timer whose call runs in the user-interface thread.
//
// Start(ms, call) queues `call` for the application's UI thread once `ms`
// milliseconds have passed on the tick count (so a FakeTickClock drives it
// in tests); a new Start replaces the one before. Its own thread sleeps in
// a wait with that time-out and wakes only when the time is up or the timer
// is started, cancelled or destroyed: an idle timer makes no wake-ups.
//
// Start and Cancel may be called from any thread. Called in the UI thread,
// Cancel (and Start, and the destructor) also stops a call that was already
// queued but has not run yet. The call's exceptions go to the application's
// exception handling, like those of any queued call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace platform {

class Application;

class Timer {
 public:
  // `application` must outlive the timer.
  explicit Timer(Application& application);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void Start(std::uint32_t milliseconds, std::function<void()> call);
  void Cancel();
  // True from Start until the call has been queued (or the timer cancelled).
  bool Pending() const;

 private:
  struct State;
  void Watch();

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace platform
