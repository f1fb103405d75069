#include "support/uLocaleSettings.h"

#include <atomic>
#include <cstring>

#include <langinfo.h>
#include <locale.h>

namespace {

char EnvironmentDecimalSeparator() {
  // A private locale object: setlocale() would change how every printf in the
  // process formats numbers.
  locale_t locale = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (!locale) return '.';
  const char* radix = nl_langinfo_l(RADIXCHAR, locale);
  const char separator = radix && std::strlen(radix) == 1 ? radix[0] : '.';
  freelocale(locale);
  return separator;
}

std::atomic<char>& Separator() {
  static std::atomic<char> separator{EnvironmentDecimalSeparator()};
  return separator;
}

}  // namespace

char DecimalSeparator() {
  return Separator().load(std::memory_order_relaxed);
}

void SetDecimalSeparator(char separator) {
  Separator().store(separator, std::memory_order_relaxed);
}
