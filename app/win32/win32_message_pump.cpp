#include "app/win32/win32_message_pump.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <system_error>
#include <utility>

#include "platform/application.h"
#include "platform/win32/native_event.h"

namespace app::win32 {
namespace {

DWORD MillisecondsUntil(platform::MessagePump::Deadline deadline) {
  if (!deadline) return platform::INFINITE;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
  return static_cast<DWORD>(
      std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, platform::INFINITE - 1));
}

void CALLBACK EndAlertableWait(ULONG_PTR /*unused*/) {}

}  // namespace

Win32MessagePump::Win32MessagePump(HWND dialogWindow, std::function<void()> beforeWait)
    : dialogWindow_(dialogWindow),
      beforeWait_(std::move(beforeWait)),
      wake_(::CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      thread_(nullptr) {
  if (wake_ == nullptr ||
      !::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                         &thread_, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    const std::error_code error(static_cast<int>(::GetLastError()), std::system_category());
    if (wake_ != nullptr) ::CloseHandle(wake_);
    throw std::system_error(error, "the window's message pump");
  }
}

Win32MessagePump::~Win32MessagePump() {
  ::CloseHandle(thread_);
  ::CloseHandle(wake_);
}

// The wake-up is an auto-reset event: a Wake before the sleep is kept, and
// one sleep takes it. The flag is raised before a wait for all looks at the
// wake-up, and Wake signals before it reads the flag (both system calls are
// full barriers), so either that wait sees the wake-up or Wake ends it.
void Win32MessagePump::Wake() {
  ::SetEvent(wake_);
  if (waitingForAll_.load()) ::QueueUserAPC(EndAlertableWait, thread_, 0);
}

bool Win32MessagePump::WaitForWork(Deadline deadline, bool handleInput) {
  const std::uint32_t r = WaitForWorkOrEvents({}, false, deadline, handleInput);
  return r == platform::WAIT_OBJECT_0;
}

std::uint32_t Win32MessagePump::WaitForWorkOrEvents(std::span<const platform::EventHandle> events,
                                                    bool waitAll, Deadline deadline,
                                                    bool handleInput) {
  if (beforeWait_) beforeWait_();
  const DWORD milliseconds = MillisecondsUntil(deadline);
  if (waitAll && !events.empty()) return WaitForAll(events, milliseconds);

  std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> handles{};
  for (std::size_t i = 0; i < events.size(); ++i)
    handles[i] = platform::NativeHandle(events[i]);
  const auto count = static_cast<DWORD>(events.size());
  handles[count] = wake_;
  // Input counts when it is queued at all, not only when it is new since the
  // thread last looked: nothing queued is ever slept over.
  const DWORD wakeMask = handleInput ? platform::QS_ALLINPUT : platform::QS_SENDMESSAGE;
  const DWORD flags = handleInput ? MWMO_INPUTAVAILABLE : 0;
  const DWORD r =
      ::MsgWaitForMultipleObjectsEx(count + 1, handles.data(), milliseconds, wakeMask, flags);
  if (r == platform::WAIT_FAILED || r < platform::WAIT_OBJECT_0 + count) return r;
  if (r != platform::WAIT_OBJECT_0 + count + 1)
    return platform::WAIT_TIMEOUT;  // woken, or the deadline
  if (!handleInput) {
    ServeSentMessages();
    return platform::WAIT_TIMEOUT;
  }
  ProcessInput();
  return platform::WAIT_OBJECT_0 + count;
}

std::uint32_t Win32MessagePump::WaitForAll(std::span<const platform::EventHandle> events,
                                           DWORD milliseconds) {
  std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> handles{};
  for (std::size_t i = 0; i < events.size(); ++i)
    handles[i] = platform::NativeHandle(events[i]);
  waitingForAll_.store(true);
  DWORD r = platform::WAIT_TIMEOUT;
  if (::WaitForSingleObject(wake_, 0) != platform::WAIT_OBJECT_0) {
    r = ::WaitForMultipleObjectsEx(static_cast<DWORD>(events.size()), handles.data(), TRUE,
                                   milliseconds, TRUE);
  }
  waitingForAll_.store(false);
  return r == WAIT_IO_COMPLETION ? platform::WAIT_TIMEOUT : r;
}

void Win32MessagePump::ServeSentMessages() {
  // PM_QS_SENDMESSAGE, which the system headers define through QS_SENDMESSAGE.
  constexpr UINT kSentMessagesOnly = platform::QS_SENDMESSAGE << 16;
  MSG msg;
  ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | kSentMessagesOnly);
}

// WM_QUIT has no meaning here: the application ends through its
// terminating flag, so the message is taken off the queue and dropped.
void Win32MessagePump::ProcessInput() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;
    if (dialogWindow_ != nullptr && ::IsDialogMessageA(dialogWindow_, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

}  // namespace app::win32
