// The Windows port names and the system's device: every call is the
// system's, and an operation's block is the system's block, signalled by the
// system. A named pipe stands in for a serial device where the calls are
// not serial ones (reads, writes, their blocks and results); the serial
// calls on a real line are exercised end to end on a COM port.
#include "cport/win32/windows_serial_headers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cport/serial_device.h"
#include "platform/events.h"

namespace cport::device {
namespace {

using ::testing::HasSubstr;

// --- Port names ---

TEST(WindowsPortNames, VirtualAndNetworkPortsAreRefusedWithWhatToUseInstead) {
  std::unique_ptr<SerialDevice> device;
  const DeviceError noVirtual = CreateFileA("\\\\.\\virtual", device);
  EXPECT_EQ(noVirtual.code, ERROR_FILE_NOT_FOUND);
  EXPECT_THAT(SystemReason(noVirtual), HasSubstr("null-modem emulator"));
  EXPECT_THAT(SystemReason(noVirtual), HasSubstr("COM ports"));
  const DeviceError noNetwork = CreateFileA("\\\\.\\tcp:5000", device);
  EXPECT_EQ(noNetwork.code, ERROR_FILE_NOT_FOUND);
  EXPECT_THAT(SystemReason(noNetwork), HasSubstr("Linux only"));
  EXPECT_THAT(SystemErrorMessage(noNetwork), HasSubstr("(network ports"));
  EXPECT_FALSE(device);
}

TEST(WindowsPortNames, ComPortsAndDeviceNamesGoToTheSystem) {
  std::unique_ptr<SerialDevice> device;
  // No such port in this system: the system's own answer.
  EXPECT_EQ(CreateFileA("\\\\.\\COM199", device), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CreateFileA("\\\\.\\\\\\.\\quillane-no-such-device", device), ERROR_FILE_NOT_FOUND);
  // Outside the table: never reaches the system.
  for (const char* path : {"\\\\.\\COM256", "\\\\.\\COM0", "\\\\.\\COM01", "\\\\.\\/dev/ttyS0"}) {
    const DeviceError error = CreateFileA(path, device);
    EXPECT_EQ(error.code, ERROR_FILE_NOT_FOUND) << path;
    EXPECT_EQ(error.reason, nullptr) << path;
  }
  EXPECT_EQ(CreateFileA("\\\\.\\loop", device), ERROR_SUCCESS);
  EXPECT_EQ(device->CloseHandle(), ERROR_SUCCESS);
}

TEST(WindowsPortNames, DevicePathIsTheSystemsName) {
  EXPECT_EQ(DevicePathOf("COM1"), "\\\\.\\COM1");
  EXPECT_EQ(DevicePathOf("com12"), "\\\\.\\COM12");
  EXPECT_EQ(DevicePathOf("\\\\.\\CNCA0"), "\\\\.\\CNCA0");
  EXPECT_EQ(DevicePathOf("loop"), "loop");
}

TEST(WindowsErrorTexts, AreTheSystemsOwn) {
  for (DWORD code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER,
                     ERROR_OPERATION_ABORTED, ERROR_IO_PENDING}) {
    const std::string text = SystemErrorMessage(code);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
    EXPECT_THAT(text, ::testing::Not(HasSubstr("System error"))) << code;
  }
  EXPECT_EQ(SystemErrorMessage(0x2000FFFF), "System error 536936447.");
}

// --- The system's blocks, on a named pipe ---

class PipeDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "\\\\.\\pipe\\quillane-device-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    server_ = ::CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                 4096, 4096, 0, nullptr);
    ASSERT_NE(server_, INVALID_HANDLE_VALUE);
    ASSERT_EQ(CreateFileA("\\\\.\\" + name_, device_), ERROR_SUCCESS);
  }
  void TearDown() override {
    if (device_) device_->CloseHandle();
    if (server_ != INVALID_HANDLE_VALUE) ::CloseHandle(server_);
  }

  void ServerWrites(const std::string& bytes) {
    ::DWORD written = 0;
    ASSERT_TRUE(
        ::WriteFile(server_, bytes.data(), static_cast<::DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
  }
  std::string ServerReads(std::size_t count) {
    std::string bytes(count, '\0');
    ::DWORD read = 0;
    if (!::ReadFile(server_, bytes.data(), static_cast<::DWORD>(count), &read, nullptr)) return {};
    bytes.resize(read);
    return bytes;
  }

  std::string name_;
  HANDLE server_ = INVALID_HANDLE_VALUE;
  std::unique_ptr<SerialDevice> device_;
};

OVERLAPPED BlockWithEvent() {
  OVERLAPPED block;
  block.hEvent = platform::CreateEvent(true, true);
  return block;
}

TEST_F(PipeDevice, PendingReadEndsThroughTheBlocksOwnEvent) {
  OVERLAPPED block = BlockWithEvent();
  char buffer[16] = {};
  DWORD read = 99;
  ASSERT_EQ(device_->ReadFile(buffer, sizeof buffer, &read, &block), ERROR_IO_PENDING);
  EXPECT_EQ(read, 0u);
  // The system reset the event when the read began.
  EXPECT_EQ(platform::WaitForSingleObject(block.hEvent, 0), platform::WAIT_TIMEOUT);
  DWORD transferred = 99;
  EXPECT_EQ(device_->GetOverlappedResult(&block, &transferred, false), ERROR_IO_INCOMPLETE);

  ServerWrites("hello");
  ASSERT_EQ(platform::WaitForSingleObject(block.hEvent, 10000), platform::WAIT_OBJECT_0);
  ASSERT_EQ(device_->GetOverlappedResult(&block, &transferred, false), ERROR_SUCCESS);
  EXPECT_EQ(transferred, 5u);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(block.Internal, ERROR_SUCCESS);
  EXPECT_EQ(block.InternalHigh, 5u);
  // Taken once, the result stays the block's.
  transferred = 0;
  EXPECT_EQ(device_->GetOverlappedResult(&block, &transferred, false), ERROR_SUCCESS);
  EXPECT_EQ(transferred, 5u);
  EXPECT_EQ(EndedOperationResult(block, &transferred), ERROR_SUCCESS);
  EXPECT_EQ(transferred, 5u);
}

TEST_F(PipeDevice, WriteReachesTheOtherEndAndReportsItsCount) {
  OVERLAPPED block = BlockWithEvent();
  DWORD written = 0;
  const DWORD started = device_->WriteFile("A;12.5\r\n", 8, &written, &block);
  ASSERT_TRUE(started == ERROR_SUCCESS || started == ERROR_IO_PENDING) << started;
  EXPECT_EQ(ServerReads(8), "A;12.5\r\n");
  ASSERT_EQ(platform::WaitForSingleObject(block.hEvent, 10000), platform::WAIT_OBJECT_0);
  DWORD transferred = 0;
  EXPECT_EQ(device_->GetOverlappedResult(&block, &transferred, true), ERROR_SUCCESS);
  EXPECT_EQ(transferred, 8u);
}

TEST_F(PipeDevice, AReadEndedByTheClosedDeviceKeepsItsResultInTheBlock) {
  OVERLAPPED block = BlockWithEvent();
  char buffer[4] = {};
  DWORD read = 0;
  ASSERT_EQ(device_->ReadFile(buffer, sizeof buffer, &read, &block), ERROR_IO_PENDING);
  ASSERT_EQ(device_->CloseHandle(), ERROR_SUCCESS);
  device_.reset();
  ASSERT_EQ(platform::WaitForSingleObject(block.hEvent, 10000), platform::WAIT_OBJECT_0);
  DWORD transferred = 99;
  const DeviceError ended = EndedOperationResult(block, &transferred);
  EXPECT_NE(ended.code, ERROR_SUCCESS);
  EXPECT_NE(ended.code, ERROR_IO_INCOMPLETE);
  EXPECT_EQ(transferred, 0u);
}

TEST_F(PipeDevice, FailuresAreTheSystemsNumbers) {
  // A pipe is no serial line: the serial calls fail as the system says.
  EXPECT_NE(device_->SetupComm(1024, 1024), ERROR_SUCCESS);
  DCB dcb;
  EXPECT_NE(device_->GetCommState(dcb), ERROR_SUCCESS);
  // A block without an event cannot be signalled by the system.
  OVERLAPPED noEvent;
  char buffer[4] = {};
  DWORD read = 0;
  EXPECT_EQ(device_->ReadFile(buffer, sizeof buffer, &read, &noEvent), ERROR_INVALID_PARAMETER);
  // A block that never carried anything holds success and no bytes.
  OVERLAPPED idle = BlockWithEvent();
  DWORD transferred = 99;
  EXPECT_EQ(device_->GetOverlappedResult(&idle, &transferred, false), ERROR_SUCCESS);
  EXPECT_EQ(transferred, 0u);
  EXPECT_EQ(device_->CloseHandle(), ERROR_SUCCESS);
  EXPECT_EQ(device_->CloseHandle(), ERROR_INVALID_HANDLE);
  device_.reset();
}

}  // namespace
}  // namespace cport::device
