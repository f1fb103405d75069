#pragma once
// Small text helpers shared by the protocol, the log and the command-line switches.
#include <string>
#include <string_view>
#include <vector>

// Removes leading and trailing characters whose codes are 0x20 or lower.
std::string Trim(std::string_view text);
// ASCII-only upper case; bytes above 0x7F are left as they are.
std::string UpperCase(std::string_view text);
// Case-insensitive (ASCII) equality.
bool SameText(std::string_view first, std::string_view second);
// Text, padded with blanks and cut to exactly Width characters.
std::string PadRight(std::string_view text, std::size_t width);
// "%.*d"-style formatting without the C varargs at every call site.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Template with "%1" .. "%9" replaced by the values given (a language file's text with its
// blanks to fill); other "%" stay as they are.
std::string FillIn(std::string_view Template, const std::vector<std::string>& Values);
