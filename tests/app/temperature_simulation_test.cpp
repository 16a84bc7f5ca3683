#include "app/temperature_simulation.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/float_text.h"
#include "platform/application.h"
#include "platform/tick_count.h"

namespace app {
namespace {

ParameterTable Defaults() {
  ParameterTable table{};
  ApplyDefaultParameters(table);
  return table;
}

TEST(RawCounter, SweepsUpByFourAndDownByTwoWithAPeriodOf189Ticks) {
  std::uint8_t counter = 0;
  std::int32_t step = 0;
  std::vector<int> seen;
  for (int tick = 0; tick < 189 * 2; ++tick)
    seen.push_back(StepRawCounter(counter, step));
  EXPECT_EQ(seen[0], 4);
  EXPECT_EQ(seen[62], 252);
  EXPECT_EQ(seen[63], 250);
  EXPECT_EQ(seen[187], 2);
  EXPECT_EQ(seen[188], 0);
  EXPECT_EQ(seen[189], 4);
  for (int tick = 0; tick < 189; ++tick)
    EXPECT_EQ(seen[tick], seen[tick + 189]) << tick;
}

TEST(Reading, FirstReadingWithDefaults) {
  const float t = SimulatedTemperature(4, Defaults());
  EXPECT_EQ(ReadingReply(t, '.'), "-17.8040008544922\r\n");
  EXPECT_EQ(ReadingLogLine(4, t, '.'),
            "raw  4 T -17.80\xB0"
            "C");
}

TEST(Reading, TopOfTheSweep) {
  EXPECT_EQ(ReadingReply(SimulatedTemperature(252, Defaults()), '.'), "118.348007202148\r\n");
}

TEST(Reading, OffsetZeroAndGainOneGiveTheRawCount) {
  ParameterTable table{};
  table[kGainSlot] = 1.0f;
  for (int raw : {0, 4, 250, 252}) {
    EXPECT_EQ(SimulatedTemperature(static_cast<std::uint8_t>(raw), table), raw);
  }
  EXPECT_EQ(ReadingReply(SimulatedTemperature(8, table), '.'), "8\r\n");
}

TEST(Reading, LogLineIsRightAlignedInFiveWithTheLocaleSeparator) {
  EXPECT_EQ(ReadingLogLine(8, 1.5f, ','),
            "raw  8 T  1,50\xB0"
            "C");
  EXPECT_EQ(ReadingLogLine(252, 118.348f, '.'),
            "raw  252 T 118.35\xB0"
            "C");
  EXPECT_EQ(ReadingLogLine(0, -0.001f, '.'),
            "raw  0 T -0.00\xB0"
            "C");
}

TEST(Reading, OverflowBeyondSinglePrecisionIsAnError) {
  ParameterTable table = Defaults();
  table[kGainSlot] = 1e38f;
  EXPECT_THROW(SimulatedTemperature(4, table), std::overflow_error);
  table[kGainSlot] = FLT_MAX;
  table[kOffsetSlot] = FLT_MAX;
  EXPECT_THROW(SimulatedTemperature(1, table), std::overflow_error);
  EXPECT_NO_THROW(SimulatedTemperature(0, table));
}

// --- PacedWait against a driven tick count

TEST(PacedWait, WaitsTheFullTimeAcrossTheTickCountWrap) {
  platform::Application application;
  platform::FakeTickClock clock(0xFFFFFE00u);
  const std::uint32_t start = clock.Now();
  std::promise<void> firstBatchDone;
  // Three messages arrive at once, each "taking" 300 ms; the rest of the
  // second comes from another thread while the wait sleeps.
  for (int i = 0; i < 3; ++i)
    application.QueueCall([&clock] { clock.Advance(300); });
  application.QueueCall([&firstBatchDone] { firstBatchDone.set_value(); });
  std::thread rest([&clock, done = firstBatchDone.get_future()]() mutable {
    done.wait();
    clock.WaitUntilWaiting(1);  // the wait sleeps: the time it measures moves now
    clock.Advance(99);
    clock.Advance(1);
  });
  PacedWait(application, 1000);
  const std::uint32_t waited = platform::TicksSince(start, clock.Now());
  rest.join();
  EXPECT_GE(waited, 1000u);
}

TEST(PacedWait, HandlesMessagesDuringTheWait) {
  platform::Application application;
  platform::FakeTickClock clock;
  int handled = 0;
  application.QueueCall([&] {
    ++handled;
    clock.Advance(1000);
  });
  PacedWait(application, 1000);
  EXPECT_EQ(handled, 1);
}

TEST(PacedWait, EndsWhenTheApplicationTerminates) {
  platform::Application application;
  platform::FakeTickClock clock;
  application.QueueCall([&application] { application.Terminate(); });
  PacedWait(application, 1000);
  EXPECT_EQ(clock.Now(), 0u);
}

}  // namespace
}  // namespace app
