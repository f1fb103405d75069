#include "support/uConversionUtils.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

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
  if (Value == 0) return 0;
  char text[32];
  const char* end = std::to_chars(text, text + sizeof text, Value).ptr;
  double shortest = Value;
  std::from_chars(text, end, shortest);
  return shortest;
}

TRangeEnds ShownRange(float Offset, float Scale, double Span) {
  const double bottom = ShortestDecimal(Offset);
  const auto top = static_cast<double>(static_cast<long double>(Offset) +
                                       static_cast<long double>(Scale) * Span);
  if (Span == 0 || !std::isfinite(top)) return {bottom, ShortestDecimal(static_cast<float>(top))};
  // The decimals that give Scale back form an interval around the top; the top rounded to
  // the fewest digits that lands inside it is the shortest of them.
  for (int digits = 1; digits <= std::numeric_limits<double>::max_digits10; ++digits) {
    char text[40];
    const char* end =
        std::to_chars(text, text + sizeof text, top, std::chars_format::general, digits).ptr;
    double candidate = top;
    std::from_chars(text, end, candidate);
    float offset = 0, scale = 0;
    RangeToScale(bottom, candidate, Span, offset, scale);
    if (scale == Scale) return {bottom, candidate == 0 ? 0 : candidate};
  }
  return {bottom, top};
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
