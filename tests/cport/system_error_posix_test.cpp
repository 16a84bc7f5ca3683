// The POSIX backends' error texts and reasons, and the POSIX port names.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "cport/posix/system_error.h"
#include "cport/serial_device.h"

namespace cport::device {
namespace {

using ::testing::HasSubstr;

// --- Error texts ---

TEST(SystemErrorMessage, NamesTheCodesTheComponentReports) {
  EXPECT_EQ(SystemErrorMessage(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.");
  EXPECT_EQ(SystemErrorMessage(ERROR_ACCESS_DENIED), "Access is denied.");
  EXPECT_EQ(SystemErrorMessage(ERROR_INVALID_PARAMETER), "The parameter is incorrect.");
  EXPECT_THAT(SystemErrorMessage(ERROR_OPERATION_ABORTED), HasSubstr("aborted"));
  EXPECT_EQ(SystemErrorMessage(ERROR_DEVICE_NOT_CONNECTED), "The device is not connected.");
  for (DWORD code : {ERROR_GEN_FAILURE, ERROR_IO_INCOMPLETE, ERROR_IO_PENDING}) {
    EXPECT_FALSE(SystemErrorMessage(code).empty());
  }
  EXPECT_EQ(SystemErrorMessage(4242), "System error 4242.");
}

TEST(SystemErrorMessage, AddsThePosixReasonTheFailureCarries) {
  const DeviceError busy = detail::ErrorFromErrno(EBUSY);
  EXPECT_EQ(busy.code, ERROR_ACCESS_DENIED);
  EXPECT_EQ(busy.posixErrno, EBUSY);
  EXPECT_EQ(SystemErrorMessage(busy), "Access is denied. (Device or resource busy)");
  EXPECT_EQ(SystemReason(busy), "Device or resource busy");
  // The bare number has no reason, whatever failed before it.
  EXPECT_EQ(SystemErrorMessage(ERROR_ACCESS_DENIED), "Access is denied.");
  EXPECT_EQ(SystemReason(ERROR_ACCESS_DENIED), "Access is denied.");
  EXPECT_EQ(SystemReason(detail::ErrorFromErrno(ENOTTY)), "not a serial device");
  EXPECT_EQ(detail::ErrorFromErrno(ENOENT).code, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(detail::ErrorFromErrno(EIO).code, ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(detail::ErrorFromErrno(EMFILE).code, ERROR_GEN_FAILURE);
}

TEST(CreateFileA, FailuresCarryTheirPosixReason) {
  std::unique_ptr<SerialDevice> device;
  const DeviceError missing = CreateFileA("\\\\.\\/dev/quillane-no-such-tty", device);
  EXPECT_EQ(missing.code, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing.posixErrno, ENOENT);
  const DeviceError notSerial = CreateFileA("\\\\.\\/dev/null", device);
  EXPECT_EQ(notSerial.code, ERROR_GEN_FAILURE);
  EXPECT_EQ(SystemReason(notSerial), "not a serial device");
  EXPECT_EQ(CreateFileA("\\\\.\\NOPE", device).posixErrno, ENOENT);
  EXPECT_FALSE(device);
}

TEST(DevicePathOf, NamesTheDeviceAPortNameOpens) {
  EXPECT_EQ(DevicePathOf("COM1"), "/dev/ttyS0");
  EXPECT_EQ(DevicePathOf("com12"), "/dev/ttyS11");
  EXPECT_EQ(DevicePathOf("/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(DevicePathOf("virtual"), "virtual");
}

}  // namespace
}  // namespace cport::device
