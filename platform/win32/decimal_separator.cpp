#include "platform/win32/windows_headers.h"

#include <array>
#include <string>

#include "platform/decimal_separator.h"
#include "platform/detail/usable_separator.h"

namespace platform {
namespace {

// A locale name ("de-DE") as the system's wide text; names are ASCII.
std::wstring WideName(const char* name) {
  std::wstring wide;
  for (const char* c = name; *c != '\0'; ++c)
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
  return wide;
}

}  // namespace

char DecimalSeparatorOfLocale(const char* localeName) {
  LCID locale = LOCALE_USER_DEFAULT;
  if (localeName[0] != '\0') {
    locale = LocaleNameToLCID(WideName(localeName).c_str(), 0);
    if (locale == 0) return '.';
  }
  std::array<char, 8> text{};
  if (GetLocaleInfoA(locale, LOCALE_SDECIMAL, text.data(), static_cast<int>(text.size())) == 0) {
    return '.';
  }
  return detail::UsableSeparator(text.data()) ? text[0] : '.';
}

}  // namespace platform
