// The headless pump, on its pipe and on the condition variable it falls back
// to when no pipe can be made: a wake-up is never lost, whichever comes first.
#include "platform/message_pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace platform {
namespace {

using namespace std::chrono_literals;

class HeadlessPumpTest : public ::testing::TestWithParam<bool> {
 protected:
  std::unique_ptr<HeadlessPump> pump_ =
      GetParam() ? std::make_unique<HeadlessPump>()
                 : std::make_unique<HeadlessPump>(HeadlessPump::WithoutPipe{});
};

TEST_P(HeadlessPumpTest, AWakeBeforeTheWaitIsKept) {
  pump_->Wake();
  pump_->WaitForWork(std::nullopt, false);  // returns at once, or hangs the test
}

TEST_P(HeadlessPumpTest, AWakeFromAnotherThreadEndsTheSleep) {
  for (int round = 0; round < 200; ++round) {
    std::atomic<bool> woken{false};
    std::thread waker([&] {
      woken = true;
      pump_->Wake();
    });
    // May return early for no reason: only a wake-up that came ends the loop.
    while (!woken)
      pump_->WaitForWork(std::chrono::steady_clock::now() + 10s, false);
    waker.join();
  }
}

TEST_P(HeadlessPumpTest, ADeadlineEndsTheSleepWithoutAWake) {
  pump_->WaitForWork(std::chrono::steady_clock::now() + 20ms, false);  // or hangs the test
}

INSTANTIATE_TEST_SUITE_P(Pump, HeadlessPumpTest, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "Pipe" : "Fallback"; });

}  // namespace
}  // namespace platform
