// The temperature simulation: one reading about once a second, unasked,
// while the simulation box is ticked and the port is open.
//
// A raw counter sweeps 4, 8, ... 252, then 250, 248, ... 0 and up again; the
// reading is offset (slot 15) + raw x gain (slot 19) in single precision.
// TfrmSerialServer::SimulationTick, the application's idle handler, is
// defined with these helpers. User-interface thread only.
//
// Errors: SimulatedTemperature throws std::overflow_error when the reading
// leaves the single-precision range; PacedWait lets the errors of the
// messages it handles pass.
#pragma once

#include <cstdint>
#include <string>

#include "app/parameter_table.h"

namespace platform {
class Application;
}

namespace app {

// Waits `milliseconds` while handling the application's messages (event
// deliveries and user input are served during the wait). Ends early when the
// application is terminating. The elapsed time is measured on the 32-bit tick
// count with wrap-around subtraction, so a wrap during the wait is harmless.
void PacedWait(platform::Application& application, std::uint32_t milliseconds);

// Steps the sweep and returns the new raw count: down by 2 above 250, up by
// 4 from 0, otherwise on in the direction held by `step`.
std::uint8_t StepRawCounter(std::uint8_t& counter, std::int32_t& step);

// offset + raw x gain, each step rounded to single precision; throws
// std::overflow_error("Floating point overflow") beyond the range.
float SimulatedTemperature(std::uint8_t raw, const ParameterTable& table);

// "raw  4 T -17.80" followed by the degree sign (Windows-1252 0xB0) and "C";
// the reading right-aligned in five characters with two decimals.
std::string ReadingLogLine(std::uint8_t raw, float temperature, char decimalSeparator);

// The reading as float text followed by CR LF, as sent on the line.
std::string ReadingReply(float temperature, char decimalSeparator);

}  // namespace app
