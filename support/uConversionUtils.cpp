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
  return BigEndian32(std::bit_cast<std::uint32_t>(Value));
}

bool SameBits(float Left, float Right) {
  return std::bit_cast<std::uint32_t>(Left) == std::bit_cast<std::uint32_t>(Right);
}

float StrBinToFloat(std::string_view Text) {
  if (Text.size() != 4) throw Exception("StrBin must be 4 chars length");
  return std::bit_cast<float>(BigEndian(Text));
}

std::string Byte(std::uint8_t Value) {
  return std::string(1, static_cast<char>(Value));
}

std::uint32_t BigEndian(std::string_view Bytes) {
  std::uint32_t value = 0;
  for (unsigned char byte : Bytes) value = (value << 8) | byte;
  return value;
}

std::string BigEndian32(std::uint32_t Value) {
  return {static_cast<char>(Value >> 24), static_cast<char>(Value >> 16),
          static_cast<char>(Value >> 8), static_cast<char>(Value)};
}
