#pragma once
// Conversions between a channel's linear scaling and its range, the 4-byte wire real, and
// the bytes of wire numbers (most significant first, as the module and the servers send them).
#include <cstdint>
#include <string>
#include <string_view>

struct TRange {
  float Min = 0;
  float Max = 0;
};

// Min := Offset, Max := Offset + Scale * Span (computed in extended precision).
TRange ScaleToRange(float Offset, float Scale, double Span);
// Offset := Min first; raises "Range can't be zero" when Span is 0 (Scale then keeps its value).
void RangeToScale(double Min, double Max, double Span, float& Offset, float& Scale);
// The double of the shortest decimal that reads back as Value in single precision (12.3f
// gives 12.3, not 12.300000190734863), so a field shows what the module stores; zero of
// either sign gives 0.
double ShortestDecimal(float Value);
// A range as it is shown and typed: each end the shortest decimal that gives Offset and Scale
// back through RangeToScale, so -10..10 shows its top as 10 where Offset + Scale * Span is
// 10.000001 in single precision, and retyping either end changes nothing.
struct TRangeEnds {
  double Min = 0;
  double Max = 0;
};
TRangeEnds ShownRange(float Offset, float Scale, double Span);
// IEEE 754 single, most significant byte first.
std::string FloatToStrBin(float Value);
// Whether two singles have the same bits: a module gives back the single it was sent, and
// reals are compared so (NaN equals itself, -0 differs from 0).
bool SameBits(float Left, float Right);
// Raises "StrBin must be 4 chars length" unless Text has exactly 4 bytes.
float StrBinToFloat(std::string_view Text);
// One byte as a string of one character.
std::string Byte(std::uint8_t Value);
// The number that up to four bytes give, most significant first ("" gives 0).
std::uint32_t BigEndian(std::string_view Bytes);
// The four bytes of Value, most significant first.
std::string BigEndian32(std::uint32_t Value);
