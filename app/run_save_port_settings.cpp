#include <cstdio>
#include <exception>

#include "app/baud_rate_choice.h"
#include "app/port_settings_file.h"
#include "app/run_window.h"
#include "app/server_window.h"

namespace app {

// The window's port with the settings file and the chosen port and rate
// applied, written without opening anything. The port and rate are chosen as
// the headless program chooses them, so that the template, loaded back,
// opens the same port (the virtual one by default).
int RunSavePortSettings(const ProgramOptions& options) {
  try {
    cport::TComPort port;
    ApplyFixedPortSettings(port);
    LoadedPortSettings loaded;
    if (options.portSettings) loaded = LoadPortSettingsFile(port, *options.portSettings);
    if (options.portGiven || !loaded.port) port.SetPort(options.port);
    if (options.baudRateGiven || !loaded.baudRate) {
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
