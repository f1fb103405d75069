#include <gtest/gtest.h>

#include "support/uCodePage.h"

TEST(CodePage, CzechLettersBothWays) {
  const std::string cp =
      "P\xF8\xED\x9Eli\x9A \x9Elu\x9Dou\xE8k\xFD k\xF9\xF2 \xFA\x70\xECl \xCF\xC1\xC8\x8A";
  const std::string utf8 =
      "P\xC5\x99\xC3\xAD\xC5\xBEli\xC5\xA1 \xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD "
      "k\xC5\xAF\xC5\x88 \xC3\xBAp\xC4\x9Bl \xC4\x8E\xC3\x81\xC4\x8C\xC5\xA0";
  EXPECT_EQ(Cp1250ToUtf8(cp), utf8);
  EXPECT_EQ(Utf8ToCp1250(utf8), cp);
  EXPECT_EQ(Cp1250ToUtf8("\x80"), "\xE2\x82\xAC");  // euro sign
}

TEST(CodePage, EveryDefinedByteRoundTripsAndTheUndefinedBecomeQuestionMarks) {
  for (int byte = 0; byte < 256; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    const bool undefined =
        byte == 0x81 || byte == 0x83 || byte == 0x88 || byte == 0x90 || byte == 0x98;
    EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(one)), undefined ? "?" : one) << byte;
  }
}

TEST(CodePage, UnrepresentableAndMalformedInputIsReplacedNotDropped) {
  EXPECT_EQ(Utf8ToCp1250("a\xE6\x97\xA5\xF0\x9F\x98\x80z"), "a??z");  // CJK, emoji
  EXPECT_EQ(Utf8ToCp1250("a\xFF"
                         "b"),
            "a?b");  // stray byte
  EXPECT_EQ(Utf8ToCp1250("a\xC4"
                         "b"),
            "a?b");                          // broken sequence
  EXPECT_EQ(Utf8ToCp1250("ab\xC5"), "ab?");  // cut off at the end
  EXPECT_EQ(Utf8ToCp1250("\xED\xA0\x80"
                         "c"),
            "???c");  // surrogate: 3 bad bytes
  EXPECT_EQ(Cp1250ToUtf8("x\x81y"), "x?y");
  EXPECT_EQ(Utf8ToCp1250(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(Cp1250ToUtf8(""), "");
}

TEST(CodePage, LongTextsConvertCompletely) {
  std::string cp, utf8;
  for (int i = 0; i < 5000; ++i) {
    cp +=
        "\xE8"
        "a\x9E";
    utf8 +=
        "\xC4\x8D"
        "a\xC5\xBE";
  }
  EXPECT_EQ(Cp1250ToUtf8(cp), utf8);
  EXPECT_EQ(Utf8ToCp1250(utf8 + "\xE6\x97\xA5"), cp + "?");
}
