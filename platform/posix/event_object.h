// Internal: the state of one event where events are our own (POSIX).
#pragma once

#include <vector>

#include "platform/message_pump.h"

namespace platform {

// Setting an event wakes the threads waiting on it and does nothing else.
class EventObject {
 public:
  EventObject(bool manualReset, bool initialState)
      : manualReset_(manualReset), signalled_(initialState) {}

  // All members below: detail::WaitLock() held.
  bool Signalled() const { return signalled_; }
  void Set();
  void Reset() { signalled_ = false; }
  // Takes the signal of an auto-reset event (a successful wait does this).
  void Acquire();
  void AddWaiter(MessagePump* pump) { waiters_.push_back(pump); }
  void RemoveWaiter(MessagePump* pump);

 private:
  const bool manualReset_;
  bool signalled_;
  std::vector<MessagePump*> waiters_;
};

}  // namespace platform
