// One-line descriptions of what the program opened, for the console's start
// message: the port's name, the device behind it and its line settings.
// Pure functions of the port's settings; user-interface thread (the port is
// not thread-safe).
#pragma once

#include <string>

#include "cport/CPort.h"

namespace app {

// "9600 baud 8N1, flow control None": rate, data bits, parity letter, stop
// bits and the flow control's name.
std::string LineSettingsText(const cport::TCustomComPort& port);

// "port COM1 open on /dev/ttyS0, 9600 baud 8N1, flow control None"; a
// virtual port names its client side, a device path is not repeated.
std::string PortOpenedText(const cport::TCustomComPort& port);

}  // namespace app
