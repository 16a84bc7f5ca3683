// The same behaviours over every kind of line: the memory line, a tty (a
// pseudo-terminal slave opened by path) and the virtual port. Each far end
// plays the other side of the wire.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "cport/detail/device_openers.h"
#include "cport/detail/serial_driver.h"
#include "cport/posix/posix_fd.h"
#include "cport/posix/serial_device_virtual.h"
#include "cport/serial_device.h"
#include "cport/serial_device_memory.h"
#include "tests/support/device_io.h"

namespace cport::detail {
namespace {

using namespace cport::device;

constexpr DWORD kWait = 10000;  // generous deadline for a wait to succeed

std::string ReadFd(int fd, std::size_t count) {
  std::string got;
  while (got.size() < count) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(kWait)) <= 0) break;
    std::array<char, 512> buffer;
    const ssize_t n = ::read(fd, buffer.data(), std::min(buffer.size(), count - got.size()));
    if (n <= 0) break;
    got.append(buffer.data(), static_cast<std::size_t>(n));
  }
  return got;
}

void WriteFd(int fd, const std::string& bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

class FarEnd {
 public:
  virtual ~FarEnd() = default;
  virtual DWORD Open(std::unique_ptr<SerialDevice>& device) = 0;
  virtual void Send(const std::string& bytes) = 0;
  virtual std::string Take(std::size_t count) = 0;
  // False for a line that cannot be unplugged.
  virtual bool HangUp() = 0;
};

class MemoryEnd final : public FarEnd {
 public:
  DWORD Open(std::unique_ptr<SerialDevice>& device) override {
    return CreateFileA(line_.Path(), device);
  }
  void Send(const std::string& bytes) override { ASSERT_TRUE(line_.Inject(bytes)); }
  std::string Take(std::size_t count) override {
    EXPECT_TRUE(line_.WaitForWritten(count));
    return line_.TakeWritten();
  }
  bool HangUp() override {
    line_.HangUp();
    return true;
  }

 private:
  MemoryLine line_{"h4-shared-line"};
};

class PtyEnd final : public FarEnd {
 public:
  PtyEnd() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    EXPECT_TRUE(master_.Valid());
    EXPECT_EQ(::grantpt(master_.Get()), 0);
    EXPECT_EQ(::unlockpt(master_.Get()), 0);
  }
  DWORD Open(std::unique_ptr<SerialDevice>& device) override {
    std::array<char, 128> name{};
    EXPECT_EQ(::ptsname_r(master_.Get(), name.data(), name.size()), 0);
    return CreateFileA(std::string("\\\\.\\") + name.data(), device);
  }
  void Send(const std::string& bytes) override { WriteFd(master_.Get(), bytes); }
  std::string Take(std::size_t count) override { return ReadFd(master_.Get(), count); }
  bool HangUp() override {
    master_.Reset();
    return true;
  }

 private:
  UniqueFd master_;
};

class VirtualEnd final : public FarEnd {
 public:
  DWORD Open(std::unique_ptr<SerialDevice>& device) override {
    const DWORD result = OpenVirtualDevice(device, counters_);
    if (result != ERROR_SUCCESS) return result;
    client_ = UniqueFd(::open(device->ClientPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    EXPECT_TRUE(client_.Valid());
    // The attach flushes stale output; wait for it before anything is sent.
    EXPECT_TRUE(counters_->WaitFor([this] { return counters_->attaches > 0; },
                                   std::chrono::milliseconds(kWait)));
    return result;
  }
  void Send(const std::string& bytes) override { WriteFd(client_.Get(), bytes); }
  std::string Take(std::size_t count) override { return ReadFd(client_.Get(), count); }
  bool HangUp() override { return false; }

 private:
  std::shared_ptr<VirtualLineCounters> counters_;
  UniqueFd client_;
};

struct Backend {
  const char* name;
  std::function<std::unique_ptr<FarEnd>()> make;
};

class LineBehaviour : public testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    far_ = GetParam().make();
    ASSERT_EQ(far_->Open(device_), ERROR_SUCCESS);
    ASSERT_EQ(device_->SetupComm(4096, 4096), ERROR_SUCCESS);
    ASSERT_EQ(device_->SetCommState(DefaultDcb()), ERROR_SUCCESS);
    ASSERT_EQ(device_->SetCommTimeouts({0, 0, kWait, 0, kWait}), ERROR_SUCCESS);
    overlapped_.hEvent = platform::CreateEvent(true, false);
  }
  void TearDown() override {
    if (device_) {
      EXPECT_EQ(device_->CloseHandle(), ERROR_SUCCESS);
    }
  }

  // Waits for the overlapped operation and returns its status.
  DWORD Finish(DWORD* count = nullptr) {
    EXPECT_EQ(platform::WaitForSingleObject(overlapped_.hEvent, kWait), platform::WAIT_OBJECT_0);
    DWORD transferred = 0;
    const DWORD status = device_->GetOverlappedResult(&overlapped_, &transferred, false);
    if (count != nullptr) *count = transferred;
    return status;
  }

  std::string Read(DWORD count) { return test_support::ReadFromDevice(*device_, count); }

  std::unique_ptr<FarEnd> far_;
  std::unique_ptr<SerialDevice> device_;
  OVERLAPPED overlapped_;
};

TEST_P(LineBehaviour, ArrivingBytesRaiseRxCharAndReadInOrder) {
  ASSERT_EQ(device_->SetCommMask(EV_RXCHAR), ERROR_SUCCESS);
  DWORD mask = 0;
  ASSERT_EQ(device_->WaitCommEvent(&mask, &overlapped_), ERROR_IO_PENDING);
  far_->Send("abc");
  ASSERT_EQ(Finish(), ERROR_SUCCESS);
  EXPECT_EQ(mask & EV_RXCHAR, EV_RXCHAR);
  EXPECT_EQ(Read(3), "abc");
}

TEST_P(LineBehaviour, WrittenBytesReachTheFarEndAndRaiseTxEmpty) {
  ASSERT_EQ(device_->SetCommMask(EV_TXEMPTY), ERROR_SUCCESS);
  DWORD mask = 0;
  ASSERT_EQ(device_->WaitCommEvent(&mask, &overlapped_), ERROR_IO_PENDING);
  const std::string reply = "ok\r\n";
  DWORD written = 0;
  ASSERT_EQ(device_->WriteFile(reply.data(), 4, &written, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(far_->Take(4), reply);
  ASSERT_EQ(Finish(), ERROR_SUCCESS);
  EXPECT_EQ(mask & EV_TXEMPTY, EV_TXEMPTY);
}

TEST_P(LineBehaviour, EveryByteValuePassesUnchangedBothWays) {
  std::string all;
  for (int value = 0; value < 256; ++value)
    all.push_back(static_cast<char>(value));
  far_->Send(all);
  EXPECT_EQ(Read(256), all);
  DWORD written = 0;
  ASSERT_EQ(device_->WriteFile(all.data(), 256, &written, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(far_->Take(256), all);
}

TEST_P(LineBehaviour, AbortEndsAPendingReadWithOperationAborted) {
  std::array<char, 8> buffer;
  DWORD read = 0;
  ASSERT_EQ(device_->ReadFile(buffer.data(), 8, &read, &overlapped_), ERROR_IO_PENDING);
  ASSERT_EQ(device_->PurgeComm(PURGE_TXABORT | PURGE_RXABORT), ERROR_SUCCESS);
  EXPECT_EQ(Finish(), ERROR_OPERATION_ABORTED);
}

TEST_P(LineBehaviour, HangUpEndsAPendingReadWithDeviceNotConnected) {
  std::array<char, 8> buffer;
  DWORD read = 0;
  ASSERT_EQ(device_->ReadFile(buffer.data(), 8, &read, &overlapped_), ERROR_IO_PENDING);
  if (!far_->HangUp()) {
    ASSERT_EQ(device_->PurgeComm(PURGE_RXABORT), ERROR_SUCCESS);
    Finish();
    GTEST_SKIP() << "this line cannot be unplugged";
  }
  EXPECT_EQ(Finish(), ERROR_DEVICE_NOT_CONNECTED);
}

INSTANTIATE_TEST_SUITE_P(
    Backends, LineBehaviour,
    testing::Values(Backend{"Memory", [] { return std::make_unique<MemoryEnd>(); }},
                    Backend{"PseudoTerminal", [] { return std::make_unique<PtyEnd>(); }},
                    Backend{"Virtual", [] { return std::make_unique<VirtualEnd>(); }}),
    [](const testing::TestParamInfo<Backend>& backend) { return std::string(backend.param.name); });

}  // namespace
}  // namespace cport::detail
