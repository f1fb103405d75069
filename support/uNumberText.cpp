#include "support/uNumberText.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>
#include <system_error>

#include "support/uStringUtils.h"

namespace {

// Whether the conversion took every character of Text.
bool TookAll(std::string_view Text, const std::from_chars_result& Result) {
  return !Text.empty() && Result.ec == std::errc{} && Result.ptr == Text.data() + Text.size();
}

}  // namespace

std::optional<std::uint64_t> ParseDigits(std::string_view Digits, int Base) {
  std::uint64_t value = 0;
  // from_chars takes a '-' for a signed type only; a '+' never.
  if (!TookAll(Digits, std::from_chars(Digits.data(), Digits.data() + Digits.size(), value, Base)))
    return std::nullopt;
  return value;
}

std::optional<std::int64_t> ParseDecimalInteger(std::string_view Text) {
  const bool negative = Text.starts_with('-');
  if (negative || Text.starts_with('+')) Text.remove_prefix(1);
  const std::optional<std::uint64_t> magnitude = ParseDigits(Text);
  constexpr auto kLargest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (!magnitude || *magnitude > kLargest + (negative ? 1 : 0)) return std::nullopt;
  return negative ? static_cast<std::int64_t>(0 - *magnitude)
                  : static_cast<std::int64_t>(*magnitude);
}

std::optional<double> ParseDecimalReal(std::string_view Text) {
  std::string text = Trim(Text);
  std::replace(text.begin(), text.end(), ',', '.');
  std::string_view digits = text;
  if (digits.starts_with('+')) digits.remove_prefix(1);
  double value = 0;
  if (!TookAll(digits, std::from_chars(digits.data(), digits.data() + digits.size(), value)))
    return std::nullopt;
  return value;
}
