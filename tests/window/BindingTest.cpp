#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/uViewElement.h"
#include "app/uf_MainBinding.h"
#include "controls/ShapeEx.h"
#include "controls/uDoubleEdit.h"
#include "controls/uIntEdit.h"
#include "support/uErrors.h"
#include "tests/controls/QtTestApp.h"

namespace {

class BindingTest : public ::testing::Test {
 protected:
  BindingTest() {
    Page = &Form.CreateComponent("TPanel", "pPage");
    Place(*Page, 0, 0, 400, 300);
    Title = &Add("TLabel", "lTitle", 10, 10, 200, 16);
    Title->Set("Caption", "Ahoj");
    Name = &Add("TEdit", "eName", 10, 40, 150, 22);
    List = &Add("TComboBox", "cbList", 10, 70, 150, 22);
    List->SetItems({"jedna", "dvě", "tři"});
    Check = &Add("TCheckBox", "cbCheck", 10, 100, 150, 20);
    Rows = &Add("TListBox", "lbRows", 200, 40, 150, 80);
    Progress = &Add("TProgressBar", "pbProgress", 10, 130, 150, 16);
    Progress->Set("Max", 0);
    for (const char* N : {"sbA", "sbB", "sbC"}) {
      TViewElement& Tab = Add("TShapeEx", N, 10 + 60 * (N[2] - 'A'), 160, 55, 24);
      Tab.Set("Caption", N);
      Tab.Set("Group", 1);
      Tab.Set("AllowDown", true);
      Tab.Set("AllowUp", std::string(N) == "sbC");
      Tab.SetHandler("OnClick", [this, N](TViewElement&) { Clicks.push_back(N); });
    }
    Timer = &Form.CreateComponent("TTimer", "Timer1");
    Timer->Set("Enabled", false);
    Window.resize(400, 300);
    Binding = std::make_unique<TElementBinding>(Form, Window);
  }

  TViewElement& Add(const char* Class, const char* ElementName, int L, int T, int W, int H) {
    TViewElement& E = Form.CreateComponent(Class, ElementName, Page);
    Place(E, L, T, W, H);
    return E;
  }
  static void Place(TViewElement& E, int L, int T, int W, int H) {
    E.Set("Left", L);
    E.Set("Top", T);
    E.Set("Width", W);
    E.Set("Height", H);
  }
  template <class TWidget>
  TWidget* W(const char* ElementName) {
    return qobject_cast<TWidget*>(Binding->Widget(ElementName));
  }
  void Counting(TViewElement& E) {
    E.SetHandler("OnChange", [this](TViewElement&) { ++Changes; });
  }

  TViewElement Form{"TfMain", "fTest"};
  TViewElement* Page;
  TViewElement* Title;
  TViewElement* Name;
  TViewElement* List;
  TViewElement* Check;
  TViewElement* Rows;
  TViewElement* Progress;
  TViewElement* Timer;
  QWidget Window;
  std::unique_ptr<TElementBinding> Binding;
  std::vector<std::string> Clicks;
  int Changes = 0;
  TMessageCapture Capture;
};

TEST_F(BindingTest, EveryControlHasAWidgetNamedAndPlacedAsItsElement) {
  auto* Label = W<QLabel>("lTitle");
  ASSERT_NE(Label, nullptr);
  EXPECT_EQ(Label->objectName(), "lTitle");
  EXPECT_EQ(Label->parentWidget(), Binding->Widget("pPage"));
  EXPECT_EQ(Label->geometry(), QRect(10, 10, 200, 16));
  EXPECT_EQ(Label->text(), "Ahoj");
  EXPECT_NE(W<QLineEdit>("eName"), nullptr);
  EXPECT_NE(W<QComboBox>("cbList"), nullptr);
  EXPECT_NE(W<TShapeEx>("sbA"), nullptr);
  EXPECT_EQ(Binding->Widget("nothing"), nullptr);
  ASSERT_NE(Binding->Timer("Timer1"), nullptr);
  EXPECT_EQ(W<QComboBox>("cbList")->count(), 3);
  EXPECT_EQ(W<QComboBox>("cbList")->itemText(1), QString::fromUtf8("dvě"));
}

TEST_F(BindingTest, ElementChangesReachTheirWidgets) {
  Window.show();
  Title->Set("Caption", "Nazdar");
  EXPECT_EQ(W<QLabel>("lTitle")->text(), "Nazdar");
  Title->Set("Left", 30);
  EXPECT_EQ(W<QLabel>("lTitle")->x(), 30);
  Title->Set("Visible", false);
  EXPECT_FALSE(W<QLabel>("lTitle")->isVisible());
  Name->Set("Enabled", false);
  EXPECT_FALSE(W<QLineEdit>("eName")->isEnabled());
  List->Set("ItemIndex", 2);
  EXPECT_EQ(W<QComboBox>("cbList")->currentIndex(), 2);
  List->SetItems({"a", "b"});
  EXPECT_EQ(W<QComboBox>("cbList")->count(), 2);
  EXPECT_EQ(W<QComboBox>("cbList")->currentIndex(), -1);
  Rows->AddItem("VIROD|COM3|0001");
  Rows->AddItem("DAZAZE|USB|0042");
  Rows->Set("ItemIndex", 1);
  EXPECT_EQ(W<QListWidget>("lbRows")->count(), 2);
  EXPECT_EQ(W<QListWidget>("lbRows")->currentRow(), 1);
  Check->Set("Checked", true);
  EXPECT_TRUE(W<QCheckBox>("cbCheck")->isChecked());
  Form.Set("Caption", "KVX setup 1.0");
  EXPECT_EQ(Window.windowTitle(), "KVX setup 1.0");
}

TEST_F(BindingTest, OperatorEditsGoIntoTheElementButElementWritesDoNotComeBackAsEdits) {
  Counting(*Name);
  Counting(*List);
  Counting(*Check);
  Counting(*Rows);
  ASSERT_TRUE(ShowActive(Window));
  QTest::keyClicks(W<QLineEdit>("eName"), "ab");
  EXPECT_EQ(Name->GetText("Text"), "ab");
  EXPECT_EQ(Changes, 2);
  Name->Set("Text", "xyz");
  EXPECT_EQ(W<QLineEdit>("eName")->text(), "xyz");
  // On the box itself: a check box without text takes clicks there only.
  QTest::mouseClick(W<QCheckBox>("cbCheck"), Qt::LeftButton, {}, QPoint(6, 10));
  EXPECT_TRUE(Check->GetBool("Checked"));
  EXPECT_EQ(Changes, 3);
  // The list reports the operator's choice (activated), not the ones made by code.
  List->Set("ItemIndex", 0);
  EXPECT_EQ(Changes, 3);
  QMetaObject::invokeMethod(W<QComboBox>("cbList"), "activated", Q_ARG(int, 2));
  EXPECT_EQ(List->GetInt("ItemIndex"), 2);
  EXPECT_EQ(Changes, 4);
  Rows->SetItems({"a", "b", "c"});
  EXPECT_EQ(Changes, 4);
  W<QListWidget>("lbRows")->setCurrentRow(2);
  EXPECT_EQ(Rows->GetInt("ItemIndex"), 2);
  EXPECT_EQ(Changes, 5);
}

TEST_F(BindingTest, TabsClickThenGoDownAndReleaseTheirGroup) {
  ASSERT_TRUE(ShowActive(Window));
  QTest::mouseClick(W<TShapeEx>("sbA"), Qt::LeftButton);
  EXPECT_EQ(Clicks, std::vector<std::string>{"sbA"});
  EXPECT_TRUE(Form.Component("sbA").GetBool("Down"));
  EXPECT_TRUE(W<TShapeEx>("sbA")->Down());
  QTest::mouseClick(W<TShapeEx>("sbB"), Qt::LeftButton);
  EXPECT_TRUE(W<TShapeEx>("sbB")->Down());
  EXPECT_FALSE(W<TShapeEx>("sbA")->Down());
  EXPECT_FALSE(Form.Component("sbA").GetBool("Down"));
  // A tab without AllowUp stays down when clicked again; one with it comes up.
  QTest::mouseClick(W<TShapeEx>("sbB"), Qt::LeftButton);
  EXPECT_TRUE(W<TShapeEx>("sbB")->Down());
  QTest::mouseClick(W<TShapeEx>("sbC"), Qt::LeftButton);
  EXPECT_TRUE(W<TShapeEx>("sbC")->Down());
  QTest::mouseClick(W<TShapeEx>("sbC"), Qt::LeftButton);
  EXPECT_FALSE(W<TShapeEx>("sbC")->Down());
  EXPECT_FALSE(Form.Component("sbC").GetBool("Down"));
  EXPECT_EQ(Clicks.size(), 5u);
  // The controller puts a tab down by code: the widgets follow.
  Form.Component("sbA").Set("Down", true);
  EXPECT_TRUE(W<TShapeEx>("sbA")->Down());
  EXPECT_FALSE(W<TShapeEx>("sbB")->Down());
}

TEST_F(BindingTest, ReleaseOutsideRaisesNoClickButStillMovesTheTabDown) {
  ASSERT_TRUE(ShowActive(Window));
  TShapeEx* Tab = W<TShapeEx>("sbB");
  QTest::mousePress(Tab, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseRelease(Tab, Qt::LeftButton, {}, QPoint(Tab->width() + 40, 5));
  EXPECT_TRUE(Clicks.empty());
  EXPECT_TRUE(Form.Component("sbB").GetBool("Down"));
}

TEST_F(BindingTest, ErrorsOfAHandlerGoToTheOperator) {
  ASSERT_TRUE(ShowActive(Window));
  Form.Component("sbA").SetHandler("OnClick",
                                   [](TViewElement&) { throw Exception("Nelze pokračovat"); });
  QTest::mouseClick(W<TShapeEx>("sbA"), Qt::LeftButton);
  EXPECT_EQ(Capture.Messages, std::vector<std::string>{"Nelze pokračovat"});
}

TEST_F(BindingTest, ClickingAFrameShowsNoErrorAndStillReachesItsHandler) {
  TViewElement& Frame = Add("TShape", "sFrame", 200, 200, 150, 60);
  int FrameClicks = 0;
  Frame.SetHandler("OnClick", [&](TViewElement&) { ++FrameClicks; });
  TElementBinding Local(Form, *new QWidget(&Window));
  ASSERT_TRUE(ShowActive(Window));
  QTest::mouseClick(Local.Widget("sFrame"), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(FrameClicks, 1);
  EXPECT_TRUE(Capture.Messages.empty()) << Capture.Messages.front();
}

TEST_F(BindingTest, NumberFieldsShowTheirElementsBoundsAndValueAndReportTyping) {
  TViewElement& Limit = Add("TDoubleEdit", "deLimit", 200, 150, 100, 22);
  Limit.Set("MaxValue", 10);
  Limit.Set("Decimals", 1);
  Limit.Set("Value", 3);
  TViewElement& Count = Add("TIntEdit", "ieCount", 200, 180, 100, 22);
  Count.Set("MaxValue", 50);
  Count.Set("Value", 7);
  Counting(Count);
  TElementBinding Local(Form, *new QWidget(&Window));
  auto* LimitEdit = qobject_cast<TDoubleEdit*>(Local.Widget("deLimit"));
  auto* CountEdit = qobject_cast<TIntEdit*>(Local.Widget("ieCount"));
  ASSERT_NE(LimitEdit, nullptr);
  ASSERT_NE(CountEdit, nullptr);
  EXPECT_EQ(LimitEdit->MaxValue(), 10);
  EXPECT_EQ(LimitEdit->Decimals(), 1);
  EXPECT_EQ(LimitEdit->Value(), 3);
  EXPECT_EQ(CountEdit->Value(), 7);
  // The controller narrows the range and sets a new value: the fields follow.
  Limit.Set("MaxValue", 5);
  Limit.Set("Value", 4);
  EXPECT_EQ(LimitEdit->MaxValue(), 5);
  EXPECT_EQ(LimitEdit->Value(), 4);
  Count.Set("ShowName", "Počet");
  EXPECT_EQ(CountEdit->ShowName(), QString::fromUtf8("Počet"));
  EXPECT_EQ(Changes, 0);
  // What the operator types goes into the element, once.
  CountEdit->setText("12");
  EXPECT_EQ(Count.GetInt("Value"), 12);
  EXPECT_EQ(Changes, 1);
}

TEST_F(BindingTest, TimerFollowsItsElementAndTicksDoNotOverlap) {
  QTimer* T = Binding->Timer("Timer1");
  EXPECT_FALSE(T->isActive());
  int Ticks = 0;
  int Inside = 0;
  int MostInside = 0;
  Timer->SetHandler("OnTimer", [&](TViewElement&) {
    ++Ticks;
    MostInside = std::max(MostInside, ++Inside);
    QTest::qWait(60);  // a slow tick that lets the event loop run meanwhile
    --Inside;
  });
  Timer->Set("Interval", 10);
  Timer->Set("Enabled", true);
  EXPECT_TRUE(T->isActive());
  EXPECT_EQ(T->interval(), 10);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Ticks >= 3; }, 5000));
  EXPECT_EQ(MostInside, 1);
  Timer->Set("Enabled", false);
  EXPECT_FALSE(T->isActive());
}

TEST_F(BindingTest, AnEmptyProgressRangeStaysABarNotABusyIndicator) {
  auto* Bar = W<QProgressBar>("pbProgress");
  EXPECT_GT(Bar->maximum(), Bar->minimum());
  EXPECT_EQ(Bar->value(), 0);
  Progress->Set("Max", 40);
  Progress->Set("Position", 20);
  EXPECT_EQ(Bar->maximum(), 40);
  EXPECT_EQ(Bar->value(), 20);
}

TEST_F(BindingTest, BroughtToFrontLiesAboveItsSiblings) {
  TViewElement& Under = Add("TPanel", "pUnder", 0, 200, 100, 50);
  TViewElement& Over = Add("TPanel", "pOver", 0, 200, 100, 50);
  TElementBinding Local(Form, *new QWidget(&Window));
  QWidget* PageWidget = Local.Widget("pPage");
  EXPECT_EQ(PageWidget->childAt(50, 225), Local.Widget("pOver"));
  Under.BringToFront();
  EXPECT_EQ(PageWidget->childAt(50, 225), Local.Widget("pUnder"));
  Over.BringToFront();
  EXPECT_EQ(PageWidget->childAt(50, 225), Local.Widget("pOver"));
}

TEST_F(BindingTest, ATooLongLabelWrapsInsideItsParent) {
  Title->Set("Caption", "A sensor with a 4-20 mA output is connected to this input");
  auto* Label = W<QLabel>("lTitle");
  EXPECT_TRUE(Label->wordWrap());
  EXPECT_EQ(Label->width(), 200);
  EXPECT_GT(Label->height(), 16);
  EXPECT_GE(Label->y(), 0);
  // One long word cannot wrap: it shrinks onto its line.
  Title->Set("Caption", "Messwertüberwachungseinrichtung");
  EXPECT_FALSE(Label->wordWrap());
  EXPECT_LE(Label->fontMetrics().horizontalAdvance(Label->text()), 200);
  EXPECT_LT(Label->font().pointSize(), Window.font().pointSize());
  Title->Set("Caption", "Krátký");
  EXPECT_FALSE(Label->wordWrap());
  EXPECT_EQ(Label->geometry(), QRect(10, 10, 200, 16));
}

}  // namespace
