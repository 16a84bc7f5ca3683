#include "app/port_faults.h"

#include <random>
#include <stdexcept>
#include <utility>

#include "platform/application.h"

namespace app {
namespace {

// True for its lifetime, also when an exception passes.
class RaisedFlag {
 public:
  explicit RaisedFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~RaisedFlag() { flag_ = false; }
  RaisedFlag(const RaisedFlag&) = delete;
  RaisedFlag& operator=(const RaisedFlag&) = delete;

 private:
  bool& flag_;
};

}  // namespace

std::uint64_t ChooseFaultSeed(const LineFaultOptions& options) {
  if (options.seed) return *options.seed;
  std::random_device device;
  return (std::uint64_t{device()} << 32) ^ device();
}

PortFaults::PortFaults(const LineFaultOptions& options, std::uint64_t seed, cport::TComPort& port,
                       platform::Application& application, LogLine log, ReceiveInput receive,
                       ClientMoved moved)
    : port_(port),
      application_(application),
      log_(std::move(log)),
      receive_(std::move(receive)),
      moved_(std::move(moved)),
      stage_(options.faults, seed, options.lineDelayMs, *this, *this),
      timer_(application) {}

void PortFaults::Write(std::string_view bytes) {
  port_.SendText(std::string(bytes));
}

void PortFaults::Receive(std::int32_t count) {
  if (stage_.InputStalled()) return;
  {
    const RaisedFlag receiving(receiving_);
    receive_(count);
  }
  if (std::exchange(resumePending_, false)) InputResumed();
}

void PortFaults::InputResumed() {
  if (receiving_) {
    resumePending_ = true;
    return;
  }
  if (!port_.Connected()) return;
  if (const std::int32_t waiting = port_.InputQueueCount(); waiting > 0) Receive(waiting);
}

void PortFaults::DropClient() {
  if (!port_.Connected()) return;  // no line, no cable to pull
  const std::string before = port_.ClientPath();
  if (const cport::device::DeviceError error = port_.DropClient();
      error != cport::device::ERROR_SUCCESS) {
    throw std::runtime_error("fault hangup failed: " + cport::device::SystemErrorMessage(error));
  }
  if (const std::string after = port_.ClientPath(); after != before) moved_(after);
}

void PortFaults::ReportError(std::exception_ptr error) {
  application_.HandleException(std::move(error));
}

void PortFaults::Set(std::uint32_t milliseconds) {
  timer_.Start(milliseconds, [this] { stage_.OnAlarm(); });
}

}  // namespace app
