// The real data path: a port opened on a pseudo-terminal slave, driven from
// the master side. Bytes written by the far end reach OnRxChar and are read
// with ReceiveText; SendText reaches the far end, in every sync mode.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <mutex>
#include <string>

#include "port_on_line.h"
#include "tests/support/line_io_posix.h"

namespace cport::testing {
namespace {

// The master side of a pseudo-terminal pair, closed with the test.
class PtyMaster {
 public:
  PtyMaster() : fd_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    EXPECT_GE(fd_, 0);
    EXPECT_EQ(::grantpt(fd_), 0);
    EXPECT_EQ(::unlockpt(fd_), 0);
  }
  ~PtyMaster() {
    if (fd_ >= 0) ::close(fd_);
  }
  PtyMaster(const PtyMaster&) = delete;
  PtyMaster& operator=(const PtyMaster&) = delete;

  std::string SlavePath() const {
    std::array<char, 128> name{};
    EXPECT_EQ(::ptsname_r(fd_, name.data(), name.size()), 0);
    return name.data();
  }
  void Write(const std::string& bytes) const { EXPECT_TRUE(test_support::WriteAll(fd_, bytes)); }
  std::string Read(std::size_t count) const { return test_support::ReadCount(fd_, count); }

 private:
  int fd_;
};

class PtyDataPath : public PortOnLineT<::testing::TestWithParam<TSyncMethod>> {
 protected:
  std::string Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

  PtyMaster master_;
  std::mutex mutex_;  // smNone: the handler runs in the event thread
  std::string received_;
};

TEST_P(PtyDataPath, BytesTravelBothWaysUnchanged) {
  port_.SetPort(master_.SlavePath());
  port_.SetOnRxChar([this](TCustomComPort& port, std::int32_t count) {
    std::string text;
    port.ReceiveText(text, count);
    {
      std::lock_guard lock(mutex_);
      received_ += text;
    }
    fired_.Add("rx");
  });
  Open(GetParam());
  const std::string request("S;1;12.5\r\n\xb0\x00\xff", 13);
  master_.Write(request);
  ASSERT_TRUE(fired_.WaitUntil([&] { return Received().size() >= request.size(); }));
  EXPECT_EQ(Received(), request);

  const std::string reply("ok\r\n\x00\xb0", 6);
  EXPECT_EQ(port_.SendText(reply), 6);
  EXPECT_EQ(master_.Read(reply.size()), reply);
  port_.ClosePort();
}

INSTANTIATE_TEST_SUITE_P(Dispatch, PtyDataPath,
                         ::testing::Values(smThreadSync, smWindowSync, smNone), [](const auto& p) {
                           return p.param == smThreadSync   ? "ThreadSync"
                                  : p.param == smWindowSync ? "WindowSync"
                                                            : "None";
                         });

}  // namespace
}  // namespace cport::testing
