// The console's message pump: before the user-interface thread goes to
// sleep, the log lines it has collected are written out. So the log is
// written exactly when the program has caught up, once per batch of work
// rather than once per line.
#pragma once

#include "app/headless/console_view.h"
#include "platform/message_pump.h"

namespace app {

class FlushingPump final : public platform::MessagePump {
 public:
  // `view` must outlive the pump.
  explicit FlushingPump(ConsoleView& view) : view_(view) {}

  void Wake() override { pump_.Wake(); }
  bool WaitForWork(Deadline deadline, bool handleInput) override {
    view_.Flush();
    return pump_.WaitForWork(deadline, handleInput);
  }
  std::uint32_t WaitForWorkOrEvents(std::span<const platform::EventHandle> events, bool waitAll,
                                    Deadline deadline, bool handleInput) override {
    view_.Flush();
    return pump_.WaitForWorkOrEvents(events, waitAll, deadline, handleInput);
  }

 private:
  ConsoleView& view_;
  platform::HeadlessPump pump_;
};

}  // namespace app
