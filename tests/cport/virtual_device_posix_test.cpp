// The virtual port against clients that open its slave path.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cport/posix/posix_fd.h"
#include "cport/posix/serial_device_virtual.h"
#include "cport/serial_device.h"
#include "platform/events.h"
#include "tests/support/device_io.h"

namespace cport::detail {
namespace {

using namespace cport::device;

constexpr COMMTIMEOUTS kPatient{0, 0, 10000, 0, 10000};
constexpr COMMTIMEOUTS kImmediateReads{MAXDWORD, 0, 0, 0, 10000};

constexpr std::chrono::seconds kGenerous(10);  // a deadline only a fault reaches

std::string ReadClient(int fd, std::size_t count) {
  std::string got;
  while (got.size() < count) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) break;
    std::array<char, 256> buffer;
    const ssize_t n = ::read(fd, buffer.data(), std::min(buffer.size(), count - got.size()));
    if (n <= 0) break;
    got.append(buffer.data(), static_cast<std::size_t>(n));
  }
  return got;
}

class VirtualDevice : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(OpenVirtualDevice(device_, counters_), ERROR_SUCCESS);
    DCB dcb;
    dcb.BaudRate = 9600;
    dcb.Flags = DCB_fBinary;
    dcb.ByteSize = 8;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    ASSERT_EQ(device_->SetCommState(dcb), ERROR_SUCCESS);
    ASSERT_EQ(device_->SetCommTimeouts(kPatient), ERROR_SUCCESS);
  }
  void TearDown() override { EXPECT_EQ(device_->CloseHandle(), ERROR_SUCCESS); }

  UniqueFd Attach() {
    const std::uint64_t before = counters_->attaches;
    UniqueFd client(::open(device_->ClientPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    EXPECT_TRUE(client.Valid());
    EXPECT_TRUE(counters_->WaitFor([&] { return counters_->attaches > before; }, kGenerous));
    return client;
  }

  // Waits for the driver's output queue to run empty (EV_TXEMPTY).
  bool OutputDrained() {
    EXPECT_EQ(device_->SetCommMask(EV_TXEMPTY), ERROR_SUCCESS);
    OVERLAPPED overlapped;
    overlapped.hEvent = platform::CreateEvent(true, false);
    while (OutputQueued() != 0) {
      DWORD mask = 0;
      const DWORD started = device_->WaitCommEvent(&mask, &overlapped);
      if (started == ERROR_IO_PENDING &&
          platform::WaitForSingleObject(overlapped.hEvent, 10000) != platform::WAIT_OBJECT_0) {
        return false;
      }
      if (started != ERROR_IO_PENDING && started != ERROR_SUCCESS) return false;
    }
    return true;
  }

  DWORD Write(const std::string& bytes) { return test_support::WriteToDevice(*device_, bytes); }

  std::string Read(DWORD count) { return test_support::ReadFromDevice(*device_, count); }

  DWORD OutputQueued() {
    DWORD errors = 0;
    COMSTAT stat;
    EXPECT_EQ(device_->ClearCommError(&errors, &stat), ERROR_SUCCESS);
    return stat.cbOutQue;
  }

  std::unique_ptr<SerialDevice> device_;
  std::shared_ptr<VirtualLineCounters> counters_;
};

TEST_F(VirtualDevice, ClientTalksThroughTheSlavePath) {
  EXPECT_EQ(device_->ClientPath().rfind("/dev/pts/", 0), 0u) << device_->ClientPath();
  UniqueFd client = Attach();
  const std::string command = "S1=12.5\r\n";
  ASSERT_EQ(::write(client.Get(), command.data(), command.size()),
            static_cast<ssize_t>(command.size()));
  EXPECT_EQ(Read(static_cast<DWORD>(command.size())), command) << "the slave is raw";
  EXPECT_EQ(Write("ok\r\n"), 4u);
  EXPECT_EQ(ReadClient(client.Get(), 4), "ok\r\n");
}

TEST_F(VirtualDevice, ClientLeavingIsNoHangUpAndTheNextClientIsServed) {
  { UniqueFd first = Attach(); }
  ASSERT_EQ(device_->SetCommTimeouts(kImmediateReads), ERROR_SUCCESS);
  EXPECT_EQ(Read(4), "") << "a read finds nothing instead of failing";
  ASSERT_EQ(device_->SetCommTimeouts(kPatient), ERROR_SUCCESS);
  UniqueFd second = Attach();
  ASSERT_EQ(::write(second.Get(), "hi", 2), 2);
  EXPECT_EQ(Read(2), "hi");
}

TEST_F(VirtualDevice, WithLineTimingEveryByteStillPassesBothWays) {
  ASSERT_EQ(device_->SetLineTiming(true), ERROR_SUCCESS);
  UniqueFd client = Attach();
  const std::string command = "A;12.5\r\nb\r\n?\r\n";
  ASSERT_EQ(::write(client.Get(), command.data(), command.size()),
            static_cast<ssize_t>(command.size()));
  EXPECT_EQ(Read(static_cast<DWORD>(command.size())), command);
  EXPECT_EQ(Write("quillane, V 1.0\r\n"), 17u) << "the default timeout leaves time for all";
  EXPECT_EQ(ReadClient(client.Get(), 17), "quillane, V 1.0\r\n");
}

// The client's side hangs up, and the port goes on behind a new path.
TEST_F(VirtualDevice, DroppingTheClientHangsItUpAndTheNextClientIsServed) {
  UniqueFd first = Attach();
  const std::string oldPath = device_->ClientPath();
  ASSERT_EQ(device_->DropClient(), ERROR_SUCCESS);
  pollfd p{first.Get(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 10000), 1);
  EXPECT_NE(p.revents & POLLHUP, 0) << "a hang-up, not data";
  char byte = 0;
  EXPECT_EQ(::read(first.Get(), &byte, 1), 0) << "the client reads the end of the line";
  EXPECT_EQ(counters_->clientsDropped, 1u);

  EXPECT_NE(device_->ClientPath(), oldPath);
  Write("stale\r\n");  // written while nobody is attached: flushed at the attach
  UniqueFd second = Attach();
  ASSERT_EQ(::write(second.Get(), "hi", 2), 2);
  EXPECT_EQ(Read(2), "hi");
  EXPECT_EQ(Write("ok\r\n"), 4u);
  EXPECT_EQ(ReadClient(second.Get(), 4), "ok\r\n");
  DWORD status = 0;
  EXPECT_EQ(device_->GetCommModemStatus(&status), ERROR_SUCCESS) << "the device saw no hang-up";
}

TEST_F(VirtualDevice, DroppingWhenNoClientIsAttachedStillMovesThePort) {
  const std::string oldPath = device_->ClientPath();
  ASSERT_EQ(device_->DropClient(), ERROR_SUCCESS);
  EXPECT_NE(device_->ClientPath(), oldPath);
  UniqueFd client = Attach();
  EXPECT_EQ(Write("ok"), 2u);
  EXPECT_EQ(ReadClient(client.Get(), 2), "ok");
}

TEST_F(VirtualDevice, RepeatedAttachAndDetachDoesNotSpin) {
  constexpr int kRounds = 50;
  for (int i = 0; i < kRounds; ++i) {
    UniqueFd client = Attach();
  }
  // Each open and close wakes the I/O thread at most a few times; a thread
  // spinning on a hang-up would count millions.
  EXPECT_LE(counters_->wakeups.load(), 4u * kRounds + 10);
  UniqueFd client = Attach();
  EXPECT_EQ(Write("alive"), 5u);
  EXPECT_EQ(ReadClient(client.Get(), 5), "alive");
}

TEST_F(VirtualDevice, ClientThatStopsReadingNeverStallsWrites) {
  UniqueFd client = Attach();
  const std::string block(64 * 1024, 'x');
  for (int i = 0; i < 32; ++i) {
    ASSERT_EQ(Write(block), block.size()) << "write " << i << " stalled";
  }
  EXPECT_TRUE(OutputDrained());
  EXPECT_GT(counters_->dropped.load(), 0u);
}

// Collects the device's notices for a test thread to wait on.
class Notices {
 public:
  NoticeHandler Handler() {
    return [this](const DeviceNotice& notice) {
      const std::lock_guard lock(mutex_);
      seen_.push_back(notice);
      changed_.notify_all();
    };
  }
  std::vector<DeviceNotice> WaitForOne() {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kGenerous, [this] { return !seen_.empty(); });
    return seen_;
  }
  std::vector<DeviceNotice> Seen() {
    const std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<DeviceNotice> seen_;
};

TEST_F(VirtualDevice, OutputLostToAStalledClientIsToldOnceWhenItReadsAgain) {
  Notices notices;
  device_->SetNoticeHandler(notices.Handler());
  UniqueFd client = Attach();
  const std::string block(64 * 1024, 'x');
  for (int i = 0; i < 4; ++i)
    ASSERT_EQ(Write(block), block.size());
  ASSERT_TRUE(counters_->WaitFor([&] { return counters_->dropped > 0; }, kGenerous));
  EXPECT_TRUE(OutputDrained());
  EXPECT_TRUE(notices.Seen().empty()) << "told when the stall ends, not while it lasts";
  // The client reads again: what it has is what was not lost.
  const std::uint64_t lost = counters_->dropped;
  const std::string kept = ReadClient(client.Get(), 4 * block.size() - lost);
  EXPECT_EQ(kept.size() + lost, 4 * block.size());
  const std::vector<DeviceNotice> told = notices.WaitForOne();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].kind, DeviceNotice::Kind::OutputLost);
  EXPECT_EQ(told[0].bytes, lost);
  EXPECT_EQ(Write("after"), 5u);
  EXPECT_EQ(ReadClient(client.Get(), 5), "after");
  EXPECT_EQ(notices.Seen().size(), 1u) << "once per stall";
}

TEST_F(VirtualDevice, OutputLostToAClientThatLeavesIsToldWhenItLeaves) {
  Notices notices;
  device_->SetNoticeHandler(notices.Handler());
  {
    UniqueFd client = Attach();
    const std::string block(64 * 1024, 'x');
    for (int i = 0; i < 4; ++i)
      ASSERT_EQ(Write(block), block.size());
    ASSERT_TRUE(counters_->WaitFor([&] { return counters_->dropped > 0; }, kGenerous));
    EXPECT_TRUE(OutputDrained());
  }
  const std::vector<DeviceNotice> told = notices.WaitForOne();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].bytes, counters_->dropped.load());
}

TEST_F(VirtualDevice, AClientThatReadsBehindTheWriterLosesNothing) {
  UniqueFd client = Attach();
  // Far more than the pseudo-terminal holds, read in small pieces.
  std::string pattern(1 << 20, '\0');
  for (std::size_t i = 0; i < pattern.size(); ++i)
    pattern[i] = static_cast<char>(i % 251);
  std::string received;
  std::thread reader([&] { received = ReadClient(client.Get(), pattern.size()); });
  for (std::size_t at = 0; at < pattern.size(); at += 4096)
    EXPECT_EQ(Write(pattern.substr(at, 4096)), 4096u);
  reader.join();
  EXPECT_EQ(received.size(), pattern.size());
  EXPECT_TRUE(received == pattern);
  EXPECT_EQ(counters_->dropped.load(), 0u);
}

TEST_F(VirtualDevice, WithOutputFlowControlNothingIsDroppedAndWritesWaitForTheClient) {
  DCB dcb;
  dcb.BaudRate = 9600;
  dcb.Flags = DCB_fBinary | DCB_fOutxCtsFlow | (RTS_CONTROL_HANDSHAKE << DCB_fRtsControlShift);
  dcb.ByteSize = 8;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  ASSERT_EQ(device_->SetCommState(dcb), ERROR_SUCCESS);
  ASSERT_EQ(device_->SetCommTimeouts({0, 0, 10000, 0, 300}), ERROR_SUCCESS);
  UniqueFd client = Attach();
  std::string pattern(1 << 20, '\0');
  for (std::size_t i = 0; i < pattern.size(); ++i)
    pattern[i] = static_cast<char>(i % 251);
  // The client reads nothing: the write ends short when its timeout runs out.
  const DWORD written = Write(pattern);
  EXPECT_LT(written, pattern.size());
  EXPECT_GT(written, 0u);
  // Every byte reported written reaches the client, in order, once it reads.
  EXPECT_EQ(ReadClient(client.Get(), written), pattern.substr(0, written));
  EXPECT_EQ(counters_->dropped.load(), 0u);
}

TEST_F(VirtualDevice, StaleOutputIsFlushedWhenAClientAttaches) {
  EXPECT_EQ(Write("stale"), 5u);
  EXPECT_TRUE(OutputDrained());
  UniqueFd client = Attach();
  EXPECT_GE(counters_->staleFlushed.load(), 5u);
  EXPECT_EQ(Write("fresh"), 5u);
  EXPECT_EQ(ReadClient(client.Get(), 5), "fresh");
}

TEST_F(VirtualDevice, PurgeDropsWhatTheClientHasNotRead) {
  UniqueFd client = Attach();
  EXPECT_EQ(Write("old"), 3u);
  EXPECT_TRUE(OutputDrained());
  ASSERT_EQ(device_->PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR), ERROR_SUCCESS);
  EXPECT_EQ(Write("new"), 3u);
  EXPECT_EQ(ReadClient(client.Get(), 3), "new");
}

TEST(VirtualDeviceOpen, EveryPortHasItsOwnSlave) {
  std::unique_ptr<SerialDevice> a, b;
  ASSERT_EQ(CreateFileA("\\\\.\\virtual", a), ERROR_SUCCESS);
  ASSERT_EQ(CreateFileA("\\\\.\\virtual", b), ERROR_SUCCESS);
  EXPECT_NE(a->ClientPath(), b->ClientPath());
  EXPECT_EQ(a->CloseHandle(), ERROR_SUCCESS);
  EXPECT_EQ(b->CloseHandle(), ERROR_SUCCESS);
}

}  // namespace
}  // namespace cport::detail
