// The window's entry on Windows: the native window, its message pump and
// the window logic, run until the window is closed or a console signal asks
// the program to stop.
// The window logic brings the device layer's headers, whose Win32 names
// the system headers must not rewrite: <windows.h> comes in through the
// device layer's own wrapper.
#include "cport/win32/windows_serial_headers.h"

#include <array>
#include <cstdio>
#include <memory>
#include <optional>

#include "app/port_settings_file.h"
#include "app/run_window.h"
#include "app/server_window.h"
#include "app/win32/server_main_window.h"
#include "app/win32/win32_message_pump.h"
#include "platform/application.h"

namespace app {
namespace {

// Started from the desktop, the program got a console of its own, which
// would stand empty beside the window: it is let go. A console the program
// shares with the one that started it (a command prompt) stays.
void ReleaseOwnConsole() {
  std::array<DWORD, 2> processes{};
  if (::GetConsoleProcessList(processes.data(), static_cast<DWORD>(processes.size())) == 1) {
    ::FreeConsole();
  }
}

}  // namespace

int RunWindow(const ProgramOptions& options, ShutdownSignals& shutdownSignals, int& /*argc*/,
              char** /*argv*/) {
  platform::Application application;
  std::optional<win32::ServerMainWindow> view;
  try {
    view.emplace([&application](std::exception_ptr error) { application.HandleException(error); });
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillane: the window cannot be made (%s); run with --headless\n",
                 error.what());
    return 2;
  }
  ReleaseOwnConsole();
  application.SetPump(std::make_unique<win32::Win32MessagePump>(view->frmSerialServer(),
                                                                [&view] { view->FlushLog(); }));
  application.SetErrorDisplay(
      [&view](const std::string& message) { view->ShowErrorMessage(message); });
  const TerminateOnSignals stopOnSignal(shutdownSignals, application);

  TfrmSerialServer window(*view, application, options.parameterFile);
  view->SetHandlers(&window);
  view->SetCloseHandler([&window, &application] {
    window.FormClose();
    application.Terminate();
  });
  window.FormCreate();
  window.UseLineFaults(options.lineFaults);
  view->ShowParameterFile(options.parameterFile.string());
  if (options.portSettings) {
    try {
      LoadPortSettingsFile(window.ComPort1, *options.portSettings);
    } catch (...) {
      application.HandleException(std::current_exception());
    }
  }
  view->Show();
  if (options.portGiven) view->ChoosePort(options.port);
  if (options.baudRateGiven) view->ChooseBaudRate(options.baudRate);
  view->SetSimulationChecked(options.simulate);

  application.Run();
  window.FormClose();
  view->SetCloseHandler(nullptr);
  view->SetHandlers(nullptr);
  application.SetErrorDisplay(nullptr);
  return 0;
}

}  // namespace app
