#include "controls/uNumText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include <langinfo.h>
#include <locale.h>

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view SkipBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return text;
}

std::string Printf(const char* format, int precision, double value) {
  char buffer[400];
  const int n = std::snprintf(buffer, sizeof buffer, format, precision, value);
  return std::string(buffer, n > 0 ? std::min<std::size_t>(n, sizeof buffer - 1) : 0);
}

}  // namespace

bool TryTextToInt(std::string_view Text, std::int32_t& Value) {
  Text = SkipBlanks(Text);
  std::string plain;
  if (!Text.empty() && (Text.front() == '-' || Text.front() == '+')) {
    if (Text.front() == '-') plain += '-';
    Text.remove_prefix(1);
  }
  if (Text.empty() || !std::all_of(Text.begin(), Text.end(), IsDigit)) return false;
  plain += Text;
  std::int32_t result = 0;
  const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), result);
  if (error != std::errc() || end != plain.data() + plain.size()) return false;
  Value = result;
  return true;
}

std::int64_t LeadingDigitsValue(std::string_view Text) {
  Text = SkipBlanks(Text);
  if (!Text.empty() && (Text.front() == '-' || Text.front() == '+')) Text.remove_prefix(1);
  constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 10 - 9;
  std::int64_t value = 0;
  for (char c : Text) {
    if (!IsDigit(c)) break;
    value = value >= kLimit ? kLimit : value * 10 + (c - '0');
  }
  return value;
}

bool TryTextToFloat(std::string_view Text, char Separator, double& Value) {
  // Rewritten into the one form from_chars reads, rejecting every other character.
  std::string plain;
  std::size_t i = 0;
  while (i < Text.size() && Text[i] == ' ') ++i;
  std::size_t end = Text.size();
  while (end > i && Text[end - 1] == ' ') --end;
  if (i < end && (Text[i] == '-' || Text[i] == '+')) {
    if (Text[i] == '-') plain += '-';
    ++i;
  }
  int digits = 0;
  bool separator = false;
  for (; i < end; ++i) {
    const char c = Text[i];
    if (IsDigit(c)) {
      plain += c;
      ++digits;
    } else if (c == Separator && !separator) {
      plain += '.';
      separator = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i < end && (Text[i] == 'e' || Text[i] == 'E')) {
    plain += 'e';
    ++i;
    if (i < end && (Text[i] == '-' || Text[i] == '+')) plain += Text[i++];
    const std::size_t exponentStart = i;
    while (i < end && IsDigit(Text[i])) plain += Text[i++];
    if (i == exponentStart) return false;
  }
  if (i != end) return false;
  double result = 0;
  const auto [stop, error] = std::from_chars(plain.data(), plain.data() + plain.size(), result);
  if (error != std::errc() || stop != plain.data() + plain.size() || !std::isfinite(result))
    return false;
  Value = result;
  return true;
}

std::string FloatToTextGeneral(double Value, char Separator) {
  if (Value == 0) return "0";  // also for -0
  std::string text = Printf("%.*g", 15, Value);
  const std::size_t e = text.find('e');
  if (e != std::string::npos) {
    // "1e+20" is written "1E20", "1e-07" is written "1E-7".
    std::string exponent = text.substr(e + 1);
    const bool negative = exponent.front() == '-';
    exponent.erase(0, 1);
    exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
    text = text.substr(0, e) + (negative ? "E-" : "E") + exponent;
  }
  std::replace(text.begin(), text.end(), '.', Separator);
  return text;
}

std::string FloatToTextNumber(double Value, int Decimals, char Separator,
                              std::string_view Thousands) {
  if (!std::isfinite(Value)) return std::isnan(Value) ? "NAN" : (Value > 0 ? "INF" : "-INF");
  Decimals = std::clamp(Decimals, 0, 18);
  // The 15 significant digits d0.d1...d14 times 10^exponent, rounded (halves away from zero)
  // at the last decimal wanted into the digits D of D * 10^-Decimals.
  const std::string scientific = Printf("%.*e", 14, std::fabs(Value));
  const std::string mantissa = scientific.substr(0, 1) + scientific.substr(2, 14);
  const int exponent = std::atoi(scientific.c_str() + scientific.find('e') + 1);
  const int keep = exponent + Decimals + 1;
  std::string digits;
  if (keep <= 0) {
    digits = keep == 0 && mantissa[0] >= '5' ? "1" : "0";
  } else if (keep >= 15) {
    digits = mantissa + std::string(keep - 15, '0');
  } else {
    digits = mantissa.substr(0, keep);
    if (mantissa[keep] >= '5') {
      int k = keep - 1;
      for (; k >= 0 && digits[k] == '9'; --k) digits[k] = '0';
      if (k >= 0)
        ++digits[k];
      else
        digits.insert(0, 1, '1');
    }
  }
  if (digits.size() <= static_cast<std::size_t>(Decimals))
    digits.insert(0, Decimals + 1 - digits.size(), '0');
  const std::size_t integerDigits = digits.size() - Decimals;
  const std::size_t firstDigit =
      std::min(digits.find_first_not_of('0'), integerDigits - 1);  // one zero stays

  std::string result;
  if (Value < 0 && digits.find_first_not_of('0') != std::string::npos) result += '-';
  for (std::size_t k = firstDigit; k < integerDigits; ++k) {
    if (k > firstDigit && (integerDigits - k) % 3 == 0) result += Thousands;
    result += digits[k];
  }
  if (Decimals > 0) result += Separator + digits.substr(integerDigits);
  return result;
}

std::string ThousandSeparator(char Separator) {
  std::string environment;
  if (locale_t locale = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0))) {
    const char* group = nl_langinfo_l(THOUSEP, locale);
    environment = group ? group : "";
    freelocale(locale);
  }
  if (!environment.empty() && environment != std::string(1, Separator)) return environment;
  return Separator == '.' ? "," : "\u00A0";
}
