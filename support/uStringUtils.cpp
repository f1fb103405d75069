#include "support/uStringUtils.h"

#include <cstdarg>
#include <cstdio>

std::string Trim(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= 0x20) ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= 0x20) --last;
  return std::string(text.substr(first, last - first));
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& character : result)
    if (character >= 'a' && character <= 'z') character = static_cast<char>(character - 'a' + 'A');
  return result;
}

bool SameText(std::string_view first, std::string_view second) {
  return first.size() == second.size() && UpperCase(first) == UpperCase(second);
}

std::string PadRight(std::string_view text, std::size_t width) {
  std::string result(text.substr(0, width));
  result.resize(width, ' ');
  return result;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(result.data(), result.size() + 1, format, args);
  va_end(args);
  return result;
}

std::string FillIn(std::string_view Template, const std::vector<std::string>& Values) {
  std::string text;
  for (std::size_t i = 0; i < Template.size(); ++i) {
    const char next = i + 1 < Template.size() ? Template[i + 1] : '\0';
    const std::size_t index = static_cast<std::size_t>(next - '1');
    if (Template[i] == '%' && next >= '1' && next <= '9' && index < Values.size()) {
      text += Values[index];
      ++i;
    } else {
      text += Template[i];
    }
  }
  return text;
}
