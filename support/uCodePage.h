#pragma once
// The 8-bit texts of the modules and the language files use the Windows-1250 code page;
// the window and the XML access use UTF-8. A character that the target cannot represent
// (or a byte that is not valid in the source) becomes '?'; the rest is always converted.
#include <string>
#include <string_view>

std::string Cp1250ToUtf8(std::string_view text);
std::string Utf8ToCp1250(std::string_view text);
