#include "platform/decimal_separator.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <cstring>

namespace platform {
namespace {

// 0 means no override is active.
std::atomic<char> g_override{0};

bool UsableSeparator(const char* text) {
  if (text == nullptr || text[0] == '\0' || text[1] != '\0') return false;
  const char c = text[0];
  if (c >= '0' && c <= '9') return false;
  return std::strchr("+-eE \t", c) == nullptr && static_cast<unsigned char>(c) > 0x20;
}

}  // namespace

char DecimalSeparatorOfLocale(const char* localeName) {
  locale_t locale = newlocale(LC_NUMERIC_MASK, localeName, nullptr);
  if (locale == nullptr) return '.';
  const char* radix = nl_langinfo_l(RADIXCHAR, locale);
  const char separator = UsableSeparator(radix) ? radix[0] : '.';
  freelocale(locale);
  return separator;
}

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
