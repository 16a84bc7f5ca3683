#include "platform/application.h"

#include <array>
#include <cstdio>
#include <stdexcept>

#include "platform/detail/thread_queue.h"
#include "platform/detail/wait_core.h"

namespace platform {
namespace {

std::atomic<Application*> current{nullptr};

unsigned WorkClassesOf(std::uint32_t wakeMask) {
  unsigned classes = 0;
  if (wakeMask & QS_POSTMESSAGE) classes |= detail::kPostedWork | detail::kSyncWork;
  if (wakeMask & QS_SENDMESSAGE) classes |= detail::kSentWork;
  return classes;
}

constexpr unsigned kAllWork = detail::kSentWork | detail::kPostedWork | detail::kSyncWork;

std::string MessageOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

void ShowOnStderr(const std::string& message) {
  std::fprintf(stderr, "error: %s\n", message.c_str());
  std::fflush(stderr);
}

}  // namespace

std::uint32_t MsgWaitForMultipleObjects(std::span<const EventHandle> events, bool waitAll,
                                        std::uint32_t milliseconds, std::uint32_t wakeMask) {
  const auto queue = detail::CurrentQueue();
  const bool input = (wakeMask & ~(QS_POSTMESSAGE | QS_SENDMESSAGE)) != 0;
  return detail::WaitCore(events, waitAll, milliseconds, queue.get(), WorkClassesOf(wakeMask),
                          input);
}

Application::Application()
    : uiThread_(std::this_thread::get_id()),
      queue_(detail::CurrentQueue()),
      errorDisplay_(ShowOnStderr),
      previous_(current.exchange(this)) {
  std::lock_guard lock(detail::WaitLock());
  queue_->pump = &headlessPump_;
}

Application::~Application() {
  current.store(previous_);
  std::lock_guard lock(detail::WaitLock());
  queue_->FailAll("the application has ended");
  queue_->pump =
      previous_ && previous_->queue_ == queue_ ? previous_->ActivePump() : &queue_->ownPump;
}

MessagePump* Application::ActivePump() {
  return pump_ ? pump_.get() : &headlessPump_;
}

void Application::SetPump(std::unique_ptr<MessagePump> pump) {
  std::lock_guard lock(detail::WaitLock());
  pump_ = std::move(pump);
  queue_->pump = ActivePump();
}

void Application::SetErrorDisplay(ErrorDisplay display) {
  errorDisplay_ = display ? std::move(display) : ErrorDisplay(ShowOnStderr);
}

void Application::Run() {
  while (!Terminated()) {
    if (HandleOneMessage()) continue;
    bool done = true;
    CallIdle(done);
    if (done && !Terminated()) SleepUntilWork();
  }
}

void Application::ProcessMessages() {
  if (!IsUIThread()) {
    const auto own = detail::CurrentQueue();
    while (detail::ServeOne(*own, kAllWork)) {
    }
    return;
  }
  bool more = true;
  while (more) {
    while (HandleOneMessage()) {
    }
    ActivePump()->ProcessInput();
    std::lock_guard lock(detail::WaitLock());
    more = queue_->HasWork(kAllWork);
  }
}

bool Application::HandleOneMessage() {
  return detail::ServeOne(*queue_, kAllWork);
}

void Application::CallIdle(bool& done) {
  if (!onIdle_) return;
  try {
    onIdle_(done);
  } catch (...) {
    done = true;  // a failing handler waits for the next message before it is tried again
    HandleException(std::current_exception());
  }
}

// Sleeps until something is queued or toolkit input was handled; a stale
// wake-up of the pump sleeps again instead of calling the idle handler for
// nothing. Terminate queues work, so it ends the sleep too.
void Application::SleepUntilWork() {
  detail::WaitCore({}, false, INFINITE, queue_.get(), kAllWork, true);
}

void Application::Terminate() {
  terminated_.store(true);
  QueueCall([] {});  // wakes a sleeping Run, which then sees the flag
}

void Application::Synchronize(const std::function<void()>& call) {
  if (IsUIThread()) {
    call();
    return;
  }
  auto sync = std::make_shared<detail::SyncCall>();
  sync->call = call;
  {
    std::lock_guard lock(detail::WaitLock());
    if (!queue_->PushSync(sync)) throw std::runtime_error("the user-interface thread has ended");
  }
  detail::WaitServing(sync->done, detail::kSentWork);
  // Taken out so the exception's last reference is dropped in this thread.
  if (std::exception_ptr error = std::move(sync->error)) std::rethrow_exception(error);
}

void Application::QueueCall(std::function<void()> call) {
  std::lock_guard lock(detail::WaitLock());
  queue_->PushPosted(std::move(call));
}

void Application::HandleException(std::exception_ptr error) {
  if (!error) return;
  try {
    if (onException_) {
      onException_(error);
    } else {
      errorDisplay_(MessageOf(error));
    }
  } catch (...) {
    // The error display is the last resort: nothing is left to report to.
  }
}

Application& App() {
  if (Application* app = current.load()) return *app;
  static Application processWide;
  return *current.load();
}

}  // namespace platform
