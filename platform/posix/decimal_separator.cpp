#include <langinfo.h>
#include <locale.h>

#include "platform/decimal_separator.h"
#include "platform/detail/usable_separator.h"

namespace platform {

char DecimalSeparatorOfLocale(const char* localeName) {
  locale_t locale = newlocale(LC_NUMERIC_MASK, localeName, nullptr);
  if (locale == nullptr) return '.';
  const char* radix = nl_langinfo_l(RADIXCHAR, locale);
  const char separator = detail::UsableSeparator(radix) ? radix[0] : '.';
  freelocale(locale);
  return separator;
}

}  // namespace platform
