#include "support/uVariant.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "support/uErrors.h"
#include "support/uStringUtils.h"

namespace {

std::string NumberToText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buffer[32];
  // Shortest text that reads back as the same double.
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// The whole (trimmed) text is a decimal number.
bool TextToNumber(std::string_view text, double& value) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return false;
  const char* first = trimmed.data();
  const char* last = first + trimmed.size();
  if (*first == '+') ++first;
  const auto result = std::from_chars(first, last, value);
  return result.ec == std::errc{} && result.ptr == last;
}

}  // namespace

std::string TVariant::ToText() const {
  if (const auto* text = std::get_if<std::string>(&FValue)) return *text;
  if (const auto* flag = std::get_if<bool>(&FValue)) return *flag ? "True" : "False";
  if (const auto* number = std::get_if<double>(&FValue)) return NumberToText(*number);
  return std::string();
}

bool TVariant::ToBool() const {
  if (const auto* flag = std::get_if<bool>(&FValue)) return *flag;
  if (const auto* number = std::get_if<double>(&FValue)) return *number != 0;
  const std::string text = ToText();
  if (IsText()) {
    if (SameText(Trim(text), "True")) return true;
    if (SameText(Trim(text), "False")) return false;
    double number = 0;
    if (TextToNumber(text, number)) return number != 0;
  }
  throw Exception(Format("'%s' is not a valid boolean value", text.c_str()));
}
