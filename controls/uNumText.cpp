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

bool IsDigit(char Character) {
  return Character >= '0' && Character <= '9';
}

std::string_view SkipBlanks(std::string_view Text) {
  while (!Text.empty() && Text.front() == ' ') Text.remove_prefix(1);
  return Text;
}

std::string Printf(const char* Format, int Precision, double Value) {
  char buffer[400];
  const int written = std::snprintf(buffer, sizeof buffer, Format, Precision, Value);
  return std::string(buffer, written > 0 ? std::min<std::size_t>(written, sizeof buffer - 1) : 0);
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
  for (char digit : Text) {
    if (!IsDigit(digit)) break;
    value = value >= kLimit ? kLimit : value * 10 + (digit - '0');
  }
  return value;
}

bool TryTextToFloat(std::string_view Text, char Separator, double& Value) {
  // Rewritten into the one form from_chars reads, rejecting every other character.
  std::string plain;
  std::size_t at = 0;
  while (at < Text.size() && Text[at] == ' ') ++at;
  std::size_t end = Text.size();
  while (end > at && Text[end - 1] == ' ') --end;
  if (at < end && (Text[at] == '-' || Text[at] == '+')) {
    if (Text[at] == '-') plain += '-';
    ++at;
  }
  int digits = 0;
  bool separator = false;
  for (; at < end; ++at) {
    const char character = Text[at];
    if (IsDigit(character)) {
      plain += character;
      ++digits;
    } else if (character == Separator && !separator) {
      plain += '.';
      separator = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (at < end && (Text[at] == 'e' || Text[at] == 'E')) {
    plain += 'e';
    ++at;
    if (at < end && (Text[at] == '-' || Text[at] == '+')) plain += Text[at++];
    const std::size_t exponentStart = at;
    while (at < end && IsDigit(Text[at])) plain += Text[at++];
    if (at == exponentStart) return false;
  }
  if (at != end) return false;
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
  const std::size_t exponentAt = text.find('e');
  if (exponentAt != std::string::npos) {
    // "1e+20" is written "1E20", "1e-07" is written "1E-7".
    std::string exponent = text.substr(exponentAt + 1);
    const bool negative = exponent.front() == '-';
    exponent.erase(0, 1);
    exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
    text = text.substr(0, exponentAt) + (negative ? "E-" : "E") + exponent;
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
      int carry = keep - 1;
      for (; carry >= 0 && digits[carry] == '9'; --carry) digits[carry] = '0';
      if (carry >= 0)
        ++digits[carry];
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
  for (std::size_t digit = firstDigit; digit < integerDigits; ++digit) {
    if (digit > firstDigit && (integerDigits - digit) % 3 == 0) result += Thousands;
    result += digits[digit];
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
