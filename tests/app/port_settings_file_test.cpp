#include "app/port_settings_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "app/server_window.h"
#include "tests/support/temp_folder.h"

namespace app {
namespace {

namespace fs = std::filesystem;

class PortSettingsFile : public ::testing::Test {
 protected:
  PortSettingsFile() { ApplyFixedPortSettings(port); }

  test_support::TempFolder dir{"quillane-portini"};
  fs::path file = dir / "port.ini";
  cport::TComPort port;
};

TEST_F(PortSettingsFile, LoadsEveryGroupAndKeepsTheStoredGroups) {
  std::ofstream(file) << "[ComPort1]\nParity=Even\nDataBits=7\nFlowControl=Hardware\n"
                         "Timeouts.ReadTotalConstant=5\nBuffer.InputSize=4096\n";
  const LoadedPortSettings loaded = LoadPortSettingsFile(port, file);
  EXPECT_FALSE(loaded.port);
  EXPECT_FALSE(loaded.baudRate);
  EXPECT_EQ(port.Parity().Bits(), cport::prEven);
  EXPECT_EQ(port.DataBits(), cport::dbSeven);
  EXPECT_EQ(port.FlowControl().FlowControl(), cport::fcHardware);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 5);
  EXPECT_EQ(port.Buffer().InputSize(), 4096);
  EXPECT_EQ(port.StoredProps(), cport::TStoredProps{cport::spBasic});
}

TEST_F(PortSettingsFile, ReportsAPortAndRateTheFileNames) {
  std::ofstream(file) << "[ComPort1]\nPort=/dev/ttyUSB1\nBaudRate=57600\n";
  const LoadedPortSettings loaded = LoadPortSettingsFile(port, file);
  EXPECT_TRUE(loaded.port);
  EXPECT_TRUE(loaded.baudRate);
  EXPECT_EQ(port.Port(), "/dev/ttyUSB1");
  EXPECT_EQ(port.BaudRate(), cport::br57600);
}

TEST_F(PortSettingsFile, OtherSectionsAreNotOurs) {
  std::ofstream(file) << "[ComPort2]\nParity=Odd\n";
  LoadPortSettingsFile(port, file);
  EXPECT_EQ(port.Parity().Bits(), cport::prNone);
}

TEST_F(PortSettingsFile, MissingFileIsAnError) {
  EXPECT_THROW(LoadPortSettingsFile(port, dir / "none.ini"), std::runtime_error);
  EXPECT_THROW(LoadPortSettingsFile(port, dir.Path()), std::runtime_error);
}

TEST_F(PortSettingsFile, SaveAndLoadRoundTrip) {
  port.Parity().SetBits(cport::prMark);
  port.SetStopBits(cport::sbTwoStopBits);
  port.Timeouts().SetWriteTotalConstant(250);
  SavePortSettingsFile(port, file);
  cport::TComPort fresh;
  ApplyFixedPortSettings(fresh);
  LoadPortSettingsFile(fresh, file);
  EXPECT_EQ(fresh.Parity().Bits(), cport::prMark);
  EXPECT_EQ(fresh.StopBits(), cport::sbTwoStopBits);
  EXPECT_EQ(fresh.Timeouts().WriteTotalConstant(), 250);
  EXPECT_EQ(port.StoredProps(), cport::TStoredProps{cport::spBasic});
}

}  // namespace
}  // namespace app
