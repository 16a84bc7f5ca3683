// Turning a typed or given baud rate into the port's setting: a rate that a
// TBaudRate value names selects that value, any other positive rate selects
// brCustom with that CustomBaudRate. Used by the window's baud box and the
// command line. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "cport/CPort.h"

namespace app {

struct BaudRateChoice {
  cport::TBaudRate baudRate = cport::br9600;
  std::int32_t customBaudRate = 0;  // the rate, used only with brCustom
};

// A positive decimal rate up to 2^31 - 1, blanks around it allowed;
// std::nullopt for anything else.
std::optional<BaudRateChoice> ChooseBaudRate(std::string_view text);

// Applies the choice to `port`: CustomBaudRate first, so that an open port
// never runs briefly at a stale custom rate.
void ApplyBaudRate(cport::TCustomComPort& port, const BaudRateChoice& choice);

}  // namespace app
