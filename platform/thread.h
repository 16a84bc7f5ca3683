// A worker thread object: override Execute, construct, then Start.
//
// The body runs only after Start, so it never sees a half-built object.
// Terminate only sets the flag that Execute may poll at its own pace;
// WaitFor blocks until Execute has returned. WaitFor called in the UI thread
// keeps serving that thread's synchronised calls and messages sent to its
// windows while it waits, so a worker blocked in Synchronize or SendMessage
// towards the UI thread can finish instead of deadlocking the caller.
//
// An exception escaping Execute ends the thread and is kept as its
// FatalException; it never terminates the process.
//
// A derived class must stop its body (and call WaitFor) in its own
// destructor: the base destructor runs after the derived members are gone.
// The base destructor still terminates and waits as a last resort. An
// object destroyed from its own body is left to end by itself: the body's
// end is recorded outside the object, so nothing touches it afterwards.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

#include "platform/events.h"

namespace platform {

class Thread {
 public:
  Thread();
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts the body; throws std::logic_error when called twice.
  void Start();
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  // Any thread but this one (that throws std::logic_error). Returns at once
  // when the thread was never started or has already been waited for.
  void WaitFor();
  // True once Execute has returned (or thrown).
  bool Finished() const;
  // The exception that ended Execute, or null. Read after WaitFor.
  std::exception_ptr FatalException() const { return outcome_->fatalException; }

 protected:
  virtual void Execute() = 0;
  // Runs `call` in the UI thread and waits (Application::Synchronize).
  static void Synchronize(const std::function<void()>& call);

 private:
  // How the body ended; shared with the running body, so it outlives an
  // object destroyed from its own body.
  struct Outcome {
    EventHandle finished = CreateEvent(true, false);
    std::exception_ptr fatalException;  // written before `finished` is set
  };

  bool InBody() const;

  std::atomic<bool> terminated_{false};
  std::atomic<std::thread::id> bodyThread_{};
  std::shared_ptr<Outcome> outcome_ = std::make_shared<Outcome>();
  std::thread thread_;
};

}  // namespace platform
