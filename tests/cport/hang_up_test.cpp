// A line that is unplugged while the port has a read, a write and an event
// wait in flight: each ends once with "device not connected", later
// transfers fail at once instead of hanging, and no thread keeps asking the
// dead line. The driver's call log is the measure, not time.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "port_on_line.h"

namespace cport::testing {
namespace {

using namespace device;
using Names = std::vector<std::string>;

class HangUp : public PortOnLine {
 protected:
  HangUp() {
    port_.Timeouts().SetReadInterval(0);  // a read waits for its full count
    port_.Timeouts().SetWriteTotalMultiplier(0);
    port_.Timeouts().SetWriteTotalConstant(0);  // a write waits for room
    port_.Buffer().SetOutputSize(8);
  }

  std::size_t CountOf(const std::string& call) const {
    std::size_t n = 0;
    for (const std::string& name : line_.CallNames())
      n += name == call;
    return n;
  }

  // Runs `transfer` on another thread; its EComPort, or none.
  static std::future<std::optional<EComPort>> InFlight(std::function<void()> transfer) {
    return std::async(std::launch::async, [transfer = std::move(transfer)] {
      try {
        transfer();
      } catch (const EComPort& e) {
        return std::optional<EComPort>(e);
      }
      return std::optional<EComPort>();
    });
  }

  static void ExpectNotConnected(const std::optional<EComPort>& error, int code) {
    ASSERT_TRUE(error.has_value()) << "nothing raised for code " << code;
    EXPECT_EQ(error->ComErrorCode(), code);
    EXPECT_EQ(error->SystemErrorCode(), 1167);
  }
};

TEST_F(HangUp, EndsTheReadTheWriteAndTheEventWaitOnceAndNothingAsksAgain) {
  Open();
  RecordHandlers(port_, fired_);
  line_.HoldWrites(true);
  ASSERT_TRUE(line_.WaitForCall("WaitCommEvent"));
  std::string text;
  auto read = InFlight([&] { port_.ReceiveText(text, 10); });
  auto write = InFlight([&] { port_.SendText(std::string(20, 'w')); });
  ASSERT_TRUE(line_.WaitForCall("ReadFile"));
  ASSERT_TRUE(line_.WaitForCall("WriteFile"));
  line_.ClearCalls();

  line_.HangUp();
  ExpectNotConnected(read.get(), ecReadFailed);
  ExpectNotConnected(write.get(), ecWriteFailed);
  // The failed wait is collected, the event thread tries once more, and sleeps.
  ASSERT_TRUE(line_.WaitForCall("WaitCommEvent"));

  // Later transfers fail at the start instead of waiting for a dead line.
  try {
    port_.SendText("x");
    ADD_FAILURE() << "a write on an unplugged line raised nothing";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.SystemErrorCode(), 1167);
  }
  try {
    port_.ReceiveText(text, 1);
    ADD_FAILURE() << "a read on an unplugged line raised nothing";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.SystemErrorCode(), 1167);
  }
  port_.ClosePort();
  // One result for each of the three, one new wait, one start of each
  // later transfer: a loop on the dead line would have added many.
  EXPECT_EQ(CountOf("GetOverlappedResult"), 3u);
  EXPECT_EQ(CountOf("WaitCommEvent"), 1u);
  EXPECT_EQ(CountOf("ReadFile"), 1u);
  EXPECT_EQ(CountOf("WriteFile"), 1u);
  // The hang-up is no event; the close announces the signal lines off.
  EXPECT_EQ(fired_.Names(), (Names{"CTS(0)", "DSR(0)", "RLSD(0)"}));
  EXPECT_TRUE(shown_.All().empty());
}

TEST_F(HangUp, PluggedInAgainTheLineTransfersAndAReopenedPortWatchesIt) {
  port_.SetOnRxChar([&](TCustomComPort& port, std::int32_t n) {
    std::string text;
    port.ReceiveText(text, n);
    fired_.Add(text);
  });
  Open();
  ASSERT_TRUE(line_.WaitForCall("WaitCommEvent"));
  line_.HangUp();
  ASSERT_TRUE(line_.WaitForCall("WaitCommEvent", 2));
  line_.Reconnect();
  EXPECT_EQ(port_.SendText("ok"), 2);
  // The event thread gave up on the dead line; a reopen starts a new watch.
  port_.ClosePort();
  Open();
  line_.Inject("back");
  EXPECT_TRUE(fired_.WaitFor("back"));
}

}  // namespace
}  // namespace cport::testing
