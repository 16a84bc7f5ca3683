#include "app/run_window.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/gui/qt_message_pump.h"
#include "app/gui/server_main_window.h"
#include "app/port_settings_file.h"
#include "app/serial_device_list.h"
#include "app/server_window.h"
#include "platform/application.h"

namespace app {
namespace {

constexpr const char* kNoDisplay =
    "quillane: no display to open the window on; run with --headless to serve without one\n";

bool DisplayConfigured() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

QtMessageHandler previousHandler = nullptr;

// Qt ends the program when it cannot reach the display; say why instead.
void ExitWhenQtCannotStart(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
  if (type == QtFatalMsg) {
    std::fputs(kNoDisplay, stderr);
    std::_Exit(2);
  }
  if (previousHandler != nullptr) previousHandler(type, context, message);
}

}  // namespace

int RunWindow(const ProgramOptions& options, ShutdownSignals& shutdownSignals, int& argc,
              char** argv) {
  if (!DisplayConfigured()) {
    std::fputs(kNoDisplay, stderr);
    return 2;
  }
  previousHandler = qInstallMessageHandler(ExitWhenQtCannotStart);
  QApplication qt(argc, argv);
  qInstallMessageHandler(previousHandler);

  platform::Application application;
  application.SetPump(std::make_unique<gui::QtMessagePump>());
  gui::ServerMainWindow view(
      [&application](std::exception_ptr error) { application.HandleException(error); });
  application.SetErrorDisplay([&view](const std::string& message) {
    QMessageBox::critical(&view, QStringLiteral("quillane"), QString::fromStdString(message));
  });
  const TerminateOnSignals stopOnSignal(shutdownSignals, application);

  TfrmSerialServer window(view, application, options.parameterFile);
  view.SetHandlers(&window);
  view.SetCloseHandler([&window, &application] {
    window.FormClose();
    application.Terminate();
  });
  window.FormCreate();
  window.UseLineFaults(options.lineFaults);
  view.ShowParameterFile(options.parameterFile.string());
  view.AddPortEntries(SerialDevicesPresent());
  if (options.portSettings) {
    try {
      LoadPortSettingsFile(window.ComPort1, *options.portSettings);
    } catch (...) {
      application.HandleException(std::current_exception());
    }
  }
  view.show();
  if (options.portGiven) view.ChoosePort(options.port);
  if (options.baudRateGiven) view.ChooseBaudRate(options.baudRate);
  view.SetSimulationChecked(options.simulate);

  application.Run();
  window.FormClose();
  view.SetCloseHandler(nullptr);
  view.SetHandlers(nullptr);
  application.SetErrorDisplay(nullptr);
  return 0;
}

}  // namespace app
