#include "app/temperature_simulation.h"

#include <charconv>
#include <cmath>
#include <iterator>
#include <stdexcept>

#include "app/float_text.h"
#include "app/server_window.h"
#include "platform/application.h"
#include "platform/decimal_separator.h"
#include "platform/events.h"
#include "platform/tick_count.h"

namespace app {
namespace {

// Keyboard, mouse, posted messages, timers, paints, sent messages, hot keys.
constexpr std::uint32_t kPacedWaitWakeMask = 0xFF;
constexpr std::uint32_t kReadingInterval = 1000;

// Closes the wait's event on every path out of PacedWait.
class ScopedEvent {
 public:
  ScopedEvent() : handle_(platform::CreateEvent(false, false)) {}
  ~ScopedEvent() { platform::CloseHandle(handle_); }
  ScopedEvent(const ScopedEvent&) = delete;
  ScopedEvent& operator=(const ScopedEvent&) = delete;
  const platform::EventHandle& Handle() const { return handle_; }

 private:
  platform::EventHandle handle_;
};

}  // namespace

void PacedWait(platform::Application& application, std::uint32_t milliseconds) {
  // Nothing signals the event: the wait ends by its time-out or a message.
  const ScopedEvent event;
  const std::uint32_t start = platform::GetTickCount();
  std::uint32_t remaining = milliseconds;
  while (remaining > 0) {
    const std::uint32_t result = platform::MsgWaitForMultipleObjects(
        std::span<const platform::EventHandle>(&event.Handle(), 1), false, remaining,
        kPacedWaitWakeMask);
    if (result == platform::WAIT_TIMEOUT || result == platform::WAIT_FAILED) break;
    application.ProcessMessages();
    if (application.Terminated()) break;
    const std::uint32_t elapsed = platform::TicksSince(start, platform::GetTickCount());
    remaining = elapsed >= milliseconds ? 0 : milliseconds - elapsed;
  }
}

std::uint8_t StepRawCounter(std::uint8_t& counter, std::int32_t& step) {
  if (counter > 250) step = -2;
  if (counter == 0) step = 4;
  counter = static_cast<std::uint8_t>(counter + step);
  return counter;
}

float SimulatedTemperature(std::uint8_t raw, const ParameterTable& table) {
  const float product = static_cast<float>(raw) * table[kGainSlot];
  const float temperature = table[kOffsetSlot] + product;
  if (!std::isfinite(product) || !std::isfinite(temperature)) {
    throw std::overflow_error("Floating point overflow");
  }
  return temperature;
}

std::string ReadingLogLine(std::uint8_t raw, float temperature, char decimalSeparator) {
  // "%5.2f" without the C library's locale (a toolkit may have set one).
  char digits[64];
  const auto end = std::to_chars(std::begin(digits), std::end(digits),
                                 static_cast<double>(temperature), std::chars_format::fixed, 2)
                       .ptr;
  std::string reading(std::begin(digits), end);
  for (char& c : reading) {
    if (c == '.') c = decimalSeparator;
  }
  if (reading.size() < 5) reading.insert(0, 5 - reading.size(), ' ');
  std::string line = "raw  " + std::to_string(raw) + " T " + reading;
  line += '\xB0';
  line += 'C';
  return line;
}

std::string ReadingReply(float temperature, char decimalSeparator) {
  return FloatToText(static_cast<double>(temperature), decimalSeparator) + "\r\n";
}

void TfrmSerialServer::SimulationTick(bool& Done) {
  if (!view_.SimulationChecked() || !ComPort1.Connected()) return;
  const std::uint64_t opening = portOpenings_;
  PacedWait(application_, kReadingInterval);
  // The wait handles user input: a close there must not log a reading that
  // never goes out, nor fail its send with an error box.
  if (!ComPort1.Connected() || portOpenings_ != opening) return;
  const std::uint8_t raw = StepRawCounter(RawCounter, RawStep);
  const char separator = platform::DecimalSeparator();
  const float temperature = SimulatedTemperature(raw, parameterTable_);
  view_.AddLogLine(ReadingLogLine(raw, temperature, separator));
  SendReading(ReadingReply(temperature, separator));
  Done = false;
}

}  // namespace app
