// The event thread itself: the event-mask translation, what it asks of the
// device from start to end, and that it never spins on a device that fails.
#include "cport/com_thread.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "port_on_line.h"

namespace cport::testing {
namespace {

using namespace device;
using Names = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Event set <-> mask

struct MaskRow {
  TComEvent event;
  DWORD mask;
};

class EventMask : public ::testing::TestWithParam<MaskRow> {};

TEST_P(EventMask, OneBitEachWay) {
  const MaskRow row = GetParam();
  EXPECT_EQ(EventsToMask(TComEvents{row.event}), row.mask);
  EXPECT_EQ(MaskToEvents(row.mask), TComEvents{row.event});
}

INSTANTIATE_TEST_SUITE_P(Dispatch, EventMask,
                         ::testing::Values(MaskRow{evRxChar, 0x0001}, MaskRow{evTxEmpty, 0x0004},
                                           MaskRow{evRxFlag, 0x0002}, MaskRow{evRing, 0x0100},
                                           MaskRow{evBreak, 0x0040}, MaskRow{evCTS, 0x0008},
                                           MaskRow{evDSR, 0x0010}, MaskRow{evError, 0x0080},
                                           MaskRow{evRLSD, 0x0020}, MaskRow{evRx80Full, 0x0400}));

TEST(EventMaskSets, WholeSetsAndForeignBits) {
  EXPECT_EQ(EventsToMask(AllComEvents), 0x05FFu);
  EXPECT_EQ(EventsToMask({}), 0u);
  EXPECT_EQ(MaskToEvents(0x05FF), AllComEvents);
  // EV_PERR, EV_EVENT1, EV_EVENT2 and anything higher have no event.
  EXPECT_TRUE(MaskToEvents(0x0200 | 0x0800 | 0x1000 | 0xFFFF0000u).Empty());
}

// ---------------------------------------------------------------------------
// The watch on the device

class Watch : public PortOnLine {
 protected:
  // Calls other than the event thread's own waits and the dispatch queries.
  Names DeviceCalls() const {
    return line_.CallNames(
        {"WaitCommEvent", "GetOverlappedResult", "ClearCommError", "GetCommModemStatus"});
  }
  std::size_t CountOf(const std::string& call) const {
    std::size_t n = 0;
    for (const std::string& name : line_.CallNames())
      n += name == call;
    return n;
  }
};

TEST_F(Watch, SetsTheMaskOnceAndClearsMaskAndQueuesAtTheEnd) {
  port_.SetEvents({evRxChar, evCTS});
  line_.ClearCalls();
  Open();
  ASSERT_TRUE(line_.WaitForCall("WaitCommEvent"));
  line_.Inject("left over");
  port_.ClosePort();
  std::vector<std::string> masks, purges;
  for (const DeviceCall& call : line_.Calls()) {
    if (call.name == "SetCommMask") masks.push_back(std::to_string(call.args.at(0)));
    if (call.name == "PurgeComm") purges.push_back(std::to_string(call.args.at(0)));
  }
  EXPECT_EQ(masks, (Names{"9", "0"}));
  EXPECT_EQ(purges, (Names{"3", "12"}));  // abort transfers, then the thread's clean-up
  EXPECT_EQ(DeviceCalls(),
            (Names{"CreateFileA", "SetupComm", "SetCommState", "SetCommTimeouts", "SetCommMask",
                   "PurgeComm", "SetCommMask", "PurgeComm", "CloseHandle"}));
}

TEST_F(Watch, AHungUpLineIsWaitedOutNotSpunOn) {
  Open();
  RecordHandlers(port_, fired_);
  ASSERT_TRUE(line_.WaitForCall("WaitCommEvent"));
  line_.ClearCalls();
  line_.HangUp();
  // The pending wait ends with the hang-up, the next one fails at once, then
  // the thread sleeps until it is stopped.
  ASSERT_TRUE(line_.WaitForCall("WaitCommEvent"));
  port_.ClosePort();
  EXPECT_LE(CountOf("WaitCommEvent"), 2u);
  EXPECT_FALSE(port_.Connected());
}

TEST_F(Watch, AWaitThatCannotStartLeavesTheThreadAsleep) {
  line_.FailAlways("WaitCommEvent", ERROR_GEN_FAILURE);
  Open();
  ASSERT_TRUE(line_.WaitForCall("WaitCommEvent"));
  port_.ClosePort();
  EXPECT_EQ(CountOf("WaitCommEvent"), 1u);
}

TEST_F(Watch, AFailedResultSkipsThePassAndWatchingGoesOn) {
  Open();
  RecordHandlers(port_, fired_);
  ASSERT_TRUE(line_.WaitForCall("WaitCommEvent"));
  line_.FailNext("GetOverlappedResult", ERROR_GEN_FAILURE);
  line_.SetModemLines(MS_CTS_ON);  // lost with the failed result
  line_.SetModemLines(0);
  line_.SetModemLines(MS_DSR_ON);
  ASSERT_TRUE(fired_.WaitFor("DSR(1)"));
  EXPECT_FALSE(fired_.Has("CTS(1)"));
}

}  // namespace
}  // namespace cport::testing
