// Flow on the tty lines, for the virtual port and for a pseudo-terminal
// slave opened as a port: a sender faster than the reader loses nothing (the
// tty holds it back while the input queue is full), and output sent straight
// from the writer's thread keeps its order and its tx-empty event.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "cport/detail/device_openers.h"
#include "cport/posix/posix_fd.h"
#include "cport/posix/serial_device_virtual.h"
#include "cport/serial_device.h"

namespace cport::detail {
namespace {

using namespace cport::device;

constexpr COMMTIMEOUTS kPatient{0, 0, 10000, 0, 10000};

constexpr std::chrono::seconds kGenerous(20);  // a deadline only a fault reaches

std::string Pattern(std::size_t size) {
  std::string pattern(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    pattern[i] = static_cast<char>((i * 7 + i / 251) % 256);
  return pattern;
}

// Reads `count` bytes from the client's descriptor, in small pieces.
std::string ReadClient(int fd, std::size_t count) {
  std::string got;
  while (got.size() < count) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) break;
    std::array<char, 333> buffer;
    const ssize_t n = ::read(fd, buffer.data(), std::min(buffer.size(), count - got.size()));
    if (n <= 0) break;
    got.append(buffer.data(), static_cast<std::size_t>(n));
  }
  return got;
}

bool WriteClient(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

enum class Line { kVirtual, kPseudoTerminalSlave };

// A port on a tty line and the far end's descriptor (blocking, raw).
class LineFlow : public ::testing::TestWithParam<Line> {
 protected:
  void SetUp() override {
    DCB dcb;
    dcb.BaudRate = 115200;
    dcb.Flags = DCB_fBinary;
    dcb.ByteSize = 8;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    if (GetParam() == Line::kVirtual) {
      std::shared_ptr<VirtualLineCounters> counters;
      ASSERT_EQ(OpenVirtualDevice(device_, counters), ERROR_SUCCESS);
      client_ = UniqueFd(::open(device_->ClientPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
      // The attach flushes what was written for nobody: wait for it first.
      ASSERT_TRUE(counters->WaitFor([&] { return counters->attaches > 0; }, kGenerous));
      // Without output flow control a virtual line drops what its client
      // does not take; with it, writes wait as they do on a tty.
      dcb.Flags |= DCB_fOutxCtsFlow;
    } else {
      client_ = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
      ASSERT_TRUE(client_.Valid());
      ASSERT_EQ(::grantpt(client_.Get()), 0);
      ASSERT_EQ(::unlockpt(client_.Get()), 0);
      std::array<char, 128> name{};
      ASSERT_EQ(::ptsname_r(client_.Get(), name.data(), name.size()), 0);
      ASSERT_EQ(OpenPosixDevice(name.data(), device_), ERROR_SUCCESS);
    }
    ASSERT_TRUE(client_.Valid());
    ASSERT_EQ(device_->SetCommState(dcb), ERROR_SUCCESS);
    ASSERT_EQ(device_->SetCommTimeouts(kPatient), ERROR_SUCCESS);
  }
  void TearDown() override {
    if (device_) {
      EXPECT_EQ(device_->CloseHandle(), ERROR_SUCCESS);
    }
  }

  // The queues; the error bits are collected in errors_.
  COMSTAT Status() {
    COMSTAT stat;
    DWORD errors = 0;
    EXPECT_EQ(device_->ClearCommError(&errors, &stat), ERROR_SUCCESS);
    errors_ |= errors;
    return stat;
  }

  // Waits, woken by each received-byte event, until `inQueue` bytes wait.
  bool InputQueueReaches(DWORD inQueue) {
    EXPECT_EQ(device_->SetCommMask(EV_RXCHAR), ERROR_SUCCESS);
    OVERLAPPED wait{.hEvent = platform::CreateEvent(true, false)};
    while (Status().cbInQue < inQueue) {
      DWORD mask = 0;
      const DWORD started = device_->WaitCommEvent(&mask, &wait);
      if (started == ERROR_IO_PENDING &&
          platform::WaitForSingleObject(wait.hEvent, 20000) != platform::WAIT_OBJECT_0) {
        return false;
      }
      if (started != ERROR_IO_PENDING && started != ERROR_SUCCESS) return false;
    }
    return device_->SetCommMask(0) == ERROR_SUCCESS;
  }

  std::unique_ptr<SerialDevice> device_;
  UniqueFd client_;
  DWORD errors_ = 0;
};

TEST_P(LineFlow, FastSenderLosesNothingWhileTheInputQueueIsFull) {
  constexpr DWORD kQueue = 1024;
  ASSERT_EQ(device_->SetupComm(kQueue, kQueue), ERROR_SUCCESS);
  const std::string sent = Pattern(200 * 1024);
  bool allWritten = false;
  std::thread sender([&] { allWritten = WriteClient(client_.Get(), sent); });
  // The queue fills before anything is read, so the rest must wait in the tty.
  EXPECT_TRUE(InputQueueReaches(kQueue));
  std::string received;
  while (received.size() < sent.size()) {
    std::array<char, 97> piece;
    DWORD read = 0;
    const DWORD want = static_cast<DWORD>(std::min(piece.size(), sent.size() - received.size()));
    ASSERT_EQ(device_->ReadFile(piece.data(), want, &read, nullptr), ERROR_SUCCESS);
    ASSERT_GT(read, 0u) << "stalled after " << received.size() << " bytes";
    received.append(piece.data(), read);
  }
  sender.join();
  EXPECT_TRUE(allWritten);
  EXPECT_TRUE(received == sent) << "bytes lost or reordered";
  Status();
  EXPECT_EQ(errors_ & CE_RXOVER, 0u);
}

TEST_P(LineFlow, DirectAndQueuedWritesArriveInOrder) {
  const std::string sent = Pattern(300 * 1024);
  std::string received;
  std::thread reader([&] { received = ReadClient(client_.Get(), sent.size()); });
  // Sizes that go out whole, in part and not at all while the client reads.
  std::size_t offset = 0;
  for (std::size_t size = 1; offset < sent.size(); size = size * 3 % 4099 + 1) {
    const auto n = static_cast<DWORD>(std::min(size, sent.size() - offset));
    DWORD written = 0;
    ASSERT_EQ(device_->WriteFile(sent.data() + offset, n, &written, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(written, n);
    offset += n;
  }
  reader.join();
  EXPECT_TRUE(received == sent) << received.size() << " of " << sent.size()
                                << " bytes, or reordered";
}

TEST_P(LineFlow, TxEmptyComesWhenTheOutputHasLeft) {
  ASSERT_EQ(device_->SetCommMask(EV_TXEMPTY), ERROR_SUCCESS);
  DWORD mask = 0;
  OVERLAPPED wait{.hEvent = platform::CreateEvent(true, false)};
  // An idle line takes a short write at once.
  ASSERT_EQ(device_->WaitCommEvent(&mask, &wait), ERROR_IO_PENDING);
  DWORD written = 0;
  ASSERT_EQ(device_->WriteFile("ping", 4, &written, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(platform::WaitForSingleObject(wait.hEvent, 20000), platform::WAIT_OBJECT_0);
  EXPECT_EQ(mask, EV_TXEMPTY);
  EXPECT_EQ(ReadClient(client_.Get(), 4), "ping");

  // More than the tty holds while the client does not read: the event waits
  // for the client.
  const std::string big = Pattern(1 << 20);
  OVERLAPPED write{.hEvent = platform::CreateEvent(true, false)};
  platform::ResetEvent(wait.hEvent);
  ASSERT_EQ(device_->WaitCommEvent(&mask, &wait), ERROR_IO_PENDING);
  const DWORD started =
      device_->WriteFile(big.data(), static_cast<DWORD>(big.size()), &written, &write);
  ASSERT_TRUE(started == ERROR_SUCCESS || started == ERROR_IO_PENDING);
  EXPECT_GT(Status().cbOutQue, 0u);
  EXPECT_NE(platform::WaitForSingleObject(wait.hEvent, 0), platform::WAIT_OBJECT_0);
  EXPECT_TRUE(ReadClient(client_.Get(), big.size()) == big);
  ASSERT_EQ(platform::WaitForSingleObject(wait.hEvent, 20000), platform::WAIT_OBJECT_0);
  EXPECT_EQ(mask, EV_TXEMPTY);
  EXPECT_EQ(Status().cbOutQue, 0u);
  ASSERT_EQ(device_->GetOverlappedResult(&write, &written, true), ERROR_SUCCESS);
  EXPECT_EQ(written, big.size());
  platform::CloseHandle(write.hEvent);
  platform::CloseHandle(wait.hEvent);
}

INSTANTIATE_TEST_SUITE_P(TtyLines, LineFlow,
                         ::testing::Values(Line::kVirtual, Line::kPseudoTerminalSlave),
                         [](const ::testing::TestParamInfo<Line>& line) {
                           return line.param == Line::kVirtual ? "VirtualPort"
                                                               : "PseudoTerminalSlave";
                         });

}  // namespace
}  // namespace cport::detail
