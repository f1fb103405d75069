// Blanks of a language file's text filled in: a translation may reorder them or leave one out.
#include <gtest/gtest.h>

#include "support/uStringUtils.h"

namespace {

TEST(FillIn, BlanksAreFilledWhereverTheTranslationPutsThem) {
  EXPECT_EQ(FillIn("%1 musí být v rozmezí od %2 do %3!", {"Hodnota", "0", "2"}),
            "Hodnota musí být v rozmezí od 0 do 2!");
  EXPECT_EQ(FillIn("from %2 to %3: %1", {"Value", "0", "2"}), "from 0 to 2: Value");
  EXPECT_EQ(FillIn("Channel", {"3"}), "Channel");
}

TEST(FillIn, PercentSignsWithoutAValueStayAsWritten) {
  EXPECT_EQ(FillIn("%1 %s %d 100% %9 %", {"x"}), "x %s %d 100% %9 %");
  // A value is never read as a template itself.
  EXPECT_EQ(FillIn("%1", {"%1%2"}), "%1%2");
}

}  // namespace
