// Opening devices by name, the memory line as a test's far end, the loopback
// and the texts of the system error numbers.
#include "cport/serial_device_memory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

namespace cport::device {
namespace {

using ::testing::ElementsAre;

struct Transfer {
  OVERLAPPED overlapped{.hEvent = platform::CreateEvent(true, true)};
  std::string buffer = std::string(64, '\0');
  DWORD count = 0;
  DWORD mask = 0;

  bool Signalled() const { return platform::WaitForSingleObject(overlapped.hEvent, 0) == 0; }
};

class MemoryLineTest : public ::testing::Test {
 protected:
  MemoryLine line_{"MEMTEST"};
  std::unique_ptr<SerialDevice> device_;

  void SetUp() override { ASSERT_EQ(CreateFileA(line_.Path(), device_), ERROR_SUCCESS); }
  void TearDown() override {
    if (device_) device_->CloseHandle();
  }
  std::string ReadNow(DWORD count = 64) {
    EXPECT_EQ(device_->SetCommTimeouts({MAXDWORD, 0, 0, 0, 0}), ERROR_SUCCESS);
    std::string buffer(count, '\0');
    DWORD read = 0;
    EXPECT_EQ(device_->ReadFile(buffer.data(), count, &read, nullptr), ERROR_SUCCESS);
    return buffer.substr(0, read);
  }
};

// --- Opening by name ---

TEST(PortNames, UnknownOrMalformedNamesAreNotFound) {
  std::unique_ptr<SerialDevice> device;
  for (const char* path : {"MEMTEST", "\\\\.\\", "\\\\.\\nosuchport", "\\\\.\\COM0", "\\\\.\\COM",
                           "\\\\.\\COMx", "\\\\.\\COM01"}) {
    EXPECT_EQ(CreateFileA(path, device), ERROR_FILE_NOT_FOUND) << path;
    EXPECT_FALSE(device) << path;
  }
}

TEST(PortNames, MemoryLineNameIsRegisteredForItsLifetime) {
  std::unique_ptr<SerialDevice> device;
  {
    MemoryLine line("loop");  // takes precedence over the built-in loopback
    EXPECT_THROW(MemoryLine("loop"), std::logic_error);
    ASSERT_EQ(CreateFileA("\\\\.\\loop", device), ERROR_SUCCESS);
    EXPECT_TRUE(line.IsOpen());
    EXPECT_EQ(device->CloseHandle(), ERROR_SUCCESS);
    EXPECT_FALSE(line.IsOpen());
  }
  ASSERT_EQ(CreateFileA("\\\\.\\LOOP", device), ERROR_SUCCESS) << "the loopback again";
  EXPECT_EQ(device->CloseHandle(), ERROR_SUCCESS);
}

TEST_F(MemoryLineTest, SecondOpenIsDeniedUntilTheFirstCloses) {
  std::unique_ptr<SerialDevice> second;
  EXPECT_EQ(CreateFileA(line_.Path(), second), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(second);
  ASSERT_EQ(device_->CloseHandle(), ERROR_SUCCESS);
  EXPECT_EQ(CreateFileA(line_.Path(), second), ERROR_SUCCESS);
  EXPECT_EQ(second->CloseHandle(), ERROR_SUCCESS);
}

// --- The call log ---

TEST_F(MemoryLineTest, LogsEveryCallWithItsArgumentsInOrder) {
  DCB dcb;
  dcb.BaudRate = 9600;
  dcb.Flags = DCB_fBinary;
  dcb.XonLim = dcb.XoffLim = 256;
  dcb.ByteSize = 8;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  ASSERT_EQ(device_->SetupComm(1024, 1024), ERROR_SUCCESS);
  ASSERT_EQ(device_->SetCommState(dcb), ERROR_SUCCESS);
  ASSERT_EQ(device_->SetCommTimeouts({MAXDWORD, 0, 0, 100, 1000}), ERROR_SUCCESS);
  ASSERT_EQ(device_->PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR), ERROR_SUCCESS);
  ASSERT_EQ(device_->CloseHandle(), ERROR_SUCCESS);

  std::vector<std::string> calls;
  for (const DeviceCall& call : line_.Calls())
    calls.push_back(call.ToString());
  EXPECT_THAT(calls, ElementsAre("CreateFileA(\\\\.\\MEMTEST)", "SetupComm(1024, 1024)",
                                 "SetCommState(BaudRate=9600, Flags=0x00000001, XonLim=256, "
                                 "XoffLim=256, ByteSize=8, Parity=0, StopBits=0, XonChar=17, "
                                 "XoffChar=19, ErrorChar=0, EofChar=0, EvtChar=0)",
                                 "SetCommTimeouts(4294967295, 0, 0, 100, 1000)", "PurgeComm(12)",
                                 "CloseHandle()"));
  EXPECT_EQ(line_.Calls()[2].dcb, dcb);
  EXPECT_EQ(line_.State(), dcb);
  EXPECT_THAT(line_.CallNames({"CreateFileA", "CloseHandle"}),
              ElementsAre("SetupComm", "SetCommState", "SetCommTimeouts", "PurgeComm"));
}

TEST_F(MemoryLineTest, LogsWrittenBytesAndResults) {
  DWORD written = 0;
  ASSERT_EQ(device_->WriteFile("hi", 2, &written, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(device_->SetupComm(0, 0), ERROR_INVALID_PARAMETER);
  const std::vector<DeviceCall> calls = line_.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1].data, "hi");
  EXPECT_EQ(calls[2].result, ERROR_INVALID_PARAMETER);
}

// --- Failures on demand ---

TEST_F(MemoryLineTest, FailNextFailsOnceAndFailAlwaysUntilCleared) {
  line_.FailNext("SetCommState", ERROR_INVALID_PARAMETER);
  EXPECT_EQ(device_->SetCommState(DCB{}), ERROR_INVALID_PARAMETER);
  DCB dcb;
  ASSERT_EQ(device_->GetCommState(dcb), ERROR_SUCCESS);
  EXPECT_EQ(device_->SetCommState(dcb), ERROR_SUCCESS);

  line_.FailAlways("ClearCommError", ERROR_GEN_FAILURE);
  EXPECT_EQ(device_->ClearCommError(nullptr, nullptr), ERROR_GEN_FAILURE);
  EXPECT_EQ(device_->ClearCommError(nullptr, nullptr), ERROR_GEN_FAILURE);
  line_.ClearFailures();
  EXPECT_EQ(device_->ClearCommError(nullptr, nullptr), ERROR_SUCCESS);
}

TEST_F(MemoryLineTest, FailedOverlappedCallLeavesItsEventUnsignalled) {
  ASSERT_EQ(device_->SetCommMask(EV_RXCHAR), ERROR_SUCCESS);
  line_.FailNext("WaitCommEvent", ERROR_GEN_FAILURE);
  Transfer t;
  EXPECT_EQ(device_->WaitCommEvent(&t.mask, &t.overlapped), ERROR_GEN_FAILURE);
  EXPECT_FALSE(t.Signalled());
  EXPECT_EQ(device_->GetOverlappedResult(&t.overlapped, &t.count, false), ERROR_GEN_FAILURE);
}

TEST(MemoryLineOpen, OpenAndCloseCanFail) {
  MemoryLine line("MEMFAIL");
  std::unique_ptr<SerialDevice> device;
  line.FailNext("CreateFileA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(CreateFileA(line.Path(), device), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(device);
  ASSERT_EQ(CreateFileA(line.Path(), device), ERROR_SUCCESS);
  line.FailNext("CloseHandle", ERROR_GEN_FAILURE);
  EXPECT_EQ(device->CloseHandle(), ERROR_GEN_FAILURE);
  EXPECT_TRUE(line.IsOpen()) << "a failed close leaves the device open";
  EXPECT_TRUE(line.Inject("x"));
  EXPECT_EQ(device->CloseHandle(), ERROR_SUCCESS);
  EXPECT_FALSE(line.Inject("x"));
}

// --- The far end ---

TEST_F(MemoryLineTest, InjectedBytesAreReadAndWrittenBytesTaken) {
  EXPECT_TRUE(line_.Inject("ping"));
  EXPECT_EQ(ReadNow(), "ping");
  DWORD written = 0;
  ASSERT_EQ(device_->WriteFile("pong", 4, &written, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(line_.TakeWritten(), "pong");
  EXPECT_EQ(line_.Written(), "");
}

TEST_F(MemoryLineTest, HeldWritesStayQueuedAndTimeOutShort) {
  auto clock = std::make_shared<detail::ManualClock>();
  MemoryLine timed("MEMTIMED", clock);
  std::unique_ptr<SerialDevice> device;
  ASSERT_EQ(CreateFileA(timed.Path(), device), ERROR_SUCCESS);
  ASSERT_EQ(device->SetupComm(16, 4), ERROR_SUCCESS);
  ASSERT_EQ(device->SetCommTimeouts({MAXDWORD, 0, 0, 100, 1000}), ERROR_SUCCESS);
  timed.HoldWrites(true);
  Transfer t;
  t.buffer = "abcdef";
  ASSERT_EQ(device->WriteFile(t.buffer.data(), 6, &t.count, &t.overlapped), ERROR_IO_PENDING);
  EXPECT_EQ(timed.OutputQueued(), 4u);
  clock->Advance(std::chrono::milliseconds(1600));
  ASSERT_TRUE(t.Signalled());
  EXPECT_EQ(device->GetOverlappedResult(&t.overlapped, &t.count, false), ERROR_SUCCESS);
  EXPECT_EQ(t.count, 4u) << "a timeout is a shorter count, not a failure";
  timed.HoldWrites(false);
  EXPECT_EQ(timed.Written(), "abcd");
  EXPECT_EQ(device->CloseHandle(), ERROR_SUCCESS);
}

TEST_F(MemoryLineTest, LimitedWritesCompleteShort) {
  line_.LimitWrites(3);
  DWORD written = 0;
  ASSERT_EQ(device_->WriteFile("abcdef", 6, &written, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(line_.Written(), "abc");
  line_.LimitWrites(std::nullopt);
  ASSERT_EQ(device_->WriteFile("def", 3, &written, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(line_.Written(), "abcdef");
}

TEST_F(MemoryLineTest, LineErrorsBreaksAndModemLinesReachTheDevice) {
  ASSERT_EQ(device_->SetCommMask(EV_ERR | EV_BREAK | EV_CTS | EV_RLSD), ERROR_SUCCESS);
  ASSERT_TRUE(line_.InjectLineError(CE_OVERRUN));
  ASSERT_TRUE(line_.InjectBreak());
  line_.SetModemLines(MS_CTS_ON | MS_RLSD_ON);
  Transfer t;
  ASSERT_EQ(device_->WaitCommEvent(&t.mask, &t.overlapped), ERROR_SUCCESS);
  EXPECT_EQ(t.mask, EV_ERR | EV_BREAK | EV_CTS | EV_RLSD);
  DWORD errors = 0, status = 0;
  ASSERT_EQ(device_->ClearCommError(&errors, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(errors, CE_OVERRUN | CE_BREAK);
  ASSERT_EQ(device_->GetCommModemStatus(&status), ERROR_SUCCESS);
  EXPECT_EQ(status, MS_CTS_ON | MS_RLSD_ON);
}

TEST(MemoryLineOpen, ModemLevelsSetBeforeOpenAreSeenWithoutAnEvent) {
  MemoryLine line("MEMMODEM");
  line.SetModemLines(MS_DSR_ON);
  std::unique_ptr<SerialDevice> device;
  ASSERT_EQ(CreateFileA(line.Path(), device), ERROR_SUCCESS);
  DWORD status = 0;
  ASSERT_EQ(device->GetCommModemStatus(&status), ERROR_SUCCESS);
  EXPECT_EQ(status, MS_DSR_ON);
  EXPECT_EQ(device->CloseHandle(), ERROR_SUCCESS);
}

TEST_F(MemoryLineTest, HangUpWakesAWaiterInAnotherThreadOnce) {
  ASSERT_EQ(device_->SetCommMask(EV_RXCHAR), ERROR_SUCCESS);
  Transfer t;
  ASSERT_EQ(device_->WaitCommEvent(&t.mask, &t.overlapped), ERROR_IO_PENDING);
  std::thread far([&] { line_.HangUp(); });
  ASSERT_EQ(platform::WaitForSingleObject(t.overlapped.hEvent, 10000), platform::WAIT_OBJECT_0);
  far.join();
  EXPECT_EQ(device_->GetOverlappedResult(&t.overlapped, &t.count, false),
            ERROR_DEVICE_NOT_CONNECTED);
  Transfer next;
  EXPECT_EQ(device_->WaitCommEvent(&next.mask, &next.overlapped), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(next.Signalled());
}

TEST_F(MemoryLineTest, WaitForWrittenSeesBytesFromAnotherThread) {
  std::thread writer([&] {
    DWORD written = 0;
    device_->WriteFile("late", 4, &written, nullptr);
  });
  EXPECT_TRUE(line_.WaitForWritten(4));
  EXPECT_TRUE(line_.WaitForCall("WriteFile"));
  writer.join();
  EXPECT_EQ(line_.Written(), "late");
}

// --- The loopback ---

TEST(LoopDevice, WhatIsWrittenIsReadBack) {
  std::unique_ptr<SerialDevice> device;
  ASSERT_EQ(CreateFileA("\\\\.\\loop", device), ERROR_SUCCESS);
  ASSERT_EQ(device->SetCommMask(EV_RXCHAR | EV_TXEMPTY), ERROR_SUCCESS);
  Transfer wait;
  ASSERT_EQ(device->WaitCommEvent(&wait.mask, &wait.overlapped), ERROR_IO_PENDING);
  DWORD written = 0;
  ASSERT_EQ(device->WriteFile("echo", 4, &written, nullptr), ERROR_SUCCESS);
  ASSERT_TRUE(wait.Signalled());
  EXPECT_EQ(wait.mask & EV_RXCHAR, EV_RXCHAR);
  ASSERT_EQ(device->SetCommTimeouts({MAXDWORD, 0, 0, 0, 0}), ERROR_SUCCESS);
  char buffer[8] = {};
  DWORD read = 0;
  ASSERT_EQ(device->ReadFile(buffer, 8, &read, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, read), "echo");
  EXPECT_EQ(device->CloseHandle(), ERROR_SUCCESS);
}

TEST(LoopDevice, DtrAndRtsComeBackAsModemLines) {
  std::unique_ptr<SerialDevice> device;
  ASSERT_EQ(CreateFileA("\\\\.\\loop", device), ERROR_SUCCESS);
  DCB dcb;
  ASSERT_EQ(device->GetCommState(dcb), ERROR_SUCCESS);
  dcb.Flags |= DTR_CONTROL_ENABLE << DCB_fDtrControlShift;
  ASSERT_EQ(device->SetCommState(dcb), ERROR_SUCCESS);
  DWORD status = 0;
  ASSERT_EQ(device->GetCommModemStatus(&status), ERROR_SUCCESS);
  EXPECT_EQ(status, MS_DSR_ON | MS_RLSD_ON);
  EXPECT_EQ(device->CloseHandle(), ERROR_SUCCESS);
}

}  // namespace
}  // namespace cport::device
