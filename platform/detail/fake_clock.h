// Internal: lets waits ask whether a FakeTickClock governs time-outs.
#pragma once

namespace platform::detail {

bool FakeClockActive();

}  // namespace platform::detail
