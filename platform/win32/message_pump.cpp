#include "platform/win32/windows_headers.h"

#include <algorithm>
#include <array>
#include <atomic>

#include "platform/message_pump.h"
#include "platform/win32/native_event.h"

namespace platform {
namespace {

DWORD MillisecondsUntil(MessagePump::Deadline deadline) {
  if (!deadline) return INFINITE;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
  return static_cast<DWORD>(
      std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INFINITE - 1));
}

void CALLBACK EndAlertableWait(ULONG_PTR /*unused*/) {}

}  // namespace

// The wake-up is an auto-reset event: a Wake before the sleep is kept, and
// one sleep takes it. A wait for all events together cannot hold the
// wake-up in its list (it would wait for that too), so it sleeps alertable
// and Wake also queues an empty call to the sleeping thread.
struct HeadlessPump::Sleeper {
  Sleeper() : wake(::CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
  ~Sleeper() {
    if (wake != nullptr) ::CloseHandle(wake);
    if (thread != nullptr) ::CloseHandle(thread);
  }
  Sleeper(const Sleeper&) = delete;
  Sleeper& operator=(const Sleeper&) = delete;

  std::uint32_t WaitAll(std::span<const EventHandle> events, DWORD milliseconds);

  HANDLE wake;
  HANDLE thread = nullptr;  // the pump's thread, once it has waited for all
  std::atomic<bool> alertable{false};
};

HeadlessPump::HeadlessPump() : sleeper_(std::make_unique<Sleeper>()) {}

HeadlessPump::HeadlessPump(WithoutPipe) : HeadlessPump() {}

HeadlessPump::~HeadlessPump() = default;

void HeadlessPump::Wake() {
  ::SetEvent(sleeper_->wake);
  if (sleeper_->alertable.load()) ::QueueUserAPC(EndAlertableWait, sleeper_->thread, 0);
}

bool HeadlessPump::WaitForWork(Deadline deadline, bool /*handleInput*/) {
  ::WaitForSingleObject(sleeper_->wake, MillisecondsUntil(deadline));
  return false;
}

std::uint32_t HeadlessPump::WaitForWorkOrEvents(std::span<const EventHandle> events, bool waitAll,
                                                Deadline deadline, bool /*handleInput*/) {
  const DWORD milliseconds = MillisecondsUntil(deadline);
  if (waitAll && !events.empty()) return sleeper_->WaitAll(events, milliseconds);
  std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> handles{};
  for (std::size_t i = 0; i < events.size(); ++i)
    handles[i] = NativeHandle(events[i]);
  handles[events.size()] = sleeper_->wake;
  const DWORD count = static_cast<DWORD>(events.size() + 1);
  const DWORD r = ::WaitForMultipleObjects(count, handles.data(), FALSE, milliseconds);
  if (r == WAIT_FAILED || r < WAIT_OBJECT_0 + count - 1) return r;
  return WAIT_TIMEOUT;  // woken, or the deadline
}

// `alertable` is raised before the wake-up is looked at, and Wake signals
// before it reads the flag (the system calls are full barriers), so either
// this thread sees the wake-up or Wake sees the flag.
std::uint32_t HeadlessPump::Sleeper::WaitAll(std::span<const EventHandle> events,
                                             DWORD milliseconds) {
  if (thread == nullptr) {
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &thread,
                      0, FALSE, DUPLICATE_SAME_ACCESS);
  }
  std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> handles{};
  for (std::size_t i = 0; i < events.size(); ++i)
    handles[i] = NativeHandle(events[i]);
  alertable.store(true);
  DWORD r = WAIT_TIMEOUT;
  if (::WaitForSingleObject(wake, 0) != WAIT_OBJECT_0) {
    r = ::WaitForMultipleObjectsEx(static_cast<DWORD>(events.size()), handles.data(), TRUE,
                                   milliseconds, TRUE);
  }
  alertable.store(false);
  return r == WAIT_IO_COMPLETION ? WAIT_TIMEOUT : r;
}

}  // namespace platform
