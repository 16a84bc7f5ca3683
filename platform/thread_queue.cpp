#include "platform/detail/thread_queue.h"

#include <algorithm>
#include <stdexcept>

#include "platform/application.h"
#include "platform/detail/thread_state.h"
#include "platform/detail/window_object.h"

namespace platform::detail {
namespace {

void HandleEscaped(std::exception_ptr error) {
  App().HandleException(std::move(error));
}

// Runs a synchronised call and releases its caller.
void RunSync(const std::shared_ptr<SyncCall>& call) {
  try {
    call->call();
  } catch (...) {
    call->error = std::current_exception();
  }
  std::lock_guard lock(WaitLock());
  SignalLocked(call->done);
}

// Whether `w` is of `workClasses`.
bool Ready(const QueuedWork& w, unsigned workClasses) {
  return (workClasses & (w.sync ? kSyncWork : kPostedWork)) != 0;
}

}  // namespace

bool ThreadQueue::HasWork(unsigned workClasses) const {
  if ((workClasses & kSentWork) && !sent.empty()) return true;
  return std::any_of(work.begin(), work.end(),
                     [workClasses](const QueuedWork& w) { return Ready(w, workClasses); });
}

bool ThreadQueue::PushSent(std::shared_ptr<SentMessage> message) {
  if (closed) return false;
  sent.push_back(std::move(message));
  pump->Wake();
  return true;
}

bool ThreadQueue::PushPosted(std::function<void()> call, const MessageWindow* window) {
  if (closed) return false;
  work.push_back(QueuedWork{std::move(call), nullptr, window});
  pump->Wake();
  return true;
}

bool ThreadQueue::PushSync(std::shared_ptr<SyncCall> call) {
  if (closed) return false;
  work.push_back(QueuedWork{nullptr, std::move(call), nullptr});
  pump->Wake();
  return true;
}

void ThreadQueue::DropMessagesFor(const MessageWindow* window) {
  for (auto it = sent.begin(); it != sent.end();) {
    if ((*it)->window.get() == window) {
      AnswerLocked(**it, 0);
      it = sent.erase(it);
    } else {
      ++it;
    }
  }
  std::erase_if(work, [window](const QueuedWork& w) { return w.window == window; });
}

void ThreadQueue::FailAll(const char* reason) {
  for (const auto& message : sent)
    AnswerLocked(*message, 0);
  sent.clear();
  for (const QueuedWork& w : work) {
    if (w.sync) {
      w.sync->error = std::make_exception_ptr(std::runtime_error(reason));
      SignalLocked(w.sync->done);
    }
  }
  work.clear();
}

void ThreadQueue::Close(const char* reason) {
  closed = true;
  FailAll(reason);
}

ThreadState::ThreadState() : queue(std::make_shared<ThreadQueue>()) {}

// Closes the thread's queue when the thread ends, so nobody waits for it.
ThreadState::~ThreadState() {
  std::lock_guard lock(WaitLock());
  queue->Close("the target thread has ended");
}

std::shared_ptr<ThreadQueue> CurrentQueue() {
  return CurrentThreadState().queue;
}

void AnswerLocked(SentMessage& message, LRESULT result) {
  if (message.answered) return;
  message.answered = true;
  message.result = result;
  SignalLocked(message.done);
}

std::vector<SentMessage*>& ServingStack() {
  return CurrentThreadState().serving;
}

void ServeSent(SentMessage& message) {
  bool alive = false;
  {
    std::lock_guard lock(WaitLock());
    alive = !message.window->Destroyed();
  }
  LRESULT result = 0;
  if (alive) {
    ServingStack().push_back(&message);
    try {
      result =
          message.window->Call(message.window, message.message, message.wParam, message.lParam);
    } catch (...) {
      // A procedure's exception cannot cross to the sending thread.
      HandleEscaped(std::current_exception());
    }
    ServingStack().pop_back();
  }
  std::lock_guard lock(WaitLock());
  AnswerLocked(message, result);
}

bool ServeOne(ThreadQueue& queue, unsigned workClasses) {
  std::shared_ptr<SentMessage> sent;
  QueuedWork item;
  {
    std::lock_guard lock(WaitLock());
    if ((workClasses & kSentWork) && !queue.sent.empty()) {
      sent = std::move(queue.sent.front());
      queue.sent.pop_front();
    } else {
      const auto it = std::find_if(queue.work.begin(), queue.work.end(),
                                   [&](const QueuedWork& w) { return Ready(w, workClasses); });
      if (it == queue.work.end()) return false;
      item = std::move(*it);
      queue.work.erase(it);
    }
  }
  if (sent) {
    ServeSent(*sent);
  } else if (item.sync) {
    RunSync(item.sync);
  } else {
    try {
      item.posted();
    } catch (...) {
      HandleEscaped(std::current_exception());
    }
  }
  return true;
}

void WaitServing(const EventHandle& done, unsigned workClasses) {
  const std::shared_ptr<ThreadQueue> queue = CurrentQueue();
  while (WaitCore(std::span<const EventHandle>(&done, 1), false, INFINITE, queue.get(), workClasses,
                  false) != WAIT_OBJECT_0) {
    while (ServeOne(*queue, workClasses)) {
    }
  }
}

}  // namespace platform::detail
