// The decimal separator of the user's locale, the one character that float
// text uses between integer and fraction digits.
//
// The locale is read once, on the first call: on POSIX from the environment
// (LC_ALL, LC_NUMERIC, LANG) without touching the process's global locale,
// on Windows from the user's regional settings.
// A separator that cannot serve as one (several bytes, a digit, a sign, an
// exponent letter, a space) falls back to ".". Tests replace the value with a
// ScopedDecimalSeparator. All functions may be called from any thread.
#pragma once

namespace platform {

// The separator in effect: the innermost live override, else the locale's.
char DecimalSeparator();

// The separator of the named locale ("" means the user's; POSIX names such as
// "de_DE.UTF-8", Windows names such as "de-DE"), uncached; "." when the
// locale does not exist.
char DecimalSeparatorOfLocale(const char* localeName);

// Makes DecimalSeparator() return `separator` for its lifetime, restoring the
// previous value (another override or the locale's) when it ends. Meant for
// tests and for nesting in one thread at a time.
class ScopedDecimalSeparator {
 public:
  explicit ScopedDecimalSeparator(char separator);
  ~ScopedDecimalSeparator();
  ScopedDecimalSeparator(const ScopedDecimalSeparator&) = delete;
  ScopedDecimalSeparator& operator=(const ScopedDecimalSeparator&) = delete;

 private:
  char previous_;
};

}  // namespace platform
