#include <unistd.h>

#include <memory>
#include <optional>

#include "app/headless/console_view.h"
#include "app/headless/flushing_pump.h"
#include "app/headless/virtual_port_link.h"
#include "app/port_settings_file.h"
#include "app/run_window.h"
#include "app/server_window.h"
#include "platform/application.h"

namespace app {
namespace {

// Loads the port settings file, then chooses and opens the port as the
// window's controls would; a port or rate the file names is kept unless the
// command line names one. False (with the reason on stderr) when the port did
// not open.
bool OpenChosenPort(TfrmSerialServer& window, ConsoleView& view, const ProgramOptions& options) {
  try {
    LoadedPortSettings loaded;
    if (options.portSettings) loaded = LoadPortSettingsFile(window.ComPort1, *options.portSettings);
    if (options.portGiven || !loaded.port) window.cbComPortNrChange(-1, options.port);
    if (options.baudRateGiven || !loaded.baudRate) {
      window.cbBaudRateChange(-1, options.baudRate);
    }
    window.btOpenPortClick();
  } catch (const std::exception& error) {
    view.ShowError(error.what());
    return false;
  }
  return window.ComPort1.Connected();
}

}  // namespace

int RunHeadless(const ProgramOptions& options, ShutdownSignals& shutdownSignals) {
  ConsoleView view(STDOUT_FILENO, STDERR_FILENO, options.simulate);
  platform::Application application;
  application.SetErrorDisplay([&view](const std::string& message) { view.ShowError(message); });
  application.SetPump(std::make_unique<FlushingPump>(view));
  const TerminateOnSignals stopOnSignal(shutdownSignals, application);

  TfrmSerialServer window(view, application, options.parameterFile);
  window.FormCreate();
  window.UseLineFaults(options.lineFaults);
  if (!OpenChosenPort(window, view, options)) return 1;

  std::optional<VirtualPortLink> link;
  if (options.link) {
    try {
      link.emplace(*options.link, window.ComPort1.ClientPath());
    } catch (const std::exception& error) {
      view.ShowError(error.what());
      window.FormClose();
      return 1;
    }
  }
  application.Run();
  window.FormClose();
  return 0;
}

}  // namespace app
