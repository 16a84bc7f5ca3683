#include "app/output_stage.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/tick_count.h"

namespace app {
namespace {

constexpr const char* kHangup = "<hangup>";

// The line and the alarm as the stage sees them; the test rings the alarm
// itself once the fake clock has reached the time it was set to.
class StageTest : public ::testing::Test, protected OutputLine, protected OutputAlarm {
 protected:
  void Make(std::initializer_list<const char*> texts, std::uint32_t lineDelayMs = 0) {
    std::vector<FaultOption> faults;
    for (const char* text : texts)
      faults.push_back(ParseFaultOption(text));
    OutputLine& line = *this;
    OutputAlarm& alarm = *this;
    stage.emplace(faults, 1, lineDelayMs, line, alarm);
  }

  // Moves the clock to the alarm's time and rings it.
  void RingAlarm() {
    ASSERT_TRUE(alarmAt) << "no alarm set";
    clock.Advance(*alarmAt - clock.Now());
    alarmAt.reset();
    stage->OnAlarm();
  }
  // Moves the clock on by `ms` and rings the alarm early or on time.
  void RingAfter(std::uint32_t ms) {
    clock.Advance(ms);
    stage->OnAlarm();
  }
  std::uint32_t AlarmIn() const { return alarmAt ? *alarmAt - clock.Now() : 0xFFFFFFFFu; }

  void Write(std::string_view bytes) override {
    if (failWrites) throw std::runtime_error("write failed");
    writes.emplace_back(bytes);
  }
  void Log(std::string_view line) override { log.emplace_back(line); }
  void InputResumed() override { ++resumed; }
  // Recorded among the writes, so that a test sees where the cable was pulled.
  void DropClient() override {
    if (failWrites) throw std::runtime_error("hangup failed");
    writes.emplace_back(kHangup);
  }
  void ReportError(std::exception_ptr) override { ++errors; }
  void Set(std::uint32_t milliseconds) override { alarmAt = clock.Now() + milliseconds; }
  void Clear() override { alarmAt.reset(); }

  platform::FakeTickClock clock{0xFFFFFF00u};  // wraps during the tests
  std::optional<OutputStage> stage;
  std::vector<std::string> writes;
  std::vector<std::string> log;
  std::optional<std::uint32_t> alarmAt;
  int resumed = 0;
  int errors = 0;
  bool failWrites = false;
};

using Texts = std::vector<std::string>;

TEST_F(StageTest, WithoutHitsABatchGoesOutInOneWrite) {
  Make({"drop:at=99"});
  stage->SendReplies("ok\r\nok\r\n12.5\r\n");
  EXPECT_EQ(writes, (Texts{"ok\r\nok\r\n12.5\r\n"}));
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(alarmAt);
}

TEST_F(StageTest, EachReplyOfABatchIsNumberedAndLoggedBeforeItGoesOut) {
  Make({"drop:at=2+3", "duplicate:at=4"});
  stage->SendReplies("a\r\nb\r\n");
  stage->SendReplies("c\r\nd\r\n");
  EXPECT_EQ(log, (Texts{"fault drop reply 2", "fault drop reply 3", "fault duplicate reply 4"}));
  EXPECT_EQ(writes, (Texts{"a\r\n", "d\r\nd\r\n"}));
}

TEST_F(StageTest, ReadingsHaveTheirOwnNumbers) {
  Make({"drop:at=1,on=all"});
  stage->SendReplies("ok\r\n");
  stage->SendReading("-17.8\r\n");
  stage->SendReading("-15.6\r\n");
  EXPECT_EQ(log, (Texts{"fault drop reply 1", "fault drop reading 1"}));
  EXPECT_EQ(writes, (Texts{"-15.6\r\n"}));
}

TEST_F(StageTest, ADelayHoldsItsOutputAndEverythingBehindIt) {
  Make({"delay:at=1,ms=300"});
  stage->SendReplies("first\r\n");
  EXPECT_TRUE(writes.empty());
  EXPECT_EQ(AlarmIn(), 300u);
  RingAfter(100);
  stage->SendReplies("second\r\n");
  EXPECT_TRUE(writes.empty()) << "waits behind the held reply";
  EXPECT_EQ(AlarmIn(), 200u);
  RingAfter(199);
  EXPECT_TRUE(writes.empty());
  RingAlarm();
  EXPECT_EQ(writes, (Texts{"first\r\nsecond\r\n"}));
  EXPECT_FALSE(alarmAt);
  stage->SendReplies("third\r\n");
  EXPECT_EQ(writes.back(), "third\r\n") << "nothing held: at once again";
}

TEST_F(StageTest, AHeldOutputCountsItsDelayFromWhenItWasSent) {
  Make({"delay:at=1,ms=100", "delay:at=2,ms=500"});
  stage->SendReplies("a\r\n");
  stage->SendReplies("b\r\n");
  RingAlarm();
  EXPECT_EQ(writes, (Texts{"a\r\n"}));
  EXPECT_EQ(AlarmIn(), 400u);
  RingAlarm();
  EXPECT_EQ(writes, (Texts{"a\r\n", "b\r\n"}));
}

TEST_F(StageTest, ALineDelayShiftsEveryWriteButKeepsTheOrder) {
  Make({}, 50);
  stage->SendReplies("a\r\n");
  RingAfter(20);
  stage->SendReading("r\r\n");
  EXPECT_TRUE(writes.empty());
  RingAfter(29);
  EXPECT_TRUE(writes.empty());
  RingAfter(1);
  EXPECT_EQ(writes, (Texts{"a\r\n"}));
  EXPECT_EQ(AlarmIn(), 20u);
  RingAlarm();
  EXPECT_EQ(writes, (Texts{"a\r\n", "r\r\n"}));
}

TEST_F(StageTest, AStallHoldsInputAndOutputUntilItEnds) {
  Make({"stall:at=2,ms=1000"});
  stage->SendReplies("a\r\nb\r\nc\r\n");
  EXPECT_EQ(log, (Texts{"fault stall reply 2"}));
  EXPECT_EQ(writes, (Texts{"a\r\n"})) << "what came before the stall still goes";
  EXPECT_TRUE(stage->InputStalled());
  RingAfter(500);
  stage->SendReading("r\r\n");
  EXPECT_TRUE(stage->InputStalled());
  EXPECT_EQ(resumed, 0);
  RingAlarm();
  EXPECT_EQ(clock.Now(), 0xFFFFFF00u + 1000u);
  EXPECT_FALSE(stage->InputStalled());
  EXPECT_EQ(resumed, 1);
  EXPECT_EQ(writes, (Texts{"a\r\n", "b\r\nc\r\nr\r\n"}));
}

TEST_F(StageTest, AStallOfADroppedReplyStillStopsTheDevice) {
  Make({"stall:at=1,ms=200", "drop:at=1"});
  stage->SendReplies("a\r\n");
  EXPECT_TRUE(stage->InputStalled());
  stage->SendReading("r\r\n");
  EXPECT_TRUE(writes.empty());
  RingAlarm();
  EXPECT_EQ(writes, (Texts{"r\r\n"}));
  EXPECT_EQ(resumed, 1);
}

TEST_F(StageTest, DiscardDropsHeldOutputAndEndsTheStall) {
  Make({"stall:at=1,ms=200"});
  stage->SendReplies("a\r\n");
  stage->Discard();
  EXPECT_FALSE(stage->InputStalled());
  EXPECT_FALSE(alarmAt);
  stage->SendReplies("b\r\n");
  EXPECT_EQ(writes, (Texts{"b\r\n"}));
}

TEST_F(StageTest, AFailedHeldWriteIsReportedAndLaterOutputStillFlows) {
  Make({"delay:at=1,ms=10"});
  stage->SendReplies("a\r\n");
  failWrites = true;
  RingAlarm();
  EXPECT_EQ(errors, 1);
  failWrites = false;
  stage->SendReplies("b\r\n");
  EXPECT_EQ(writes, (Texts{"b\r\n"}));
}

TEST_F(StageTest, AFailedImmediateWriteReachesTheCaller) {
  Make({"drop:at=99"});
  failWrites = true;
  EXPECT_THROW(stage->SendReading("r\r\n"), std::runtime_error);
  EXPECT_EQ(errors, 0);
}

// --- Hangup: the cable is pulled where the output would have gone out ---

TEST_F(StageTest, AHangupComesAfterTheRepliesBeforeItAndInsteadOfItsOwn) {
  Make({"hangup:at=2"});
  stage->SendReplies("a\r\nb\r\nc\r\n");
  EXPECT_EQ(log, (Texts{"fault hangup reply 2"}));
  EXPECT_EQ(writes, (Texts{"a\r\n", kHangup, "c\r\n"}));
}

TEST_F(StageTest, AHangupBehindHeldOutputWaitsItsTurn) {
  Make({"delay:at=1,ms=100", "hangup:at=2"});
  stage->SendReplies("a\r\n");
  stage->SendReplies("b\r\n");
  stage->SendReplies("c\r\n");
  EXPECT_TRUE(writes.empty());
  RingAlarm();
  EXPECT_EQ(writes, (Texts{"a\r\n", kHangup})) << "the rest follows at the next ring";
  EXPECT_EQ(AlarmIn(), 0u);
  RingAlarm();
  EXPECT_EQ(writes, (Texts{"a\r\n", kHangup, "c\r\n"}));
}

TEST_F(StageTest, WithALineDelayTheCableIsPulledAsItsOutputWouldLeave) {
  Make({"hangup:at=1"}, 50);
  stage->SendReplies("a\r\n");
  EXPECT_TRUE(writes.empty());
  EXPECT_EQ(AlarmIn(), 50u);
  RingAlarm();
  EXPECT_EQ(writes, (Texts{kHangup}));
}

TEST_F(StageTest, AFailedHeldHangupIsReported) {
  Make({"hangup:at=1"}, 10);
  stage->SendReplies("a\r\n");
  failWrites = true;
  RingAlarm();
  EXPECT_EQ(errors, 1);
}

}  // namespace
}  // namespace app
