// Internal: what the library keeps for each thread, made on first use and
// destroyed when the thread ends.
//
// Its destructor closes the thread's queue, so nobody waits for a thread
// that has gone. Where it lives is the platform's choice: a thread_local
// on POSIX; on Windows a fiber-local slot whose callback destroys it,
// because mingw-w64 runs the destructors of thread_local objects after their
// storage is freed, which corrupts the heap.
#pragma once

#include <memory>
#include <vector>

namespace platform::detail {

struct ThreadQueue;
struct SentMessage;

struct ThreadState {
  ThreadState();
  ~ThreadState();
  ThreadState(const ThreadState&) = delete;
  ThreadState& operator=(const ThreadState&) = delete;

  std::shared_ptr<ThreadQueue> queue;
  // The cross-thread messages being served, innermost last.
  std::vector<SentMessage*> serving;
};

ThreadState& CurrentThreadState();

}  // namespace platform::detail
