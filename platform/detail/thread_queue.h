// Internal: the queue of work waiting for one thread, and how it is served.
//
// Every thread that waits, owns a window or is an application's UI thread
// has one (CurrentQueue). Its contents are guarded by WaitLock(). Pushing
// work wakes the queue's pump. When the owner thread ends, the queue is
// closed: queued senders get 0, queued synchronised calls an error.
#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/detail/wait_core.h"
#include "platform/message_pump.h"
#include "platform/message_window.h"

namespace platform::detail {

// A message sent from another thread; the sender waits on `done`.
struct SentMessage {
  HWND window;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  LRESULT result = 0;     // WaitLock()
  bool answered = false;  // WaitLock(): replied, returned or dropped
  EventHandle done = CreateEvent(true, false);
};

// A call synchronised into the UI thread; the caller waits on `done`.
struct SyncCall {
  std::function<void()> call;
  std::exception_ptr error;  // written before `done` is set
  EventHandle done = CreateEvent(true, false);
};

struct QueuedWork {
  std::function<void()> posted;           // posted call or window message
  std::shared_ptr<SyncCall> sync;         // or a synchronised call
  const MessageWindow* window = nullptr;  // the target of a posted message
};

struct ThreadQueue {
  ThreadQueue() = default;
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  // WaitLock() held for every member below.
  bool HasWork(unsigned workClasses) const;
  // False when the queue is closed (the work is then not taken).
  bool PushSent(std::shared_ptr<SentMessage> message);
  bool PushPosted(std::function<void()> call, const MessageWindow* window = nullptr);
  bool PushSync(std::shared_ptr<SyncCall> call);
  // Answers every queued message for `window` with 0.
  void DropMessagesFor(const MessageWindow* window);
  // Answers or fails everything queued: each synchronised call gets its own
  // std::runtime_error(reason), so no exception object is shared by threads.
  void FailAll(const char* reason);
  void Close(const char* reason);

  std::thread::id owner = std::this_thread::get_id();
  HeadlessPump ownPump;
  MessagePump* pump = &ownPump;  // WaitLock()
  bool closed = false;
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::deque<QueuedWork> work;  // posted and synchronised, in order
};

// The calling thread's queue, made on first use.
std::shared_ptr<ThreadQueue> CurrentQueue();

// WaitLock() held: records the answer and releases the sender.
void AnswerLocked(SentMessage& message, LRESULT result);

// Takes the next item of `workClasses` from `queue` (sent messages first)
// and handles it in the calling thread, which must own the queue. False
// when there was none. Exceptions from posted work go to the application's
// HandleException; a synchronised call's exception goes back to its caller.
bool ServeOne(ThreadQueue& queue, unsigned workClasses);

// Waits until `done` is signalled, serving the calling thread's queue items
// of `workClasses` meanwhile.
void WaitServing(const EventHandle& done, unsigned workClasses);

// Calls the window's procedure for a message from another thread.
void ServeSent(SentMessage& message);
// The cross-thread message the calling thread is serving, innermost last;
// null entries stand for direct calls from the same thread.
std::vector<SentMessage*>& ServingStack();

}  // namespace platform::detail
