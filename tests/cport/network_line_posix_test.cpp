// The network line against clients on TCP sockets.
#include "cport/posix/network_line.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "cport/detail/device_openers.h"
#include "cport/detail/rfc2217_session.h"
#include "cport/serial_device.h"
#include "tests/support/device_io.h"

namespace cport::detail {
namespace {

using namespace cport::device;
using Bytes = std::vector<std::uint8_t>;

constexpr COMMTIMEOUTS kPatient{0, 0, 10000, 0, 10000};
constexpr int kPatienceMs = 10000;

// The notices a device reported, waited for with a generous deadline.
class Notices {
 public:
  NoticeHandler Handler() {
    return [this](const DeviceNotice& notice) {
      const std::lock_guard lock(mutex_);
      texts_.push_back(notice.text);
      changed_.notify_all();
    };
  }
  std::string Next() {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(kPatienceMs),
                           [&] { return taken_ < texts_.size(); })) {
      return "(no notice)";
    }
    return texts_[taken_++];
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> texts_;
  std::size_t taken_ = 0;
};

std::uint16_t PortOf(const std::string& url) {
  return static_cast<std::uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)));
}

class Client {
 public:
  // `receiveBuffer` 0: the system's choice.
  explicit Client(std::uint16_t port, int receiveBuffer = 0)
      : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (receiveBuffer > 0) {
      ::setsockopt(fd_.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  void Send(std::string_view bytes) {
    EXPECT_EQ(::send(fd_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  void Send(const Bytes& bytes) {
    Send(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  // Exactly `count` bytes, or fewer when the deadline passed or the
  // connection ended.
  std::string Receive(std::size_t count) {
    std::string got;
    while (got.size() < count) {
      pollfd p{fd_.Get(), POLLIN, 0};
      if (::poll(&p, 1, kPatienceMs) <= 0) break;
      char buffer[4096];
      const ssize_t n = ::recv(fd_.Get(), buffer, std::min(sizeof buffer, count - got.size()), 0);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }
  // True when the server closed the connection (a read of 0 or a reset).
  bool Closed() {
    pollfd p{fd_.Get(), POLLIN, 0};
    if (::poll(&p, 1, kPatienceMs) <= 0) return false;
    char byte = 0;
    return ::recv(fd_.Get(), &byte, 1, 0) <= 0;
  }
  void Close() { fd_.Reset(); }

 private:
  UniqueFd fd_;
};

class NetworkDevice : public testing::Test {
 protected:
  void Open(const std::string& name) {
    ASSERT_EQ(OpenNetworkDevice(name, device_, counters_), ERROR_SUCCESS);
    device_->SetNoticeHandler(notices_.Handler());
    ASSERT_EQ(device_->SetCommTimeouts(kPatient), ERROR_SUCCESS);
    port_ = PortOf(device_->ClientPath());
  }
  void TearDown() override {
    if (device_) {
      EXPECT_EQ(device_->CloseHandle(), ERROR_SUCCESS);
    }
  }
  void Write(std::string_view bytes) {
    EXPECT_EQ(test_support::WriteToDevice(*device_, bytes), bytes.size());
  }
  std::string Read(DWORD count) { return test_support::ReadFromDevice(*device_, count); }
  // A client the device has seen: its first bytes arrived.
  Client Attached(int receiveBuffer = 0) {
    Client client(port_, receiveBuffer);
    client.Send("!");
    EXPECT_EQ(Read(1), "!");
    return client;
  }

  std::unique_ptr<SerialDevice> device_;
  std::shared_ptr<NetworkLineCounters> counters_;
  Notices notices_;
  std::uint16_t port_ = 0;
};

TEST_F(NetworkDevice, RawBytesPassBothWays) {
  Open("tcp:0");
  EXPECT_EQ(device_->ClientPath(), "socket://127.0.0.1:" + std::to_string(port_));
  Client client = Attached();
  client.Send(std::string("A;1\r\n\xff", 6));
  EXPECT_EQ(Read(6), std::string("A;1\r\n\xff", 6));
  Write(std::string("ok\r\n\xff", 5));
  EXPECT_EQ(client.Receive(5), std::string("ok\r\n\xff", 5));
}

TEST_F(NetworkDevice, ASecondClientIsRefusedAndReported) {
  Open("tcp:0");
  Client first = Attached();
  Client second(port_);
  EXPECT_TRUE(second.Closed());
  EXPECT_EQ(notices_.Next().rfind("refused network client 127.0.0.1:", 0), 0u);
  EXPECT_EQ(counters_->refused, 1u);
  first.Send("x");
  EXPECT_EQ(Read(1), "x") << "the first client stays attached";
}

TEST_F(NetworkDevice, AClientThatLeftIsFollowedByTheNextWithoutStaleOutput) {
  Open("tcp:0");
  for (int round = 0; round < 3; ++round) {
    Client client = Attached();
    Write("reply\r\n");
    EXPECT_EQ(client.Receive(7), "reply\r\n");
    client.Close();
    Write("for nobody\r\n");  // the client may or may not be known gone yet
  }
  Client last = Attached();
  Write("fresh");
  EXPECT_EQ(last.Receive(5), "fresh");
  EXPECT_EQ(counters_->attaches, 4u);
  DWORD status = 0;
  EXPECT_EQ(device_->GetCommModemStatus(&status), ERROR_SUCCESS) << "no hang-up";
}

TEST_F(NetworkDevice, DroppingTheClientEndsItsConnectionAndTheNextAttaches) {
  Open("tcp:0");
  Client first = Attached();
  ASSERT_EQ(device_->DropClient(), ERROR_SUCCESS);
  EXPECT_TRUE(first.Closed());
  Client second = Attached();
  Write("ok");
  EXPECT_EQ(second.Receive(2), "ok");
  EXPECT_EQ(counters_->attaches, 2u);
  EXPECT_EQ(counters_->refused, 0u) << "the dropped client was gone before the next came";
  EXPECT_EQ(device_->DropClient(), ERROR_SUCCESS);
  EXPECT_TRUE(second.Closed());
  EXPECT_EQ(device_->DropClient(), ERROR_SUCCESS) << "nobody attached: nothing to drop";
}

TEST_F(NetworkDevice, AClientThatStopsReadingLosesOutputButNeverStallsTheDevice) {
  Open("tcp:0");
  Client client = Attached(/*receiveBuffer=*/4096);
  // Far more than the socket buffers hold: the write completes because what
  // the client cannot take is dropped once it has taken nothing for a while.
  const std::string burst(16 << 20, 'x');
  Write(burst);
  EXPECT_GT(counters_->dropped, 0u);
}

TEST_F(NetworkDevice, AnAddressInUseIsRefusedWithAccessDenied) {
  Open("tcp:0");
  std::unique_ptr<SerialDevice> second;
  EXPECT_EQ(OpenNetworkDevice("tcp:" + std::to_string(port_), second), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(second);
}

TEST(NetworkDeviceNames, MalformedNamesAreNoSuchDevice) {
  std::unique_ptr<SerialDevice> device;
  EXPECT_EQ(CreateFileA("\\\\.\\tcp:nonsense", device), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CreateFileA("\\\\.\\rfc2217:1.2.3.4.5:70000", device), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CreateFileA("\\\\.\\tcp:192.0.2.1:0", device), ERROR_FILE_NOT_FOUND)
      << "an address of no local interface";
  EXPECT_FALSE(device);
}

TEST(NetworkDeviceNames, CreateFileOpensByName) {
  std::unique_ptr<SerialDevice> device;
  ASSERT_EQ(CreateFileA("\\\\.\\RFC2217:127.0.0.1:0", device), ERROR_SUCCESS);
  EXPECT_EQ(device->ClientPath().rfind("rfc2217://127.0.0.1:", 0), 0u);
  EXPECT_EQ(device->CloseHandle(), ERROR_SUCCESS);
}

// --- rfc2217

using namespace telnet;

Bytes Sub(std::uint8_t command, Bytes value) {
  Bytes bytes = {kIac, kSb, kComPortOption, command};
  for (const std::uint8_t byte : value)
    bytes.push_back(byte);
  bytes.push_back(kIac);
  bytes.push_back(kSe);
  return bytes;
}

std::string Text(const Bytes& bytes) {
  return {bytes.begin(), bytes.end()};
}

class Rfc2217Device : public NetworkDevice {
 protected:
  // A client past the opening negotiation.
  Client Negotiated() {
    Client client(port_);
    EXPECT_EQ(client.Receive(18), Text({kIac, kWill, 0, kIac, kDo, 0, kIac, kWill, 3, kIac, kDo, 3,
                                        kIac, kWill, 44, kIac, kDo, 44}));
    client.Send(Bytes{kIac, kWill, 0, kIac, kDo, 0, kIac, kWill, 44, kIac, kDo, 44});
    EXPECT_EQ(client.Receive(7), Text(Sub(107, {0}))) << "the first modem state";
    return client;
  }
};

TEST_F(Rfc2217Device, SettingsAreAnsweredAndReportedOnce) {
  Open("rfc2217:0");
  Client client = Negotiated();
  const Bytes request = Sub(1, {0, 1, 0xC2, 0});
  client.Send(request);
  EXPECT_EQ(client.Receive(10), Text(Sub(101, {0, 1, 0xC2, 0})));
  EXPECT_EQ(notices_.Next(),
            "rfc2217 client asks for 115200 baud, 8 data bits, no parity, 1 stop bit, "
            "no flow control");
}

TEST_F(Rfc2217Device, DataIsEscapedBothWays) {
  Open("rfc2217:0");
  Client client = Negotiated();
  client.Send(Bytes{'a', kIac, kIac, 'b'});
  EXPECT_EQ(Read(3),
            "a\xff"
            "b");
  Write("c\xff");
  EXPECT_EQ(client.Receive(3), "c\xff\xff");
}

TEST_F(Rfc2217Device, TheDevicesDtrAndRtsAreTheClientsDsrAndCts) {
  Open("rfc2217:0");
  Client client = Negotiated();
  DCB dcb = DefaultDcb();
  dcb.Flags |= DTR_CONTROL_ENABLE << DCB_fDtrControlShift;
  ASSERT_EQ(device_->SetCommState(dcb), ERROR_SUCCESS);
  EXPECT_EQ(client.Receive(7), Text(Sub(107, {comport::kModemDsr | comport::kModemDeltaDsr})));
  client.Send(Sub(5, {11}));  // the client's RTS on
  EXPECT_EQ(client.Receive(7), Text(Sub(105, {11})));
  DWORD status = 0;
  ASSERT_EQ(device_->GetCommModemStatus(&status), ERROR_SUCCESS);
  EXPECT_EQ(status, MS_CTS_ON);
}

}  // namespace
}  // namespace cport::detail
