#include "platform/detail/thread_state.h"

namespace platform::detail {

ThreadState& CurrentThreadState() {
  thread_local ThreadState state;
  return state;
}

}  // namespace platform::detail
