#include "platform/timer.h"

#include <mutex>
#include <utility>

#include "platform/application.h"
#include "platform/events.h"
#include "platform/tick_count.h"

namespace platform {

struct Timer::State {
  explicit State(Application& app) : application(app) {}

  Application& application;
  const EventHandle changed = CreateEvent(false, false);  // Start, Cancel or the end
  mutable std::mutex mutex;
  // Guarded by `mutex`:
  bool stopping = false;
  bool armed = false;
  std::uint32_t start = 0;
  std::uint32_t milliseconds = 0;
  std::uint64_t generation = 0;  // a queued call runs only while this is unchanged
  std::function<void()> call;
};

Timer::Timer(Application& application)
    : state_(std::make_shared<State>(application)), thread_([this] { Watch(); }) {}

Timer::~Timer() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    ++state_->generation;
  }
  SetEvent(state_->changed);
  thread_.join();
}

void Timer::Start(std::uint32_t milliseconds, std::function<void()> call) {
  {
    std::lock_guard lock(state_->mutex);
    ++state_->generation;
    state_->armed = true;
    state_->start = GetTickCount();
    state_->milliseconds = milliseconds;
    state_->call = std::move(call);
  }
  SetEvent(state_->changed);
}

void Timer::Cancel() {
  {
    std::lock_guard lock(state_->mutex);
    ++state_->generation;
    if (!std::exchange(state_->armed, false)) return;
  }
  SetEvent(state_->changed);
}

bool Timer::Pending() const {
  std::lock_guard lock(state_->mutex);
  return state_->armed;
}

void Timer::Watch() {
  const std::shared_ptr<State> state = state_;
  for (;;) {
    std::uint32_t wait = INFINITE;
    std::uint64_t due = 0;  // the generation whose time is up, 0 for none
    {
      std::lock_guard lock(state->mutex);
      if (state->stopping) return;
      if (state->armed) {
        wait = TicksLeft(state->start, GetTickCount(), state->milliseconds);
        if (wait == 0) {
          state->armed = false;
          due = state->generation;
        }
      }
    }
    if (due == 0) {
      WaitForSingleObject(state->changed, wait);
      continue;
    }
    // The generation is checked again in the UI thread, so a Cancel there
    // still stops a call that is already queued.
    state->application.QueueCall([state, due] {
      std::function<void()> call;
      {
        std::lock_guard lock(state->mutex);
        if (state->generation != due) return;
        call = state->call;
      }
      call();
    });
  }
}

}  // namespace platform
