// Port settings from and to an INI file, for users who need another parity,
// flow control or timeouts on the simulated device's port.
//
// The settings live in the section named after the component (ComPort1), in
// the keys and forms of the component's own persistence; all six groups are
// read or written, whatever the port's StoredProps (which are left as they
// were). Main thread, before the port opens. Errors: std::runtime_error for
// a missing file; platform::IniFileError when the file cannot be read or
// written; cport::EComPort when the port refuses a setting.
#pragma once

#include <filesystem>

#include "cport/CPort.h"

namespace app {

// Which of the two settings the port box and the baud box also choose were
// present in the file.
struct LoadedPortSettings {
  bool port = false;
  bool baudRate = false;
};

LoadedPortSettings LoadPortSettingsFile(cport::TCustomComPort& port,
                                        const std::filesystem::path& file);
void SavePortSettingsFile(cport::TCustomComPort& port, const std::filesystem::path& file);

}  // namespace app
