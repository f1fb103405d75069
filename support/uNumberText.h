#pragma once
// Numbers read from text: connection strings, view element values, command lines. Each
// function takes the whole text or nothing.
#include <cstdint>
#include <optional>
#include <string_view>

// Digits of Base only (no sign, blank or prefix); empty when anything else is there or the
// number does not fit in 64 bits.
std::optional<std::uint64_t> ParseDigits(std::string_view Digits, int Base = 10);
// An optional '+' or '-', then decimal digits; empty when anything else is there or the
// number does not fit in 64 bits.
std::optional<std::int64_t> ParseDecimalInteger(std::string_view Text);
// A decimal real as an operator or a file under any locale writes it: blanks around it, an
// optional '+', a decimal point or comma, an exponent ("1,5", "-2.5e3", " +7 ").
std::optional<double> ParseDecimalReal(std::string_view Text);
