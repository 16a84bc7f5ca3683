#include "platform/thread.h"

#include <stdexcept>

#include "platform/application.h"
#include "platform/detail/thread_queue.h"

namespace platform {

Thread::Thread() : finished_(CreateEvent(true, false)) {}

Thread::~Thread() {
  Terminate();
  if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // destroyed from its own body: nobody is left to wait
    return;
  }
  WaitFor();
}

void Thread::Start() {
  if (thread_.joinable() || Finished()) throw std::logic_error("thread already started");
  thread_ = std::thread([this] { Body(); });
}

void Thread::Body() {
  try {
    Execute();
  } catch (...) {
    fatalException_ = std::current_exception();
  }
  SetEvent(finished_);
}

void Thread::WaitFor() {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    throw std::logic_error("a thread cannot wait for itself");
  }
  // Only the UI thread's queue ever holds synchronised calls; serving them
  // (and messages sent to our windows) lets a worker that is blocked on us
  // run to its end.
  detail::WaitServing(finished_, detail::kSentWork | detail::kSyncWork);
  thread_.join();
}

bool Thread::Finished() const {
  return WaitForSingleObject(finished_, 0) == WAIT_OBJECT_0;
}

void Thread::Synchronize(const std::function<void()>& call) {
  App().Synchronize(call);
}

}  // namespace platform
