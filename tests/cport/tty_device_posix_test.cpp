// The tty backend against pseudo-terminal pairs made here: the slave is
// opened as the port, the test drives the master.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "cport/detail/device_openers.h"
#include "cport/posix/posix_fd.h"
#include "cport/posix/serial_device_posix.h"
#include "cport/posix/termios2_rate.h"
#include "cport/serial_device.h"
#include "tests/support/device_io.h"
#include "tests/support/line_io_posix.h"

namespace cport::detail {
namespace {

using namespace cport::device;

struct PtyPair {
  UniqueFd master;
  std::string slavePath;

  PtyPair() : master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    EXPECT_TRUE(master.Valid());
    EXPECT_EQ(::grantpt(master.Get()), 0);
    EXPECT_EQ(::unlockpt(master.Get()), 0);
    std::array<char, 128> name{};
    EXPECT_EQ(::ptsname_r(master.Get(), name.data(), name.size()), 0);
    slavePath = name.data();
  }

  void WriteToPort(const std::string& bytes) const {
    ASSERT_TRUE(test_support::WriteAll(master.Get(), bytes));
  }
};

DCB LineAt(DWORD rate) {
  DCB dcb;
  dcb.BaudRate = rate;
  dcb.Flags = DCB_fBinary;
  dcb.XonLim = dcb.XoffLim = 256;
  dcb.ByteSize = 8;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

// Reads wait for all bytes asked for, bounded by a generous total timeout.
constexpr COMMTIMEOUTS kPatientReads{0, 0, 10000, 0, 10000};

class PosixDevice : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(OpenPosixDevice(pty_.slavePath, device_, stats_), ERROR_SUCCESS);
  }
  void TearDown() override {
    if (device_) {
      EXPECT_EQ(device_->CloseHandle(), ERROR_SUCCESS);
    }
  }

  std::string Read(DWORD count) { return test_support::ReadFromDevice(*device_, count); }

  PtyPair pty_;
  std::unique_ptr<SerialDevice> device_;
  std::shared_ptr<IoStats> stats_;
};

TEST_F(PosixDevice, SettingsReadBackThroughTheMasterAreRawAt115200) {
  ASSERT_EQ(device_->SetCommState(LineAt(115200)), ERROR_SUCCESS);
  termios tio{};
  ASSERT_EQ(::tcgetattr(pty_.master.Get(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
  EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B115200));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | INPCK | PARMRK | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_cc[VMIN], 1);
  EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST_F(PosixDevice, RateOutsideTheTableGoesThroughTermios2) {
  ASSERT_EQ(device_->SetCommState(LineAt(256000)), ERROR_SUCCESS);
  std::uint32_t rate = 0;
  ASSERT_EQ(ReadRate(pty_.master.Get(), rate), 0);
  EXPECT_EQ(rate, 256000u);
  // And back to a table rate.
  ASSERT_EQ(device_->SetCommState(LineAt(9600)), ERROR_SUCCESS);
  ASSERT_EQ(ReadRate(pty_.master.Get(), rate), 0);
  EXPECT_EQ(rate, 9600u);
}

TEST_F(PosixDevice, PseudoTerminalTakesFramingItCannotCarry) {
  DCB dcb = LineAt(19200);
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  EXPECT_EQ(device_->SetCommState(dcb), ERROR_SUCCESS);
  termios tio{};
  ASSERT_EQ(::tcgetattr(pty_.master.Get(), &tio), 0);
  EXPECT_NE(tio.c_cflag & CSTOPB, 0u) << "stop bits are kept and checked";
}

TEST_F(PosixDevice, RefusedSettingLeavesTheLineAsItWas) {
  ASSERT_EQ(device_->SetCommState(LineAt(57600)), ERROR_SUCCESS);
  DCB bad = LineAt(115200);
  bad.StopBits = ONE5STOPBITS;  // only with 5 data bits
  EXPECT_EQ(device_->SetCommState(bad), ERROR_INVALID_PARAMETER);
  termios tio{};
  ASSERT_EQ(::tcgetattr(pty_.master.Get(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B57600));
}

TEST_F(PosixDevice, ParityCheckingDecodesTheDoubledMarkByte) {
  DCB dcb = LineAt(9600);
  dcb.Flags |= DCB_fParity;
  dcb.Parity = EVENPARITY;
  ASSERT_EQ(device_->SetCommState(dcb), ERROR_SUCCESS);
  ASSERT_EQ(device_->SetCommTimeouts(kPatientReads), ERROR_SUCCESS);
  // With PARMRK the tty doubles a 0xFF data byte; the port must read one.
  pty_.WriteToPort(
      std::string("a\xff"
                  "b\xff\xff",
                  5));
  EXPECT_EQ(Read(5), std::string("a\xff"
                                 "b\xff\xff",
                                 5));
  DWORD errors = 0;
  COMSTAT stat;
  ASSERT_EQ(device_->ClearCommError(&errors, &stat), ERROR_SUCCESS);
  EXPECT_EQ(errors, 0u);
}

TEST_F(PosixDevice, PseudoTerminalHasNoModemLines) {
  DWORD status = 0xFFFF;
  EXPECT_EQ(device_->GetCommModemStatus(&status), ERROR_SUCCESS);
  EXPECT_EQ(status, 0u);
  DCB dcb = LineAt(9600);
  dcb.Flags |=
      (DTR_CONTROL_ENABLE << DCB_fDtrControlShift) | (RTS_CONTROL_ENABLE << DCB_fRtsControlShift);
  EXPECT_EQ(device_->SetCommState(dcb), ERROR_SUCCESS);
}

TEST_F(PosixDevice, SecondOpenIsRefusedAsInUseUntilTheFirstCloses) {
  std::unique_ptr<SerialDevice> second;
  EXPECT_EQ(OpenPosixDevice(pty_.slavePath, second), ERROR_ACCESS_DENIED);
  EXPECT_EQ(second, nullptr);
  ASSERT_EQ(device_->CloseHandle(), ERROR_SUCCESS);
  device_.reset();
  ASSERT_EQ(OpenPosixDevice(pty_.slavePath, second), ERROR_SUCCESS);
  EXPECT_EQ(second->CloseHandle(), ERROR_SUCCESS);
}

TEST_F(PosixDevice, HangUpEndsReadsWithDeviceNotConnected) {
  ASSERT_EQ(device_->SetCommTimeouts(kPatientReads), ERROR_SUCCESS);
  pty_.master.Reset();
  std::array<char, 4> buffer;
  DWORD read = 0;
  EXPECT_EQ(device_->ReadFile(buffer.data(), 4, &read, nullptr), ERROR_DEVICE_NOT_CONNECTED);
  std::string line = "x";
  DWORD written = 0;
  EXPECT_EQ(device_->WriteFile(line.data(), 1, &written, nullptr), ERROR_DEVICE_NOT_CONNECTED);
  // The hang-up was seen once; the descriptor is no longer watched, so the
  // I/O thread sleeps instead of waking for the same hang-up forever.
  const std::uint64_t wakeups = stats_->wakeups;
  EXPECT_LE(wakeups, 3u);
  EXPECT_EQ(device_->ReadFile(buffer.data(), 4, &read, nullptr), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(stats_->wakeups, wakeups);
}

TEST(PosixDeviceOpen, MissingDeviceIsFileNotFound) {
  std::unique_ptr<SerialDevice> device;
  EXPECT_EQ(OpenPosixDevice("/dev/quillane-no-such-tty", device), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(device, nullptr);
}

TEST(PosixDeviceOpen, SomethingThatIsNotATtyIsRefused) {
  std::unique_ptr<SerialDevice> device;
  EXPECT_EQ(OpenPosixDevice("/dev/null", device), ERROR_GEN_FAILURE);
  EXPECT_EQ(device, nullptr);
}

TEST(PosixDeviceOpen, OpenAndCloseManyTimesLeavesNothingBehind) {
  PtyPair pty;
  for (int i = 0; i < 200; ++i) {
    std::unique_ptr<SerialDevice> device;
    ASSERT_EQ(OpenPosixDevice(pty.slavePath, device), ERROR_SUCCESS) << "round " << i;
    ASSERT_EQ(device->CloseHandle(), ERROR_SUCCESS);
  }
}

}  // namespace
}  // namespace cport::detail
