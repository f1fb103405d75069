#pragma once
// Number texts of the numeric edits: parsing and formatting with a given decimal separator.
// All texts are UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

// A decimal integer: leading blanks, an optional sign, digits, nothing after them.
bool TryTextToInt(std::string_view Text, std::int32_t& Value);
// The value of the digits that start the text (after blanks and a sign, which is dropped);
// 0 when there are none. Saturates instead of overflowing.
std::int64_t LeadingDigitsValue(std::string_view Text);

// A real number written with Separator and no thousands separators: blanks around it
// allowed, an optional sign, digits with at most one separator, an optional exponent.
// Fails for anything else and for values beyond the range of double.
bool TryTextToFloat(std::string_view Text, char Separator, double& Value);

// Up to 15 significant digits, exponent form only for very large or small values: "0",
// "1,5", "-99999999", "1E20".
std::string FloatToTextGeneral(double Value, char Separator);
// Exactly Decimals digits after the separator (at most 18), at most 15 significant digits,
// halves rounded away from zero, groups of three digits split by Thousands: "1 234,50"
// (with an empty Thousands "1234,50").
std::string FloatToTextNumber(double Value, int Decimals, char Separator,
                              std::string_view Thousands);
// The user's thousands separator: the environment's, unless it is missing or equal to
// Separator; then "," beside a decimal point, else a no-break space.
std::string ThousandSeparator(char Separator);
