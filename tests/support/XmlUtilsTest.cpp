#include <gtest/gtest.h>

#include <functional>

#include "support/uErrors.h"
#include "support/uLocaleSettings.h"
#include "support/uXmlUtils.h"

namespace {

// Restores the process's decimal separator after a test changed it.
class XmlUtils : public ::testing::Test {
 protected:
  void TearDown() override { SetDecimalSeparator(saved_); }
  TXMLDocument doc_ = TXMLDocument::LoadFromXML("<r name=\"fMain\" empty=\"\" num=\"1.5\"/>");
  TXMLNode root_ = doc_.DocumentElement();

 private:
  char saved_ = DecimalSeparator();
};

std::string MessageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.what();
  }
  return "no exception";
}

}  // namespace

TEST_F(XmlUtils, ReadAttrPrefersThePresentAttribute) {
  EXPECT_EQ(ReadAttr(root_, "name", "?"), TVariant("fMain"));
  EXPECT_EQ(ReadAttr(root_, "empty", "?"), TVariant(""));
  EXPECT_EQ(ReadAttr(root_, "missing", "?"), TVariant("?"));
  EXPECT_EQ(ReadAttr(TXMLNode(), "name", 5), TVariant(5));
}

TEST_F(XmlUtils, ReadAttrRaisesForNullAndEmptyResults) {
  EXPECT_EQ(MessageOf([&] { ReadAttr(root_, "missing", TVariant()); }),
            "Variant is Empty !!!! ***");
  EXPECT_EQ(MessageOf([&] { ReadAttr(root_, "missing", TVariant::Null()); }),
            "Variant is Null !!!! ***");
  EXPECT_EQ(MessageOf([&] { ReadAttr(TXMLNode(), "x", TVariant()); }), "Variant is Empty !!!! ***");
}

TEST_F(XmlUtils, ReadAttrNormalisesToText) {
  SetDecimalSeparator(',');
  EXPECT_EQ(ReadAttr(root_, "num", "0", true), TVariant("1,5"));
  EXPECT_EQ(ReadAttr(root_, "missing", 2.25, true), TVariant("2,25"));
  // Normalising turns an empty default into empty text, which is a value.
  EXPECT_EQ(ReadAttr(root_, "missing", TVariant(), true), TVariant(""));
}

TEST_F(XmlUtils, TryReadAttr) {
  std::string text = "unchanged";
  EXPECT_FALSE(TryReadAttr(TXMLNode(), text, "name"));
  EXPECT_FALSE(TryReadAttr(root_, text, "missing"));
  EXPECT_EQ(text, "unchanged");
  EXPECT_TRUE(TryReadAttr(root_, text, "empty"));
  EXPECT_EQ(text, "");
  EXPECT_TRUE(TryReadAttr(root_, text, "name"));
  EXPECT_EQ(text, "fMain");
}

TEST_F(XmlUtils, NormalizeDecimalSeparatorFollowsTheUserSetting) {
  SetDecimalSeparator(',');
  EXPECT_EQ(NormalizeDecimalSeparator("1.250,5"), "1,250,5");
  SetDecimalSeparator('.');
  EXPECT_EQ(NormalizeDecimalSeparator("1.250,5"), "1.250.5");
  SetDecimalSeparator('\'');
  EXPECT_EQ(NormalizeDecimalSeparator("1.250,5"), "1.250,5");
}
