#include "platform/thread.h"

#include <stdexcept>

#include "platform/application.h"
#include "platform/detail/thread_queue.h"

namespace platform {

Thread::Thread() = default;

Thread::~Thread() {
  Terminate();
  if (InBody()) {
    thread_.detach();  // destroyed from its own body: nobody is left to wait
    return;
  }
  WaitFor();
}

void Thread::Start() {
  if (thread_.joinable() || Finished()) throw std::logic_error("thread already started");
  thread_ = std::thread([this, outcome = outcome_] {
    bodyThread_.store(std::this_thread::get_id());
    try {
      Execute();
    } catch (...) {
      outcome->fatalException = std::current_exception();
    }
    // `this` may be gone by now (destroyed from the body): only the shared
    // outcome is touched.
    SetEvent(outcome->finished);
  });
}

bool Thread::InBody() const {
  return bodyThread_.load() == std::this_thread::get_id();
}

void Thread::WaitFor() {
  // Checked first: the body may run before Start has stored thread_.
  if (InBody()) throw std::logic_error("a thread cannot wait for itself");
  if (!thread_.joinable()) return;
  // Only the UI thread's queue ever holds synchronised calls; serving them
  // (and messages sent to our windows) lets a worker that is blocked on us
  // run to its end.
  detail::WaitServing(outcome_->finished, detail::kSentWork | detail::kSyncWork);
  thread_.join();
}

bool Thread::Finished() const {
  return WaitForSingleObject(outcome_->finished, 0) == WAIT_OBJECT_0;
}

void Thread::Synchronize(const std::function<void()>& call) {
  App().Synchronize(call);
}

}  // namespace platform
