// The user-interface thread's message pump inside Qt's event loop.
//
// Installed with platform::Application::SetPump, it lets the application's
// message loop sleep in Qt's event dispatcher, so Qt input (clicks, paints,
// timers) and the application's queued work (event deliveries, synchronised
// calls) are served by the one GUI thread. Construct it in the GUI thread
// after the QApplication; Wake may be called from any thread, everything
// else from the GUI thread only.
#pragma once

#include <atomic>

#include "platform/message_pump.h"

class QAbstractEventDispatcher;

namespace app::gui {

class QtMessagePump final : public platform::MessagePump {
 public:
  QtMessagePump();

  // Wakes the dispatcher's wait; Qt's wakeUp is thread safe and non-blocking.
  void Wake() override;
  // One pass of Qt's event loop that waits for Qt input, a wake or the
  // deadline. Without `handleInput`, user input stays queued in Qt until a
  // later pass that handles it.
  bool WaitForWork(Deadline deadline, bool handleInput) override;
  void ProcessInput() override;

 private:
  QAbstractEventDispatcher* dispatcher_;
  std::atomic<bool> woken_{false};
};

}  // namespace app::gui
