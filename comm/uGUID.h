#pragma once
// Interface and node identifiers: a 16-byte value written as
// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}. Interface identifiers are compile-time constants.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct TGUID {
  std::array<std::uint8_t, 16> Bytes{};  // in the order the hex digits are written

  bool operator==(const TGUID&) const = default;

  // Parses the braced 38-character form (hex digits in either case); the literal form is
  // checked at compile time, so a mistyped interface identifier does not build.
  static constexpr TGUID FromText(std::string_view text) {
    TGUID guid;
    if (!IsWellFormed(text)) throw "malformed GUID literal";
    std::size_t byte = 0;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
      if (text[i] == '-') continue;
      guid.Bytes[byte] = static_cast<std::uint8_t>(HexValue(text[i]) << 4 | HexValue(text[i + 1]));
      ++byte;
      ++i;
    }
    return guid;
  }

  static constexpr bool IsWellFormed(std::string_view text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    for (std::size_t i = 1; i < 37; ++i) {
      const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
      if (dash ? text[i] != '-' : HexValue(text[i]) < 0) return false;
    }
    return true;
  }

 private:
  static constexpr int HexValue(char Digit) {
    if (Digit >= '0' && Digit <= '9') return Digit - '0';
    if (Digit >= 'A' && Digit <= 'F') return Digit - 'A' + 10;
    if (Digit >= 'a' && Digit <= 'f') return Digit - 'a' + 10;
    return -1;
  }
};

// The braced upper-case text form.
std::string GUIDToString(const TGUID& guid);
// Parses the braced form; raises "'%s' is not a valid GUID value" otherwise.
TGUID StringToGUID(std::string_view text);
// A fresh random GUID.
TGUID NewGUID();
