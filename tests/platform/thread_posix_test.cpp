// A thread object destroyed from its own body, observed to the thread's
// very end through a thread_local destructor. POSIX only: mingw-w64 runs
// thread_local destructors after their storage is freed.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "platform/application.h"
#include "platform/events.h"
#include "platform/thread.h"

namespace platform {
namespace {

// Sets its event when the thread that made it ends, after all the body did.
struct SignalAtThreadExit {
  EventHandle event;
  ~SignalAtThreadExit() { SetEvent(event); }
};

// A body that destroys its own thread object, then fails.
class SelfDestroyingThread : public Thread {
 public:
  SelfDestroyingThread(std::unique_ptr<SelfDestroyingThread>& owner, EventHandle go,
                       EventHandle ended)
      : owner_(owner), go_(std::move(go)), ended_(std::move(ended)) {}

 protected:
  void Execute() override {
    thread_local SignalAtThreadExit signal{ended_};
    WaitForSingleObject(go_, INFINITE);
    owner_.reset();
    throw std::runtime_error("after the object is gone");
  }

 private:
  std::unique_ptr<SelfDestroyingThread>& owner_;
  EventHandle go_;
  EventHandle ended_;
};

TEST(ThreadSelfDestruction, DestroyedFromItsOwnBodyTheObjectIsNotTouchedAgain) {
  const Application app;  // the test thread is the UI thread
  const EventHandle go = CreateEvent(true, false);
  const EventHandle ended = CreateEvent(true, false);
  std::unique_ptr<SelfDestroyingThread> thread;
  thread = std::make_unique<SelfDestroyingThread>(thread, go, ended);
  thread->Start();
  SetEvent(go);
  // The address sanitizer reports any write into the destroyed object.
  ASSERT_EQ(WaitForSingleObject(ended, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(thread, nullptr);
}

}  // namespace
}  // namespace platform
