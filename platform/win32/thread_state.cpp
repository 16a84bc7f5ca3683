#include "platform/win32/windows_headers.h"

#include <stdexcept>

#include "platform/detail/thread_state.h"

namespace platform::detail {
namespace {

void WINAPI DestroyThreadState(void* state) {
  std::unique_ptr<ThreadState> ending(static_cast<ThreadState*>(state));
}

DWORD Slot() {
  static const DWORD slot = ::FlsAlloc(DestroyThreadState);
  if (slot == FLS_OUT_OF_INDEXES) throw std::runtime_error("no fiber-local slot is left");
  return slot;
}

}  // namespace

ThreadState& CurrentThreadState() {
  const DWORD slot = Slot();
  if (auto* state = static_cast<ThreadState*>(::FlsGetValue(slot))) return *state;
  auto made = std::make_unique<ThreadState>();
  if (!::FlsSetValue(slot, made.get())) throw std::runtime_error("cannot keep the thread's state");
  return *made.release();
}

}  // namespace platform::detail
