#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <QWidget>
#include <string>
#include <vector>

#include "controls/uIntEdit.h"
#include "tests/controls/QtTestApp.h"

namespace {

// A window with the field and a second field to move the focus to.
struct TIntForm {
  QWidget Window;
  TIntEdit Edit{&Window};
  QLineEdit Other{&Window};
  TMessageCapture Capture;
  TIntForm() {
    Window.resize(200, 80);
    Edit.setGeometry(10, 10, 100, 24);
    Other.setGeometry(10, 40, 100, 24);
  }
  // Types Text into the emptied field.
  void Type(const QString& Text) {
    Edit.setFocus();
    Edit.clear();
    QTest::keyClicks(&Edit, Text);
  }
  void Leave() { Other.setFocus(); }
};

class IntEditTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ShowActive(Form.Window)); }
  TIntForm Form;
  TIntEdit& Edit = Form.Edit;
};

TEST(IntEdit, NewFieldShowsZeroWithRangeZeroToHundred) {
  TIntEdit edit;
  EXPECT_EQ(edit.text(), QStringLiteral("0"));
  EXPECT_EQ(edit.MinValue(), 0);
  EXPECT_EQ(edit.MaxValue(), 100);
  EXPECT_EQ(edit.Increment(), 1);
  EXPECT_EQ(edit.PageMult(), 10);
  EXPECT_EQ(edit.ShowName(), QStringLiteral("Hodnota"));
  EXPECT_TRUE(edit.AutoCorrect() && edit.UpDownEnable() && edit.EditorEnabled());
  EXPECT_FALSE(edit.FailureBeep() || edit.Colored());
}

TEST(IntEdit, SettersKeepTheRangeAndTheValueConsistent) {
  TIntEdit edit;
  edit.SetValue(250);
  EXPECT_EQ(edit.text(), QStringLiteral("100"));
  edit.SetMinValue(500);  // above the maximum: pulled down to it
  EXPECT_EQ(edit.MinValue(), 100);
  edit.SetMaxValue(-7);  // below the minimum: pulled up to it
  EXPECT_EQ(edit.MaxValue(), 100);
  edit.SetMinValue(-50);
  edit.SetValue(-51);
  EXPECT_EQ(edit.Value(), -50);
  edit.SetMaxValue(-60);
  EXPECT_EQ(edit.MaxValue(), -50);
  edit.SetMinValue(-200);
  edit.SetMaxValue(-100);  // the stored value is re-applied and clamped
  EXPECT_EQ(edit.text(), QStringLiteral("-100"));
  edit.SetIncrement(0);
  edit.SetIncrement(-3);
  EXPECT_EQ(edit.Increment(), 1);
  edit.SetIncrement(5);
  EXPECT_EQ(edit.Increment(), 5);
}

TEST(IntEdit, ValueParsesTheCurrentText) {
  TIntEdit edit;
  edit.setText(QStringLiteral("42"));
  EXPECT_EQ(edit.Value(), 42);  // also beyond the range: the text is read as it is
  edit.setText(QStringLiteral("-"));
  EXPECT_EQ(edit.Value(), 0);
  edit.setText(QStringLiteral("12a"));
  EXPECT_EQ(edit.Value(), 0);
  edit.setText(QStringLiteral("99999999999"));
  EXPECT_EQ(edit.Value(), 0);
}

TEST_F(IntEditTest, EqualBoundsAcceptAnyIntegerAsTheBound) {
  Edit.SetMaxValue(5);
  Edit.SetMinValue(5);
  Edit.SetAutoCorrect(false);
  Form.Type(QStringLiteral("42"));
  Form.Leave();
  EXPECT_EQ(Edit.text(), QStringLiteral("5"));
  EXPECT_TRUE(Form.Other.hasFocus());
  EXPECT_TRUE(Form.Capture.Messages.empty());
}

TEST_F(IntEditTest, AutoCorrectClampsSilently) {
  Edit.SetMaxValue(2);
  for (auto [typed, shown] : std::vector<std::pair<QString, QString>>{
           {"7", "2"}, {"", "0"}, {"-", "0"}, {"-5", "0"}, {"1", "1"}}) {
    Form.Type(typed);
    Form.Leave();
    EXPECT_EQ(Edit.text(), shown) << typed.toStdString();
    EXPECT_TRUE(Form.Other.hasFocus());
  }
  EXPECT_TRUE(Form.Capture.Messages.empty());
}

TEST_F(IntEditTest, AutoCorrectTakesTheLeadingDigitsOfAPastedText) {
  Edit.SetMaxValue(50);
  Form.Type(QString());
  Edit.insert(QStringLiteral("12abc"));  // a paste does not pass the key filter
  Form.Leave();
  EXPECT_EQ(Edit.text(), QStringLiteral("12"));
  Edit.setFocus();
  Edit.setText(QStringLiteral("-30x"));  // the sign is dropped
  Form.Leave();
  EXPECT_EQ(Edit.text(), QStringLiteral("30"));
}

TEST_F(IntEditTest, WithoutAutoCorrectAWrongEntryIsRefused) {
  Edit.SetMaxValue(2);
  Edit.SetValue(1);
  Edit.SetAutoCorrect(false);
  int exits = 0;
  Edit.OnExit = [&](TMyCustomNumEdit*) { ++exits; };
  Form.Type(QStringLiteral("7"));
  Form.Leave();
  ASSERT_EQ(Form.Capture.Messages,
            std::vector<std::string>{"Hodnota musí být v rozmezí od 0 do 2!"});
  EXPECT_TRUE(Edit.hasFocus());
  EXPECT_FALSE(Form.Other.hasFocus());
  EXPECT_EQ(Edit.text(), QStringLiteral("7"));
  EXPECT_EQ(Edit.selectedText(), QStringLiteral("7"));
  // An integer was typed, so the check counts as passed and the exit notification runs.
  EXPECT_EQ(exits, 1);

  // Typing over the selection with a good value lets the focus go.
  QTest::keyClicks(&Edit, QStringLiteral("1"));
  Form.Leave();
  EXPECT_EQ(Form.Capture.Messages.size(), 1u);
  EXPECT_TRUE(Form.Other.hasFocus());
  EXPECT_EQ(Edit.text(), QStringLiteral("1"));
  EXPECT_EQ(exits, 2);
}

TEST_F(IntEditTest, RefusalMessageUsesShowNameAndBounds) {
  Edit.SetMinValue(-3);
  Edit.SetMaxValue(9);
  Edit.SetAutoCorrect(false);
  Edit.SetShowName(QStringLiteral("Počet desetinných míst"));
  Form.Type(QStringLiteral("-"));
  ASSERT_FALSE(Edit.CheckValue());  // not an integer: refused and false
  Form.Type(QStringLiteral("10"));
  ASSERT_TRUE(Edit.CheckValue());  // an integer out of range: message, but true
  EXPECT_EQ(Form.Capture.Messages,
            (std::vector<std::string>{"Počet desetinných míst musí být v rozmezí od -3 do 9!",
                                      "Počet desetinných míst musí být v rozmezí od -3 do 9!"}));
}

TEST_F(IntEditTest, AnotherFieldPassedOverIsNotChecked) {
  // Two refusing fields: the second must not complain while the first takes the focus back.
  TIntEdit second(&Form.Window);
  second.setGeometry(120, 10, 60, 24);
  second.SetAutoCorrect(false);
  second.setText(QStringLiteral("500"));
  second.show();
  Edit.SetAutoCorrect(false);
  Form.Type(QStringLiteral("500"));
  second.setFocus();
  EXPECT_EQ(Form.Capture.Messages.size(), 1u);
  EXPECT_TRUE(Edit.hasFocus());
  EXPECT_EQ(second.text(), QStringLiteral("500"));
}

TEST_F(IntEditTest, EnterChecksAndKeepsTheFocus) {
  Edit.SetMaxValue(2);
  Form.Type(QStringLiteral("9"));
  QTest::keyClick(&Edit, Qt::Key_Return);
  EXPECT_EQ(Edit.text(), QStringLiteral("2"));
  EXPECT_TRUE(Edit.hasFocus());
}

TEST_F(IntEditTest, KeyFilterLetsOnlyNumberCharactersThrough) {
  Form.Type(QStringLiteral("1a+2 -e.,3"));
  EXPECT_EQ(Edit.text(), QStringLiteral("12-3"));
  QTest::keyClick(&Edit, Qt::Key_Backspace);
  QTest::keyClick(&Edit, Qt::Key_Home);
  QTest::keyClick(&Edit, Qt::Key_Delete);
  EXPECT_EQ(Edit.text(), QStringLiteral("2-"));
  QTest::keyClick(&Edit, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(Edit.selectedText(), QStringLiteral("2-"));
  // Clicked into from another field, the whole number is typed over.
  Form.Leave();
  QTest::mouseClick(&Edit, Qt::LeftButton, {}, QPoint(8, Edit.height() / 2));
  QTest::keyClicks(&Edit, QStringLiteral("5"));
  EXPECT_EQ(Edit.text(), QStringLiteral("5"));
}

TEST_F(IntEditTest, PasteAndCutOnlyWhileEditorEnabled) {
  QGuiApplication::clipboard()->setText(QStringLiteral("77"));
  Form.Type(QString());
  Edit.SetEditorEnabled(false);
  QTest::keyClick(&Edit, Qt::Key_V, Qt::ControlModifier);
  EXPECT_TRUE(Edit.text().isEmpty());
  Edit.SetEditorEnabled(true);
  QTest::keyClick(&Edit, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Edit.text(), QStringLiteral("77"));

  Edit.selectAll();
  Edit.SetEditorEnabled(false);
  QTest::keyClick(&Edit, Qt::Key_Delete, Qt::ShiftModifier);
  EXPECT_EQ(Edit.text(), QStringLiteral("77"));
  Edit.SetEditorEnabled(true);
  QTest::keyClick(&Edit, Qt::Key_X, Qt::ControlModifier);  // Ctrl+X is swallowed anyway
  EXPECT_EQ(Edit.text(), QStringLiteral("77"));
  QTest::keyClick(&Edit, Qt::Key_Delete, Qt::ShiftModifier);
  EXPECT_TRUE(Edit.text().isEmpty());
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("77"));
}

TEST_F(IntEditTest, PageDownStepsByPageMultAndStopsAtTheMinimum) {
  Edit.SetValue(25);
  Edit.setFocus();
  QTest::keyClick(&Edit, Qt::Key_PageDown);
  EXPECT_EQ(Edit.text(), QStringLiteral("15"));
  QTest::keyClick(&Edit, Qt::Key_PageDown);
  QTest::keyClick(&Edit, Qt::Key_PageDown);
  EXPECT_EQ(Edit.text(), QStringLiteral("0"));
}

TEST_F(IntEditTest, CtrlMultipliesStepsByTen) {
  Edit.SetMaxValue(1000);
  Edit.SetIncrement(2);
  Edit.setFocus();
  QTest::keyClick(&Edit, Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(Edit.Value(), 200);
  QTest::keyClick(&Edit, Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(Edit.Value(), 220);
  QTest::keyClick(&Edit, Qt::Key_Down);
  EXPECT_EQ(Edit.Value(), 218);
}

TEST_F(IntEditTest, StepStartsFromTheTypedTextOrTheStoredValue) {
  Edit.SetValue(40);
  Form.Type(QStringLiteral("7"));
  QTest::keyClick(&Edit, Qt::Key_Up);
  EXPECT_EQ(Edit.text(), QStringLiteral("8"));
  Form.Type(QStringLiteral("-"));
  QTest::keyClick(&Edit, Qt::Key_Up);
  EXPECT_EQ(Edit.text(), QStringLiteral("9"));  // "-" is no number: the stored 8 steps
}

TEST_F(IntEditTest, StepDoesNotOverflowWithLargeIncrements) {
  Edit.SetMinValue(INT32_MIN);
  Edit.SetMaxValue(INT32_MAX);
  Edit.SetIncrement(INT32_MAX);
  Edit.SetValue(INT32_MAX - 1);
  Edit.setFocus();
  QTest::keyClick(&Edit, Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(Edit.Value(), INT32_MAX);
  QTest::keyClick(&Edit, Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(Edit.Value(), INT32_MIN);
}

TEST_F(IntEditTest, ArrowButtonsStepAndTakeTheFocus) {
  Edit.SetValue(10);
  Form.Other.setFocus();
  TUpDown& arrows = Edit.UpDown();
  EXPECT_LE(arrows.geometry().right(), Edit.width() - 1);
  EXPECT_GE(arrows.geometry().right(), Edit.width() - 4);
  QTest::mouseClick(&arrows, Qt::LeftButton, {}, QPoint(4, 2));
  EXPECT_EQ(Edit.Value(), 11);
  EXPECT_TRUE(Edit.hasFocus());
  QTest::mouseClick(&arrows, Qt::LeftButton, {}, QPoint(4, arrows.height() - 2));
  QTest::mouseClick(&arrows, Qt::LeftButton, {}, QPoint(4, arrows.height() - 2));
  EXPECT_EQ(Edit.Value(), 9);
  QTest::mouseClick(&arrows, Qt::LeftButton, Qt::ControlModifier, QPoint(4, 2));
  EXPECT_EQ(Edit.Value(), 19);

  Edit.SetUpDownEnable(false);
  QTest::mouseClick(&arrows, Qt::LeftButton, {}, QPoint(4, 2));
  EXPECT_EQ(Edit.Value(), 19);
  EXPECT_TRUE(arrows.isVisible());
  Edit.SetUpDownEnable(true);
  QTest::mouseClick(&arrows, Qt::LeftButton, {}, QPoint(4, 2));
  EXPECT_EQ(Edit.Value(), 20);
}

TEST_F(IntEditTest, ArrowButtonsFollowAResize) {
  Edit.resize(150, 30);
  const QRect arrows = Edit.UpDown().geometry();
  EXPECT_GE(arrows.right(), Edit.width() - 4);
  EXPECT_LE(arrows.right(), Edit.width() - 1);
  EXPECT_GE(arrows.height(), Edit.height() - 6);
}

TEST(IntEditEvents, ChangeTextRunsBeforeChange) {
  TIntEdit edit;
  std::vector<std::string> calls;
  edit.OnChangeText = [&](TMyCustomNumEdit* sender) {
    EXPECT_EQ(sender, &edit);
    calls.push_back("text " + sender->text().toStdString());
  };
  edit.OnChange = [&](TMyCustomNumEdit*) { calls.push_back("change"); };
  edit.SetValue(12);
  edit.setText(QStringLiteral("3"));
  EXPECT_EQ(calls, (std::vector<std::string>{"text 12", "change", "text 3", "change"}));
}

TEST(IntEditColours, ColouredShowsTheSignOfTheShownValue) {
  TIntEdit edit;
  edit.SetMinValue(-10);
  edit.SetValue(5);
  EXPECT_EQ(edit.FontColor(), QColor(Qt::black));  // not coloured yet
  edit.SetColored(true);
  EXPECT_EQ(edit.FontColor(), TMyCustomNumEdit::kPositiveColor);
  edit.SetValue(-3);
  EXPECT_EQ(edit.FontColor(), TMyCustomNumEdit::kNegativeColor);
  edit.SetValue(0);
  EXPECT_EQ(edit.FontColor(), QColor(Qt::black));
  edit.SetValue(-1);
  edit.SetColored(false);
  EXPECT_EQ(edit.FontColor(), QColor(Qt::black));
}

TEST(IntEditProperties, ReachableByName) {
  TIntEdit edit;
  ASSERT_TRUE(edit.setProperty("ShowName", QStringLiteral("Desetinná místa")));
  ASSERT_TRUE(edit.setProperty("MaxValue", 2));
  ASSERT_TRUE(edit.setProperty("Value", 9));
  EXPECT_EQ(edit.ShowName(), QStringLiteral("Desetinná místa"));
  EXPECT_EQ(edit.text(), QStringLiteral("2"));
}

}  // namespace
