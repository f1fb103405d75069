#include "support/uConversionUtils.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "support/uErrors.h"

TRange ScaleToRange(float Offset, float Scale, double Span) {
  const long double max = static_cast<long double>(Offset) + static_cast<long double>(Scale) * Span;
  return TRange{Offset, static_cast<float>(max)};
}

void RangeToScale(double Min, double Max, double Span, float& Offset, float& Scale) {
  Offset = static_cast<float>(Min);
  if (Span == 0) throw Exception("Range can't be zero");
  Scale = static_cast<float>((static_cast<long double>(Max) - Min) / Span);
}

double ShortestDecimal(float Value) {
  if (!std::isfinite(Value)) return Value;
  char text[32];
  const char* end = std::to_chars(text, text + sizeof text, Value).ptr;
  double shortest = Value;
  std::from_chars(text, end, shortest);
  return shortest;
}

std::string FloatToStrBin(float Value) {
  const auto bits = std::bit_cast<std::uint32_t>(Value);
  return std::string{static_cast<char>(bits >> 24), static_cast<char>(bits >> 16),
                     static_cast<char>(bits >> 8), static_cast<char>(bits)};
}

float StrBinToFloat(std::string_view Text) {
  if (Text.size() != 4) throw Exception("StrBin must be 4 chars length");
  std::uint32_t bits = 0;
  for (unsigned char byte : Text) bits = (bits << 8) | byte;
  return std::bit_cast<float>(bits);
}
