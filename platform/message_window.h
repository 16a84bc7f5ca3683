// Hidden message windows: a window procedure bound to the thread that
// created the window, reached by SendMessage and PostMessage from any thread.
//
// SendMessage from the owner thread calls the procedure directly. From
// another thread it queues the message for the owner and blocks until the
// procedure returns or calls ReplyMessage; the owner serves such messages
// whenever it handles its queue (ProcessMessages, Run, Thread::WaitFor, and
// its own cross-thread SendMessage or Synchronize waits). A message to a
// destroyed window, or one still queued when the window is destroyed or its
// owner thread ends, returns 0 at once instead of hanging.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

class MessageWindow;
using HWND = std::shared_ptr<MessageWindow>;
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using WindowProc = std::function<LRESULT(const HWND& window, UINT message, WPARAM, LPARAM)>;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_USER = 0x0400;

// A new hidden window owned by the calling thread.
HWND CreateMessageWindow(WindowProc procedure);
// Any thread. Messages still queued for the window complete with 0; empties
// `window`. False when it was empty or already destroyed.
bool DestroyWindow(HWND& window);
bool IsWindow(const HWND& window);

// The procedure's result, or 0 when the window is empty or destroyed. An
// exception from the procedure reaches the caller only on the owner thread;
// across threads it goes to the application's HandleException and the
// result is 0.
LRESULT SendMessage(const HWND& window, UINT message, WPARAM wParam, LPARAM lParam);
// Queues the message for the owner thread; false when the window is gone.
bool PostMessage(const HWND& window, UINT message, WPARAM wParam, LPARAM lParam);

// True while the calling thread's window procedure is serving a message sent
// from another thread.
bool InSendMessage();
// Lets the thread that sent the message being served go on with `result`;
// false when there is no such sender or it was already answered.
bool ReplyMessage(LRESULT result);
// Default handling for messages a procedure does not know: 0.
LRESULT DefWindowProc(const HWND& window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace platform
