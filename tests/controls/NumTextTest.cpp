#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "controls/uNumText.h"

namespace {

TEST(TryTextToInt, AcceptsOnlyAWholeDecimalInteger) {
  std::int32_t v = 99;
  EXPECT_TRUE(TryTextToInt("  12", v));
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(TryTextToInt("-2147483648", v));
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_TRUE(TryTextToInt("+7", v));
  EXPECT_EQ(v, 7);
  v = 99;
  for (const char* bad : {"", "-", " ", "12 ", "1a", "+-5", "--5", "2147483648", "0x10", "1,0"})
    EXPECT_FALSE(TryTextToInt(bad, v)) << bad;
  EXPECT_EQ(v, 99);  // untouched by failures
}

TEST(LeadingDigitsValue, TakesTheDigitsBeforeTheFirstOtherCharacter) {
  EXPECT_EQ(LeadingDigitsValue("12abc"), 12);
  EXPECT_EQ(LeadingDigitsValue(" -7x"), 7);
  EXPECT_EQ(LeadingDigitsValue("abc"), 0);
  EXPECT_EQ(LeadingDigitsValue("-"), 0);
  EXPECT_EQ(LeadingDigitsValue(""), 0);
  EXPECT_EQ(LeadingDigitsValue("4294967296"), 4294967296LL);
  // Far too many digits saturate instead of wrapping round to a small or negative number.
  EXPECT_GT(LeadingDigitsValue(std::string(40, '9')), std::int64_t{1} << 59);
}

TEST(TryTextToFloat, ReadsTheUsersSeparatorOnly) {
  double v = 0;
  EXPECT_TRUE(TryTextToFloat("1,5", ',', v));
  EXPECT_DOUBLE_EQ(v, 1.5);
  EXPECT_TRUE(TryTextToFloat(" -2,25 ", ',', v));
  EXPECT_DOUBLE_EQ(v, -2.25);
  EXPECT_TRUE(TryTextToFloat(",5", ',', v));
  EXPECT_DOUBLE_EQ(v, 0.5);
  EXPECT_TRUE(TryTextToFloat("3,", ',', v));
  EXPECT_DOUBLE_EQ(v, 3);
  EXPECT_TRUE(TryTextToFloat("1,5E3", ',', v));
  EXPECT_DOUBLE_EQ(v, 1500);
  EXPECT_TRUE(TryTextToFloat("2e-2", ',', v));
  EXPECT_DOUBLE_EQ(v, 0.02);
  EXPECT_TRUE(TryTextToFloat("1.5", '.', v));
  EXPECT_DOUBLE_EQ(v, 1.5);
  v = 42;
  for (const char* bad : {"", "-", ",", "1.5", "1,2,3", "1 234,5", "1e", "1e+", "e5", "1e999",
                          "inf", "nan", "0x1p3", "1,5x", "+-1"})
    EXPECT_FALSE(TryTextToFloat(bad, ',', v)) << bad;
  EXPECT_EQ(v, 42);
}

TEST(FloatToTextGeneral, ShortestFormUpToFifteenDigits) {
  EXPECT_EQ(FloatToTextGeneral(0, ','), "0");
  EXPECT_EQ(FloatToTextGeneral(-0.0, ','), "0");
  EXPECT_EQ(FloatToTextGeneral(1.5, ','), "1,5");
  EXPECT_EQ(FloatToTextGeneral(-99999999, ','), "-99999999");
  EXPECT_EQ(FloatToTextGeneral(0.1, ','), "0,1");
  EXPECT_EQ(FloatToTextGeneral(2.0 / 3, '.'), "0.666666666666667");
  EXPECT_EQ(FloatToTextGeneral(1e20, ','), "1E20");
  EXPECT_EQ(FloatToTextGeneral(-1.5e-7, ','), "-1,5E-7");
  EXPECT_EQ(FloatToTextGeneral(123456789012345678.0, ','), "1,23456789012346E17");
}

TEST(FloatToTextNumber, FixedDecimalsWithGroups) {
  EXPECT_EQ(FloatToTextNumber(1234.5, 2, ',', " "), "1 234,50");
  EXPECT_EQ(FloatToTextNumber(-1234567.891, 1, ',', "."), "-1.234.567,9");
  EXPECT_EQ(FloatToTextNumber(999.5, 0, '.', ","), "1,000");
  EXPECT_EQ(FloatToTextNumber(123, 0, ',', " "), "123");
  EXPECT_EQ(FloatToTextNumber(0, 3, ',', " "), "0,000");
  EXPECT_EQ(FloatToTextNumber(0.05, 2, ',', " "), "0,05");
  EXPECT_EQ(FloatToTextNumber(-10000, 2, ',', ""), "-10000,00");
}

TEST(FloatToTextNumber, RoundsHalvesAwayFromZeroAndDropsANegativeZero) {
  EXPECT_EQ(FloatToTextNumber(0.125, 2, '.', ","), "0.13");
  EXPECT_EQ(FloatToTextNumber(-2.5, 0, '.', ","), "-3");
  EXPECT_EQ(FloatToTextNumber(0.005, 2, '.', ","), "0.01");
  EXPECT_EQ(FloatToTextNumber(0.004, 2, '.', ","), "0.00");
  EXPECT_EQ(FloatToTextNumber(-0.001, 2, '.', ","), "0.00");
  EXPECT_EQ(FloatToTextNumber(9.999, 2, '.', ","), "10.00");
}

TEST(FloatToTextNumber, FifteenSignificantDigitsAtMost) {
  EXPECT_EQ(FloatToTextNumber(1234567890.123456789, 6, '.', ""),
            "1234567890.12346"
            "0");
  EXPECT_EQ(FloatToTextNumber(1e17 + 8, 0, '.', ""), "100000000000000000");
  // Very many decimals are cut to 18.
  EXPECT_EQ(FloatToTextNumber(0.5, 40, '.', ""),
            "0."
            "5" +
                std::string(17, '0'));
}

TEST(ThousandSeparator, NeverEqualsTheDecimalSeparator) {
  for (char separator : {',', '.'}) {
    const std::string thousands = ThousandSeparator(separator);
    EXPECT_FALSE(thousands.empty());
    EXPECT_NE(thousands, std::string(1, separator));
  }
}

}  // namespace
