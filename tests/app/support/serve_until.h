// Serves the application's messages in the calling (user-interface) thread
// until `done` holds, or a generous deadline passes. The wait sleeps until
// work arrives; nothing is polled.
#pragma once

#include <chrono>
#include <functional>

#include "platform/application.h"

namespace app::testing {

inline bool ServeUntil(platform::Application& application, const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    application.ProcessMessages();
    if (done()) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    platform::MsgWaitForMultipleObjects({}, false, static_cast<std::uint32_t>(left.count()),
                                        platform::QS_ALLINPUT);
  }
}

}  // namespace app::testing
