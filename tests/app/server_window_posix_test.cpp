// The window on this system's own kinds of port: a tty path that does not
// exist, and a virtual port with its client side.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/server_window.h"
#include "platform/application.h"
#include "support/recording_view.h"
#include "tests/support/temp_folder.h"

namespace app {
namespace {

namespace fs = std::filesystem;

class ServerWindow : public ::testing::Test {
 protected:
  test_support::TempFolder dir{"quillane-window-posix"};
  platform::Application application;
  testing::RecordingView view;
  TfrmSerialServer window{view, application, dir.Path() / "quillane.ini"};
};

TEST_F(ServerWindow, OpenFailureNamesTheDeviceAndTheSystemsReason) {
  window.FormCreate();
  const std::string missing = (dir.Path() / "no-such-tty").string();
  window.cbComPortNrChange(-1, missing);
  window.cbBaudRateChange(0, "9600");
  try {
    window.btOpenPortClick();
    FAIL() << "no error";
  } catch (const cport::EComPort& error) {
    EXPECT_EQ(std::string(error.what()),
              "Unable to open com port (Error: 2): " + missing + ": No such file or directory");
    EXPECT_EQ(error.SystemErrorCode(), 2);
  }
}

TEST_F(ServerWindow, VirtualPortLogsItsClientPathAfterOpening) {
  window.FormCreate();
  window.cbComPortNrChange(-1, "virtual");
  window.cbBaudRateChange(0, "9600");
  window.btOpenPortClick();
  ASSERT_EQ(view.log.size(), 2u);
  EXPECT_EQ(view.log[0], "com port open");
  EXPECT_EQ(view.log[1], "virtual port " + window.ComPort1.ClientPath());
  EXPECT_TRUE(fs::exists(window.ComPort1.ClientPath()));
  window.FormClose();
}

}  // namespace
}  // namespace app
