#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <QWidget>
#include <string>
#include <vector>

#include "controls/uDoubleEdit.h"
#include "controls/uNumText.h"
#include "support/uLocaleSettings.h"
#include "tests/controls/QtTestApp.h"

namespace {

// The user's decimal separator for one test.
class TSeparator {
 public:
  explicit TSeparator(char separator) : FPrevious(DecimalSeparator()) {
    SetDecimalSeparator(separator);
  }
  ~TSeparator() { SetDecimalSeparator(FPrevious); }
  TSeparator(const TSeparator&) = delete;
  TSeparator& operator=(const TSeparator&) = delete;

 private:
  char FPrevious;
};

class DoubleEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Window.resize(200, 80);
    Edit.setGeometry(10, 10, 120, 24);
    Other.setGeometry(10, 40, 100, 24);
    ASSERT_TRUE(ShowActive(Window));
  }
  void Type(const QString& text) {
    Edit.setFocus();
    Edit.clear();
    QTest::keyClicks(&Edit, text);
  }
  void Leave() { Other.setFocus(); }

  TSeparator Comma{','};
  QWidget Window;
  TDoubleEdit Edit{&Window};
  QLineEdit Other{&Window};
  TMessageCapture Capture;
};

TEST(DoubleEdit, NewFieldHasAnEmptyRangeSoEveryValueStaysZero) {
  const TSeparator comma(',');
  TDoubleEdit edit;
  EXPECT_EQ(edit.text(), QStringLiteral("0"));
  EXPECT_EQ(edit.MinValue(), 0);
  EXPECT_EQ(edit.MaxValue(), 0);
  EXPECT_EQ(edit.Increment(), 1.0);
  EXPECT_EQ(edit.Decimals(), 2);
  EXPECT_EQ(edit.DecimalBenhaviour(), dbAuto);
  edit.SetValue(5);
  EXPECT_EQ(edit.text(), QStringLiteral("0"));
  edit.SetMaxValue(10);
  edit.SetValue(1.5);
  EXPECT_EQ(edit.text(), QStringLiteral("1,5"));
}

TEST(DoubleEdit, SettersClampAndIgnoreNonsense) {
  const TSeparator comma(',');
  TDoubleEdit edit;
  edit.SetMinValue(-99999999);
  edit.SetMaxValue(99999999);
  edit.SetValue(-1e12);
  EXPECT_EQ(edit.text(), QStringLiteral("-99999999"));
  edit.SetValue(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(edit.text(), QStringLiteral("-99999999"));
  edit.SetMinValue(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(edit.MinValue(), -99999999);
  edit.SetIncrement(0);
  EXPECT_EQ(edit.Increment(), 1.0);
  edit.SetIncrement(0.25);
  EXPECT_EQ(edit.Increment(), 0.25);
}

TEST(DoubleEdit, ValueReadsTheTextWithTheUsersSeparator) {
  const TSeparator comma(',');
  TDoubleEdit edit;
  edit.setText(QStringLiteral("1,5"));
  EXPECT_EQ(edit.Value(), 1.5);
  edit.setText(QStringLiteral("1.5"));
  EXPECT_EQ(edit.Value(), 0);
  edit.setText(QStringLiteral("-"));
  EXPECT_EQ(edit.Value(), 0);
}

TEST_F(DoubleEditTest, OutOfRangeBringsTheMessageWithTwoDecimals) {
  Edit.SetMinValue(-10000);
  Edit.SetMaxValue(10000);
  Edit.SetValue(3);
  ASSERT_TRUE(Edit.AutoCorrect());  // does not reach the real-number field
  int exits = 0;
  Edit.OnExit = [&](TMyCustomNumEdit*) { ++exits; };
  Type(QStringLiteral("12000"));
  Leave();
  ASSERT_EQ(Capture.Messages,
            std::vector<std::string>{"Hodnota musí být v rozmezí od -10000,00 do 10000,00!"});
  EXPECT_TRUE(Edit.hasFocus());
  EXPECT_EQ(Edit.selectedText(), QStringLiteral("12000"));
  EXPECT_EQ(exits, 1);  // the text converted: the check passes, the field keeps the focus
  EXPECT_EQ(Edit.Value(), 12000);  // the getter reads the text
  QTest::keyClicks(&Edit, QStringLiteral("-2,5"));
  Leave();
  EXPECT_TRUE(Other.hasFocus());
  EXPECT_EQ(Edit.text(), QStringLiteral("-2,5"));
  EXPECT_EQ(Capture.Messages.size(), 1u);
}

TEST_F(DoubleEditTest, APointSeparatorIsWrittenInTheMessageToo) {
  const TSeparator point('.');
  Edit.SetMinValue(-0.5);
  Edit.SetMaxValue(1234.567);
  Edit.SetShowName(QStringLiteral("Hystereze"));
  Type(QStringLiteral("-1"));
  EXPECT_TRUE(Edit.CheckValue());
  Edit.setText(QStringLiteral("1,5"));  // not a number with "." as the separator
  EXPECT_FALSE(Edit.CheckValue());
  EXPECT_EQ(Capture.Messages,
            (std::vector<std::string>{"Hystereze musí být v rozmezí od -0.50 do 1234.57!",
                                      "Hystereze musí být v rozmezí od -0.50 do 1234.57!"}));
}

TEST_F(DoubleEditTest, AnEmptyEntryCountsAsZero) {
  Edit.SetMinValue(-5);
  Edit.SetMaxValue(5);
  Edit.SetValue(4);
  Type(QString());
  Leave();
  EXPECT_EQ(Edit.text(), QStringLiteral("0"));
  EXPECT_TRUE(Capture.Messages.empty());
}

TEST_F(DoubleEditTest, SeparatorKeysTypeTheUsersSeparator) {
  Edit.SetMaxValue(100);
  Type(QStringLiteral("1.5"));
  EXPECT_EQ(Edit.text(), QStringLiteral("1,5"));
  Type(QStringLiteral("2,5e+1"));
  EXPECT_EQ(Edit.text(), QStringLiteral("2,51"));
  const TSeparator point('.');
  Type(QStringLiteral("3,25"));
  EXPECT_EQ(Edit.text(), QStringLiteral("3.25"));
}

TEST_F(DoubleEditTest, RememberTakesTheDecimalsTyped) {
  Edit.SetMaxValue(100);
  Edit.SetDecimalBenhaviour(dbRemember);
  EXPECT_EQ(Edit.text(), QStringLiteral("0,00"));
  Type(QStringLiteral("3,140"));
  Leave();
  EXPECT_EQ(Edit.Decimals(), 3);
  EXPECT_EQ(Edit.text(), QStringLiteral("3,140"));
  Type(QStringLiteral("3"));
  Leave();
  EXPECT_EQ(Edit.Decimals(), 0);
  EXPECT_EQ(Edit.text(), QStringLiteral("3"));
  Edit.SetValue(7.25);
  EXPECT_EQ(Edit.text(), QStringLiteral("7"));
}

TEST_F(DoubleEditTest, ManualDecimalsGroupThousandsAndSuchATextIsRefused) {
  Edit.SetMinValue(-99999999);
  Edit.SetMaxValue(99999999);
  Edit.SetDecimalBenhaviour(dbManual);
  Edit.SetValue(1234.5);
  const QString thousands = QString::fromStdString(ThousandSeparator(','));
  EXPECT_EQ(Edit.text(), QStringLiteral("1") + thousands + QStringLiteral("234,50"));
  EXPECT_EQ(Edit.Value(), 0);
  Edit.setFocus();
  Leave();
  EXPECT_EQ(Capture.Messages.size(), 1u);
  EXPECT_TRUE(Edit.hasFocus());
  Edit.SetDecimals(0);
  EXPECT_EQ(Edit.text(), QStringLiteral("1") + thousands + QStringLiteral("235"));
}

TEST_F(DoubleEditTest, StepsUseIncrementAndClamp) {
  Edit.SetMinValue(-1);
  Edit.SetMaxValue(30);
  Edit.SetIncrement(0.5);
  Edit.SetValue(2);
  Edit.setFocus();
  QTest::keyClick(&Edit, Qt::Key_Up);
  EXPECT_EQ(Edit.text(), QStringLiteral("2,5"));
  QTest::keyClick(&Edit, Qt::Key_PageDown);
  EXPECT_EQ(Edit.text(), QStringLiteral("-1"));
  QTest::keyClick(&Edit, Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(Edit.text(), QStringLiteral("30"));
  // A text that is no number steps from the stored value.
  Edit.setText(QStringLiteral("-"));
  QTest::keyClick(&Edit, Qt::Key_Down);
  EXPECT_EQ(Edit.text(), QStringLiteral("29,5"));
}

TEST_F(DoubleEditTest, KeypadPlusMakesTheValuePositive) {
  Edit.SetMinValue(-10);
  Edit.SetMaxValue(10);
  Type(QStringLiteral("-7,5"));
  QTest::keyClick(&Edit, Qt::Key_Plus, Qt::KeypadModifier);
  EXPECT_EQ(Edit.text(), QStringLiteral("7,5"));
  QTest::keyClick(&Edit, Qt::Key_Plus);  // the main keyboard's "+" is only swallowed
  EXPECT_EQ(Edit.text(), QStringLiteral("7,5"));
}

}  // namespace
