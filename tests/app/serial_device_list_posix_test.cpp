#include "app/serial_device_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <stdexcept>

namespace app {
namespace {

namespace fs = std::filesystem;

fs::path MakeTempDir() {
  std::string pattern = (fs::temp_directory_path() / "quillane-devices-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

class SerialDeviceList : public ::testing::Test {
 protected:
  SerialDeviceList() {
    fs::create_directories(dev);
    fs::create_directories(sys);
  }
  ~SerialDeviceList() override {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  void Device(const fs::path& relative) {
    fs::create_directories((dev / relative).parent_path());
    std::ofstream(dev / relative).put('\0');
  }
  void UartType(const std::string& name, const std::string& type) {
    fs::create_directories(sys / name);
    std::ofstream(sys / name / "type") << type << "\n";
  }
  std::string Dev(const std::string& relative) const { return (dev / relative).string(); }

  fs::path root = MakeTempDir();
  fs::path dev = root / "dev";
  fs::path sys = root / "sys";
};

TEST_F(SerialDeviceList, BuiltInPortsWithAUartThenAdaptersThenTheirStableNames) {
  for (const char* name : {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB1", "ttyUSB0", "ttyACM0",
                           "ttySX", "ttyS", "tty0", "ttyUSB0.old"}) {
    Device(name);
  }
  Device("serial/by-id/usb-FTDI_b-if00");
  Device("serial/by-id/usb-FTDI_a-if00");
  UartType("ttyS0", "4");
  UartType("ttyS1", "0");  // no UART behind it
  UartType("ttyS10", "4");
  // ttyS2 has no type at all: not listed either.
  EXPECT_THAT(SerialDevicesPresent(dev, sys),
              ::testing::ElementsAre(Dev("ttyS0"), Dev("ttyS10"), Dev("ttyUSB0"), Dev("ttyUSB1"),
                                     Dev("ttyACM0"), Dev("serial/by-id/usb-FTDI_a-if00"),
                                     Dev("serial/by-id/usb-FTDI_b-if00")));
}

TEST_F(SerialDeviceList, MissingFoldersListNothing) {
  EXPECT_THAT(SerialDevicesPresent(root / "none", root / "none"), ::testing::IsEmpty());
  EXPECT_THAT(SerialDevicesPresent(dev, sys), ::testing::IsEmpty());
}

}  // namespace
}  // namespace app
