#include "platform/decimal_separator.h"

#include <atomic>

namespace platform {
namespace {

// 0 means no override is active.
std::atomic<char> g_override{0};

}  // namespace

char DecimalSeparator() {
  const char overridden = g_override.load(std::memory_order_acquire);
  if (overridden != 0) return overridden;
  static const char fromLocale = DecimalSeparatorOfLocale("");
  return fromLocale;
}

ScopedDecimalSeparator::ScopedDecimalSeparator(char separator)
    : previous_(g_override.exchange(separator, std::memory_order_acq_rel)) {}

ScopedDecimalSeparator::~ScopedDecimalSeparator() {
  g_override.store(previous_, std::memory_order_release);
}

}  // namespace platform
