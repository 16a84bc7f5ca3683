#include "platform/detail/wait_core.h"

#include <algorithm>
#include <vector>

#include "platform/detail/fake_clock.h"
#include "platform/tick_count.h"

namespace platform::detail {
namespace {

std::vector<MessagePump*>& BlockedPumps() {
  static std::vector<MessagePump*> pumps;
  return pumps;
}

}  // namespace

std::mutex& WaitLock() {
  static std::mutex lock;
  return lock;
}

std::size_t BlockedCountLocked() {
  return BlockedPumps().size();
}

std::condition_variable_any& BlockedChanged() {
  static std::condition_variable_any changed;
  return changed;
}

void WakeAllBlockedLocked() {
  for (MessagePump* pump : BlockedPumps())
    pump->Wake();
}

BlockedWait::BlockedWait(MessagePump* pump) : pump_(pump) {
  BlockedPumps().push_back(pump_);
  BlockedChanged().notify_all();
}

BlockedWait::~BlockedWait() {
  auto& blocked = BlockedPumps();
  blocked.erase(std::find(blocked.begin(), blocked.end(), pump_));
}

bool HasEmptyOrDuplicate(std::span<const EventHandle> events, bool waitAll) {
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (!events[i]) return true;
    for (std::size_t j = 0; waitAll && j < i; ++j) {
      if (events[j] == events[i]) return true;
    }
  }
  return false;
}

TickDeadline::TickDeadline(std::uint32_t milliseconds)
    : start_(GetTickCount()), milliseconds_(milliseconds) {}

std::uint32_t TickDeadline::Left() const {
  if (milliseconds_ == INFINITE) return INFINITE;
  return TicksLeft(start_, GetTickCount(), milliseconds_);
}

MessagePump::Deadline TickDeadline::RealTime(std::uint32_t left) {
  if (left == INFINITE || FakeClockActive()) return std::nullopt;
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(left);
}

}  // namespace platform::detail
