// The event thread itself: the event-mask translation, what it asks of the
// device from start to end, that it never spins on a device that fails, and
// that opening and closing, also while traffic flows, leave nothing behind.
#include "cport/com_thread.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../soak_rounds.h"
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

// ---------------------------------------------------------------------------
// Nothing left behind

std::size_t Entries(const char* directory) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory))
    ++n;
  return n;
}

// Injects a burst into the line each time the port opens, racing the close
// that follows; a burst ends early once the device is gone.
class Burst {
 public:
  explicit Burst(MemoryLine& line) : line_(line), thread_([this] { Run(); }) {}
  ~Burst() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  // Starts one burst and returns once its first chunk is in.
  void StartAndWaitForTheFirstChunk() {
    std::unique_lock lock(mutex_);
    ++wanted_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return started_ == wanted_; });
  }

 private:
  void Run() {
    const std::string chunk(64, 'b');
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return quit_ || started_ < wanted_; });
      if (quit_) return;
      lock.unlock();
      line_.Inject(chunk);
      lock.lock();
      ++started_;
      changed_.notify_all();
      lock.unlock();
      for (int i = 0; i < 64 && line_.Inject(chunk); ++i) {
      }
      lock.lock();
    }
  }

  MemoryLine& line_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int wanted_ = 0;
  int started_ = 0;
  bool quit_ = false;
  std::thread thread_;
};

class ReopenSoak : public PortOnLineT<::testing::TestWithParam<TSyncMethod>> {};

// The handler reads and echoes what came (a close aborts the echo: 995);
// meanwhile another thread keeps the line busy.
TEST_P(ReopenSoak, AThousandTimesDuringABurstLeavesNoDescriptorOrThreadBehind) {
  std::vector<int> writeErrors;  // the event thread's or the UI thread's, one at a time
  port_.SetOnRxChar([&](TCustomComPort& port, std::int32_t n) {
    std::string text;
    port.ReceiveText(text, n);
    try {
      port.SendText(text);
    } catch (const EComPort& e) {
      writeErrors.push_back(e.SystemErrorCode());
    }
    fired_.Add("rx");
  });
  port_.SetSyncMethod(GetParam());
  port_.OpenPort();
  port_.ClosePort();
  const std::size_t descriptors = Entries("/proc/self/fd");
  const std::size_t threads = Entries("/proc/self/task");
  {
    Burst burst(line_);
    const std::size_t withBurst = Entries("/proc/self/task");
    for (int i = 0, rounds = soak::Rounds(1000); i < rounds; ++i) {
      port_.OpenPort();
      burst.StartAndWaitForTheFirstChunk();
      port_.ClosePort();  // a delivery that is under way runs first
    }
    EXPECT_EQ(Entries("/proc/self/task"), withBurst);
  }
  EXPECT_EQ(Entries("/proc/self/fd"), descriptors);
  EXPECT_EQ(Entries("/proc/self/task"), threads);
  for (const int error : writeErrors)
    EXPECT_EQ(error, 995);
  EXPECT_TRUE(shown_.All().empty());
  // The port still delivers after all that.
  fired_.Clear();
  port_.OpenPort();
  line_.Inject("y");
  EXPECT_TRUE(fired_.WaitFor("rx"));
}

INSTANTIATE_TEST_SUITE_P(Dispatch, ReopenSoak,
                         ::testing::Values(smThreadSync, smWindowSync, smNone), [](const auto& p) {
                           return p.param == smThreadSync   ? "ThreadSync"
                                  : p.param == smWindowSync ? "WindowSync"
                                                            : "None";
                         });

}  // namespace
}  // namespace cport::testing
