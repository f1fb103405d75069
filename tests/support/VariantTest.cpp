#include <gtest/gtest.h>

#include "support/uErrors.h"
#include "support/uVariant.h"

TEST(Variant, EmptyAndNullAreDistinct) {
  EXPECT_TRUE(TVariant().IsEmpty());
  EXPECT_FALSE(TVariant().IsNull());
  EXPECT_TRUE(TVariant::Null().IsNull());
  EXPECT_NE(TVariant(), TVariant::Null());
  EXPECT_EQ(TVariant().ToText(), "");
  EXPECT_EQ(TVariant::Null().ToText(), "");
}

TEST(Variant, TextForms) {
  EXPECT_EQ(TVariant("abc").ToText(), "abc");
  EXPECT_EQ(TVariant(true).ToText(), "True");
  EXPECT_EQ(TVariant(false).ToText(), "False");
  EXPECT_EQ(TVariant(42).ToText(), "42");
  EXPECT_EQ(TVariant(-0.5).ToText(), "-0.5");
  EXPECT_EQ(TVariant(0.1).ToText(), "0.1");
  EXPECT_EQ(std::stod(TVariant(1.0 / 3).ToText()), 1.0 / 3);
}

TEST(Variant, BooleanFromWordsAndNumbers) {
  EXPECT_TRUE(TVariant(true).ToBool());
  EXPECT_FALSE(TVariant(0).ToBool());
  EXPECT_TRUE(TVariant(-3).ToBool());
  EXPECT_TRUE(TVariant("TRUE").ToBool());
  EXPECT_TRUE(TVariant("true").ToBool());
  EXPECT_FALSE(TVariant("False").ToBool());
  EXPECT_FALSE(TVariant(" 0 ").ToBool());
  EXPECT_TRUE(TVariant("1").ToBool());
  EXPECT_TRUE(TVariant("-2.5").ToBool());
}

TEST(Variant, OtherTextIsNotABoolean) {
  for (const char* text : {"yes", "", "1x", "Truex"}) {
    try {
      TVariant(text).ToBool();
      FAIL() << "accepted '" << text << "'";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid boolean value");
    }
  }
  EXPECT_THROW(TVariant::Null().ToBool(), Exception);
}
