#include "platform/message_window.h"

#include "platform/detail/thread_queue.h"
#include "platform/detail/wait_core.h"
#include "platform/detail/window_object.h"

namespace platform {
namespace {

bool OwnedByCaller(const MessageWindow& window) {
  return window.Owner().owner == std::this_thread::get_id();
}

// A same-thread call: InSendMessage reads false inside it, as the message
// did not come from another thread.
LRESULT CallDirectly(const HWND& window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto& stack = detail::ServingStack();
  stack.push_back(nullptr);
  struct Pop {
    std::vector<detail::SentMessage*>& stack;
    ~Pop() { stack.pop_back(); }
  } pop{stack};
  return window->Call(window, message, wParam, lParam);
}

}  // namespace

HWND CreateMessageWindow(WindowProc procedure) {
  return std::make_shared<MessageWindow>(std::move(procedure), detail::CurrentQueue());
}

bool DestroyWindow(HWND& window) {
  if (!window) return false;
  const HWND gone = std::move(window);
  std::lock_guard lock(detail::WaitLock());
  if (gone->Destroyed()) return false;
  gone->MarkDestroyed();
  gone->Owner().DropMessagesFor(gone.get());
  return true;
}

bool IsWindow(const HWND& window) {
  if (!window) return false;
  std::lock_guard lock(detail::WaitLock());
  return !window->Destroyed();
}

LRESULT SendMessage(const HWND& window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!IsWindow(window)) return 0;
  if (OwnedByCaller(*window)) return CallDirectly(window, message, wParam, lParam);
  auto sent = std::make_shared<detail::SentMessage>();
  sent->window = window;
  sent->message = message;
  sent->wParam = wParam;
  sent->lParam = lParam;
  {
    std::lock_guard lock(detail::WaitLock());
    if (window->Destroyed() || !window->Owner().PushSent(sent)) return 0;
  }
  // While waiting, messages sent to our own windows are served, so two
  // threads sending to each other do not deadlock.
  detail::WaitServing(sent->done, detail::kSentWork);
  std::lock_guard lock(detail::WaitLock());
  return sent->result;
}

bool PostMessage(const HWND& window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!window) return false;
  std::lock_guard lock(detail::WaitLock());
  if (window->Destroyed()) return false;
  const std::weak_ptr<MessageWindow> target = window;
  auto deliver = [target, message, wParam, lParam] {
    const HWND self = target.lock();
    if (IsWindow(self)) self->Call(self, message, wParam, lParam);
  };
  return window->Owner().PushPosted(std::move(deliver), window.get());
}

bool InSendMessage() {
  const auto& stack = detail::ServingStack();
  return !stack.empty() && stack.back() != nullptr;
}

bool ReplyMessage(LRESULT result) {
  const auto& stack = detail::ServingStack();
  if (stack.empty() || stack.back() == nullptr) return false;
  std::lock_guard lock(detail::WaitLock());
  if (stack.back()->answered) return false;
  detail::AnswerLocked(*stack.back(), result);
  return true;
}

LRESULT DefWindowProc(const HWND& /*window*/, UINT /*message*/, WPARAM /*wParam*/,
                      LPARAM /*lParam*/) {
  return 0;
}

}  // namespace platform
