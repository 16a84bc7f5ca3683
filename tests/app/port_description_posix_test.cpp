#include "app/port_description.h"

#include <gtest/gtest.h>

#include "app/server_window.h"

namespace app {
namespace {

TEST(PortDescription, NamesTheDeviceAndTheLineSettings) {
  cport::TComPort port;
  ApplyFixedPortSettings(port);
  EXPECT_EQ(PortOpenedText(port), "port COM1 open on /dev/ttyS0, 9600 baud 8N1, flow control None");
  port.SetPort("/dev/ttyACM0");
  port.SetBaudRate(cport::br115200);
  port.SetDataBits(cport::dbSeven);
  port.Parity().SetBits(cport::prEven);
  port.SetStopBits(cport::sbTwoStopBits);
  port.FlowControl().SetFlowControl(cport::fcHardware);
  EXPECT_EQ(PortOpenedText(port), "port /dev/ttyACM0 open, 115200 baud 7E2, flow control Hardware");
}

TEST(PortDescription, CustomRateIsShownAsTheNumber) {
  cport::TComPort port;
  ApplyFixedPortSettings(port);
  port.SetCustomBaudRate(250000);
  port.SetBaudRate(cport::brCustom);
  port.SetStopBits(cport::sbOne5StopBits);
  port.Parity().SetBits(cport::prMark);
  EXPECT_EQ(LineSettingsText(port), "250000 baud 8M1.5, flow control None");
}

}  // namespace
}  // namespace app
