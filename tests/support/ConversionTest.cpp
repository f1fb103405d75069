#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <thread>

#include "support/uConversionUtils.h"
#include "support/uErrors.h"

TEST(ScaleToRange, OffsetAndScaleGiveTheRange) {
  const TRange range = ScaleToRange(-5.0f, 0.0625f, 10000);
  EXPECT_EQ(range.Min, -5.0f);
  EXPECT_EQ(range.Max, 620.0f);
}

TEST(RangeToScale, RangeGivesOffsetAndNearestFloatScale) {
  float offset = 0, scale = 0;
  RangeToScale(4, 20, 10000, offset, scale);
  EXPECT_EQ(offset, 4.0f);
  EXPECT_EQ(scale, 0.0016f);

  RangeToScale(7, 7, 10000, offset, scale);
  EXPECT_EQ(offset, 7.0f);
  EXPECT_EQ(scale, 0.0f);
}

TEST(RangeToScale, ZeroSpanRaisesAfterStoringTheOffset) {
  float offset = 1, scale = 3;
  try {
    RangeToScale(-2, 8, 0, offset, scale);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Range can't be zero");
  }
  EXPECT_EQ(offset, -2.0f);
  EXPECT_EQ(scale, 3.0f);
}

TEST(StrBin, KnownPatternsAreBigEndian) {
  EXPECT_EQ(FloatToStrBin(1.0f), std::string("\x3F\x80\x00\x00", 4));
  EXPECT_EQ(FloatToStrBin(-2.5f), std::string("\xC0\x20\x00\x00", 4));
  EXPECT_EQ(StrBinToFloat(std::string(4, '\0')), 0.0f);
  EXPECT_EQ(StrBinToFloat(std::string("\xC0\x20\x00\x00", 4)), -2.5f);
}

TEST(StrBin, WrongLengthRaises) {
  for (const std::string& text : {std::string(3, 'a'), std::string(5, 'a'), std::string()}) {
    try {
      StrBinToFloat(text);
      FAIL() << "no exception for length " << text.size();
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "StrBin must be 4 chars length");
    }
  }
}

// Every finite single (both zeros and all denormals included) survives the wire
// encoding bit for bit.
namespace {

struct TRoundTripCount {
  uint64_t checked = 0;
  uint64_t wrong = 0;
  uint32_t firstWrong = 0;
};

// Bit patterns [first, last] through the wire encoding and back.
TRoundTripCount RoundTrip(uint32_t first, uint32_t last) {
  TRoundTripCount count;
  for (uint32_t bits = first;; ++bits) {
    const float value = std::bit_cast<float>(bits);
    if (std::isfinite(value)) {
      const std::string wire = FloatToStrBin(value);
      const bool bigEndian = wire.size() == 4 &&
                             static_cast<unsigned char>(wire[0]) == bits >> 24 &&
                             static_cast<unsigned char>(wire[3]) == (bits & 0xFF);
      if (!bigEndian || std::bit_cast<uint32_t>(StrBinToFloat(wire)) != bits) {
        if (count.wrong++ == 0) count.firstWrong = bits;
      }
      ++count.checked;
    }
    if (bits == last) break;
  }
  return count;
}

}  // namespace

// Every finite single (both zeros and all denormals included) survives the wire
// encoding bit for bit. The positive and negative halves run side by side.
TEST(StrBin, EveryFiniteFloatRoundTripsBitExactly) {
  TRoundTripCount negative;
  std::thread worker([&] { negative = RoundTrip(0x80000000u, 0xFFFFFFFFu); });
  const TRoundTripCount positive = RoundTrip(0, 0x7FFFFFFFu);
  worker.join();
  EXPECT_EQ(positive.wrong, 0u) << "first failing pattern " << std::hex << positive.firstWrong;
  EXPECT_EQ(negative.wrong, 0u) << "first failing pattern " << std::hex << negative.firstWrong;
  // All patterns but NaN and infinity: 2^32 - 2^24.
  EXPECT_EQ(positive.checked + negative.checked, (uint64_t{1} << 32) - (uint64_t{1} << 24));
}

// The module's production record and the server's speed command carry numbers most
// significant byte first.
TEST(WireNumbers, ReadMostSignificantByteFirst) {
  EXPECT_EQ(BigEndian(std::string("\x12\x34", 2)), 0x1234u);
  EXPECT_EQ(BigEndian(std::string("\x00\x01\xC2\x00", 4)), 115200u);
  EXPECT_EQ(BigEndian(std::string("\xFF", 1)), 0xFFu);
  EXPECT_EQ(BigEndian(""), 0u);
}

TEST(WireNumbers, WriteFourBytesMostSignificantFirstAndReadBack) {
  EXPECT_EQ(BigEndian32(115200), std::string("\x00\x01\xC2\x00", 4));
  EXPECT_EQ(BigEndian(BigEndian32(0xDEADBEEFu)), 0xDEADBEEFu);
}

TEST(WireNumbers, AByteIsOneCharacterOfThatValue) {
  EXPECT_EQ(Byte(0), std::string(1, '\0'));
  EXPECT_EQ(Byte(0xFE), std::string(1, '\xFE'));
}
