// The headless pump, on its pipe and on the condition variable it falls back
// to when no pipe can be made: a wake-up is never lost, whichever comes first.
#include "platform/message_pump.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace platform {
namespace {

using namespace std::chrono_literals;

// A pump made while the process has no descriptor to spare.
std::unique_ptr<HeadlessPump> PumpWithoutDescriptors() {
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  rlimit tight = saved;
  tight.rlim_cur = 64;
  setrlimit(RLIMIT_NOFILE, &tight);
  std::vector<int> filler;
  for (int fd = open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0;
       fd = open("/dev/null", O_RDONLY | O_CLOEXEC))
    filler.push_back(fd);
  auto pump = std::make_unique<HeadlessPump>();
  for (const int fd : filler)
    close(fd);
  setrlimit(RLIMIT_NOFILE, &saved);
  return pump;
}

class HeadlessPumpTest : public ::testing::TestWithParam<bool> {
 protected:
  std::unique_ptr<HeadlessPump> pump_ =
      GetParam() ? std::make_unique<HeadlessPump>() : PumpWithoutDescriptors();
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
