// Internal: what a message window handle points at.
#pragma once

#include <memory>

#include "platform/detail/thread_queue.h"
#include "platform/message_window.h"

namespace platform {

class MessageWindow {
 public:
  MessageWindow(WindowProc procedure, std::shared_ptr<detail::ThreadQueue> owner)
      : procedure_(std::move(procedure)), owner_(std::move(owner)) {}

  LRESULT Call(const HWND& self, UINT message, WPARAM wParam, LPARAM lParam) const {
    return procedure_(self, message, wParam, lParam);
  }
  detail::ThreadQueue& Owner() const { return *owner_; }
  bool Destroyed() const { return destroyed_; }  // WaitLock()
  void MarkDestroyed() { destroyed_ = true; }    // WaitLock()

 private:
  WindowProc procedure_;
  std::shared_ptr<detail::ThreadQueue> owner_;
  bool destroyed_ = false;
};

}  // namespace platform
