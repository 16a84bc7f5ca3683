// TfrmSerialServer's side of the line faults: choosing them at start and
// sending the readings through them (replies pass in SendText).
#include <memory>
#include <string>

#include "app/server_window.h"

namespace app {

void TfrmSerialServer::UseLineFaults(const LineFaultOptions& options) {
  ComPort1.SetLineTiming(options.lineTiming);
  if (options.faults.empty() && options.lineDelayMs == 0) return;
  const std::uint64_t seed = ChooseFaultSeed(options);
  // So that a run with a picked seed can be replayed with --seed.
  if (!options.faults.empty() && !options.seed) {
    view_.AddLogLine("fault seed " + std::to_string(seed));
  }
  lineFaults_ = std::make_unique<PortFaults>(
      options, seed, ComPort1, application_, [this](std::string_view line) { AddLogLine(line); },
      [this](std::int32_t count) { ReceiveWaiting(count); },
      [this](const std::string& path) { ClientPathMoved(path); });
}

// The front end follows first (a link to the client side is pointed anew),
// so that a reader of the log finds the new path in place.
void TfrmSerialServer::ClientPathMoved(const std::string& path) {
  if (onClientPathMoved_) onClientPathMoved_(path);
  view_.AddLogLine("virtual port " + path);
}

void TfrmSerialServer::SendReading(const std::string& reading) {
  if (lineFaults_) {
    lineFaults_->SendReading(reading);
    return;
  }
  ComPort1.SendText(reading);
}

}  // namespace app
