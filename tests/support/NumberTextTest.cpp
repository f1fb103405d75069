// Numbers read from text the way connection strings, the window's fields and the command
// lines read them: the whole text or nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "support/uNumberText.h"

namespace {

TEST(NumberText, DigitsAreReadInTheirBaseAndNothingElseIsTaken) {
  EXPECT_EQ(ParseDigits("115200"), 115200u);
  EXPECT_EQ(ParseDigits("ff", 16), 255u);
  EXPECT_EQ(ParseDigits("18446744073709551615"), std::numeric_limits<std::uint64_t>::max());
  for (const char* refused : {"", "+5", "-5", " 5", "5 ", "5x", "0x10", "18446744073709551616"})
    EXPECT_FALSE(ParseDigits(refused)) << refused;
}

TEST(NumberText, AnIntegerMayCarryASignButNoBlanks) {
  EXPECT_EQ(ParseDecimalInteger("-42"), -42);
  EXPECT_EQ(ParseDecimalInteger("+42"), 42);
  EXPECT_EQ(ParseDecimalInteger("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(ParseDecimalInteger("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
  for (const char* refused : {"", "-", "+", "+-1", "--1", " 1", "1 ", "1.0", "9223372036854775808"})
    EXPECT_FALSE(ParseDecimalInteger(refused)) << refused;
}

TEST(NumberText, ARealTakesEitherSeparatorAndBlanksAroundIt) {
  EXPECT_EQ(ParseDecimalReal("1,5"), 1.5);
  EXPECT_EQ(ParseDecimalReal(" +2.25 "), 2.25);
  EXPECT_EQ(ParseDecimalReal("-1E3"), -1000.0);
  for (const char* refused : {"", " ", "+", "1,5,0", "1.5x", "++1", "- 1"})
    EXPECT_FALSE(ParseDecimalReal(refused)) << refused;
}

}  // namespace
