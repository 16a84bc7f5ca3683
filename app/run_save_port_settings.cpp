#include <cstdio>
#include <exception>

#include "app/baud_rate_choice.h"
#include "app/port_settings_file.h"
#include "app/run_window.h"
#include "app/server_window.h"

namespace app {

// The window's port with the settings file and the chosen port and rate
// applied, written without opening anything.
int RunSavePortSettings(const ProgramOptions& options) {
  try {
    cport::TComPort port;
    ApplyFixedPortSettings(port);
    if (options.portSettings) LoadPortSettingsFile(port, *options.portSettings);
    if (options.portGiven) port.SetPort(options.port);
    if (options.baudRateGiven) {
      if (const auto choice = ChooseBaudRate(options.baudRate)) ApplyBaudRate(port, *choice);
    }
    SavePortSettingsFile(port, *options.savePortSettings);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "error: %s\n", error.what());
    return 1;
  }
  return 0;
}

}  // namespace app
