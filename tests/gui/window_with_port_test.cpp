// The Qt window driving the real window logic, with the application's loop
// sleeping in Qt's event dispatcher and a memory line as the client.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTimer>
#include <thread>

#include "app/gui/qt_message_pump.h"
#include "app/gui/server_main_window.h"
#include "app/server_window.h"
#include "app/temperature_simulation.h"
#include "cport/serial_device_memory.h"
#include "platform/application.h"
#include "platform/tick_count.h"
#include "tests/app/support/serve_until.h"
#include "tests/support/temp_folder.h"

namespace app::gui {
namespace {

using app::testing::ServeUntil;

class WindowWithPort : public ::testing::Test {
 protected:
  WindowWithPort() {
    application.SetPump(std::make_unique<QtMessagePump>());
    application.SetErrorDisplay([this](const std::string& message) { errors.push_back(message); });
    view.SetHandlers(&window);
    window.FormCreate();
  }
  ~WindowWithPort() override { window.FormClose(); }

  QString Log() { return view.meRX().toPlainText(); }

  void ChooseAndOpen() {
    view.cbComPortNr().lineEdit()->setText(QString::fromStdString(line.Name()));
    emit view.cbComPortNr().lineEdit()->editingFinished();
    view.cbBaudRate().setCurrentIndex(0);
    emit view.cbBaudRate().activated(0);
    ASSERT_TRUE(view.btOpenPort().isEnabled());
    view.btOpenPort().click();
    ASSERT_TRUE(window.ComPort1.Connected());
  }

  test_support::TempFolder dir{"quillane-gui"};
  platform::Application application;
  std::vector<std::string> errors;
  ServerMainWindow view{
      [this](std::exception_ptr error) { application.HandleException(std::move(error)); }};
  TfrmSerialServer window{view, application, dir / "quillane.ini"};
  cport::device::MemoryLine line{"h8-gui-line"};
};

TEST_F(WindowWithPort, StartsWithNothingChosen) {
  EXPECT_EQ(view.cbComPortNr().currentText(), "select port");
  EXPECT_EQ(view.cbBaudRate().currentText(), "select baud rate");
  EXPECT_FALSE(view.btOpenPort().isEnabled());
  EXPECT_EQ(Log(), "");
}

TEST_F(WindowWithPort, OpenAnswerAndClose) {
  ChooseAndOpen();
  EXPECT_EQ(Log(), "com port open");
  ASSERT_TRUE(line.Inject("?\r\n"));
  ASSERT_TRUE(ServeUntil(application, [&] { return Log().contains("command number 4"); }));
  EXPECT_EQ(Log(), "com port open\nreceived ?\n\ncommand number 4");
  ASSERT_TRUE(line.WaitForWritten(17));
  EXPECT_EQ(line.Written(), "quillane, V 1.0\r\n");

  view.btClosePort().click();
  EXPECT_FALSE(window.ComPort1.Connected());
  EXPECT_EQ(Log(), "com port close");
  EXPECT_EQ(view.cbComPortNr().currentText(), "select port");
  EXPECT_FALSE(view.btOpenPort().isEnabled());
  EXPECT_THAT(errors, ::testing::IsEmpty());
}

TEST_F(WindowWithPort, TypedBaudTextThatIsNoRateIsReported) {
  view.cbBaudRate().lineEdit()->setText("fast");
  emit view.cbBaudRate().lineEdit()->editingFinished();
  EXPECT_THAT(errors, ::testing::ElementsAre("'fast' is not a valid baud rate"));
}

TEST_F(WindowWithPort, QtInputIsServedDuringThePacedWait) {
  platform::FakeTickClock clock;
  bool served = false;
  QTimer::singleShot(0, [&] {
    served = true;
    clock.Advance(1000);
  });
  PacedWait(application, 1000);
  EXPECT_TRUE(served);
}

TEST_F(WindowWithPort, WorkQueuedFromAnotherThreadWakesTheQtLoop) {
  bool ran = false;
  std::thread other([&] { application.QueueCall([&] { ran = true; }); });
  EXPECT_TRUE(ServeUntil(application, [&] { return ran; }));
  other.join();
}

}  // namespace
}  // namespace app::gui
