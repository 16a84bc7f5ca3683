// Opening and closing, also while traffic flows, leaves no descriptor or
// thread behind, as the process's own entries in /proc count them.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../soak_rounds.h"
#include "cport/com_thread.h"
#include "port_on_line.h"

namespace cport::testing {
namespace {

using namespace device;

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
