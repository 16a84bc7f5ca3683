#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "app/headless/console_view.h"
#include "app/headless/descriptor_output.h"
#include "app/headless/flushing_pump.h"
#include "app/headless/virtual_port_link.h"
#include "app/port_description.h"
#include "app/port_settings_file.h"
#include "app/run_window.h"
#include "app/server_window.h"
#include "platform/application.h"

namespace app {
namespace {

// The path as the user would look for it, from the root.
std::filesystem::path AbsolutePath(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal();
}

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
  ConsoleView view(kStandardOutput, kStandardError, options.simulate);
  platform::Application application;
  application.SetErrorDisplay([&view](const std::string& message) { view.ShowError(message); });
  application.SetPump(std::make_unique<FlushingPump>(view));
  const TerminateOnSignals stopOnSignal(shutdownSignals, application);

  // Claimed before anything opens, so that a second program on the same
  // link stops before it logs or touches its port.
  std::optional<VirtualPortLink> link;
  if (options.link) {
    try {
      link.emplace(*options.link);
    } catch (const std::exception& error) {
      view.ShowError(error.what());
      return 1;
    }
  }

  TfrmSerialServer window(view, application, options.parameterFile);
  window.FormCreate();
  window.UseLineFaults(options.lineFaults);
  view.ShowNotice("parameter file " + AbsolutePath(options.parameterFile).string());
  if (!OpenChosenPort(window, view, options)) return 1;

  if (link) {
    // A hangup fault moves the client side: the link follows it.
    window.SetOnClientPathMoved([&link](const std::string& path) { link->PointTo(path); });
    try {
      link->PointTo(window.ComPort1.ClientPath());
    } catch (const std::exception& error) {
      view.ShowError(error.what());
      window.FormClose();
      return 1;
    }
  }
  // Once the link is there: printing flushes the log, whose client path a
  // reader may follow at once.
  view.ShowNotice(PortOpenedText(window.ComPort1));
  application.Run();
  window.FormClose();
  return 0;
}

}  // namespace app
