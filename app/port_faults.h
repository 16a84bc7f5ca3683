// The line faults on the window's port: the output stage, the timer that
// releases held output, and the hand-back of input held by a stall.
//
// The window makes one when any fault option is given and then sends every
// reply and reading through it; without one the window writes to the port
// directly, exactly as before. User-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/fault_option.h"
#include "app/output_stage.h"
#include "cport/CPort.h"
#include "platform/timer.h"

namespace platform {
class Application;
}

namespace app {

// The seed to use: the one given, or a fresh one from the system.
std::uint64_t ChooseFaultSeed(const LineFaultOptions& options);

class PortFaults final : private OutputLine, private OutputAlarm {
 public:
  using LogLine = std::function<void(std::string_view)>;
  // Reads `count` waiting bytes from the port and handles them.
  using ReceiveInput = std::function<void(std::int32_t count)>;
  // A hangup moved the port's client side to `path` (a virtual port).
  using ClientMoved = std::function<void(const std::string& path)>;

  // All references must outlive the object.
  PortFaults(const LineFaultOptions& options, std::uint64_t seed, cport::TComPort& port,
             platform::Application& application, LogLine log, ReceiveInput receive,
             ClientMoved moved);

  void SendReplies(std::string_view replies) { stage_.SendReplies(replies); }
  void SendReading(std::string_view reading) { stage_.SendReading(reading); }
  // The port's received-data event: the bytes are received at once, unless
  // a stall holds them on the line; then they are received when it ends
  // (never from inside a receive that is still running).
  void Receive(std::int32_t count);
  bool InputStalled() const { return stage_.InputStalled(); }
  // The port has closed.
  void Discard() { stage_.Discard(); }

 private:
  // OutputLine
  void Write(std::string_view bytes) override;
  void Log(std::string_view line) override { log_(line); }
  void InputResumed() override;
  void DropClient() override;
  void ReportError(std::exception_ptr error) override;
  // OutputAlarm
  void Set(std::uint32_t milliseconds) override;
  void Clear() override { timer_.Cancel(); }

  cport::TComPort& port_;
  platform::Application& application_;
  LogLine log_;
  ReceiveInput receive_;
  ClientMoved moved_;
  bool receiving_ = false;
  bool resumePending_ = false;  // a stall ended while a receive ran
  OutputStage stage_;
  platform::Timer timer_;  // last: its calls stop before the rest goes
};

}  // namespace app
