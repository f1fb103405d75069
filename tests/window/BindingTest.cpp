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
    for (const char* name : {"sbA", "sbB", "sbC"}) {
      TViewElement& tab = Add("TShapeEx", name, 10 + 60 * (name[2] - 'A'), 160, 55, 24);
      tab.Set("Caption", name);
      tab.Set("Group", 1);
      tab.Set("AllowDown", true);
      tab.Set("AllowUp", std::string(name) == "sbC");
      tab.SetHandler("OnClick", [this, name](TViewElement&) { Clicks.push_back(name); });
    }
    Timer = &Form.CreateComponent("TTimer", "Timer1");
    Timer->Set("Enabled", false);
    Window.resize(400, 300);
    Binding = std::make_unique<TElementBinding>(Form, Window);
  }

  TViewElement& Add(const char* Class, const char* ElementName, int Left, int Top, int Width,
                    int Height) {
    TViewElement& element = Form.CreateComponent(Class, ElementName, Page);
    Place(element, Left, Top, Width, Height);
    return element;
  }
  static void Place(TViewElement& Element, int Left, int Top, int Width, int Height) {
    Element.Set("Left", Left);
    Element.Set("Top", Top);
    Element.Set("Width", Width);
    Element.Set("Height", Height);
  }
  template <class TWidget>
  TWidget* WidgetOf(const char* ElementName) {
    return qobject_cast<TWidget*>(Binding->Widget(ElementName));
  }
  void Counting(TViewElement& Element) {
    Element.SetHandler("OnChange", [this](TViewElement&) { ++Changes; });
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
  auto* label = WidgetOf<QLabel>("lTitle");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->objectName(), "lTitle");
  EXPECT_EQ(label->parentWidget(), Binding->Widget("pPage"));
  EXPECT_EQ(label->geometry(), QRect(10, 10, 200, 16));
  EXPECT_EQ(label->text(), "Ahoj");
  EXPECT_NE(WidgetOf<QLineEdit>("eName"), nullptr);
  EXPECT_NE(WidgetOf<QComboBox>("cbList"), nullptr);
  EXPECT_NE(WidgetOf<TShapeEx>("sbA"), nullptr);
  EXPECT_EQ(Binding->Widget("nothing"), nullptr);
  ASSERT_NE(Binding->Timer("Timer1"), nullptr);
  EXPECT_EQ(WidgetOf<QComboBox>("cbList")->count(), 3);
  EXPECT_EQ(WidgetOf<QComboBox>("cbList")->itemText(1), QString::fromUtf8("dvě"));
}

TEST_F(BindingTest, ElementChangesReachTheirWidgets) {
  Window.show();
  Title->Set("Caption", "Nazdar");
  EXPECT_EQ(WidgetOf<QLabel>("lTitle")->text(), "Nazdar");
  Title->Set("Left", 30);
  EXPECT_EQ(WidgetOf<QLabel>("lTitle")->x(), 30);
  Title->Set("Visible", false);
  EXPECT_FALSE(WidgetOf<QLabel>("lTitle")->isVisible());
  Name->Set("Enabled", false);
  EXPECT_FALSE(WidgetOf<QLineEdit>("eName")->isEnabled());
  List->Set("ItemIndex", 2);
  EXPECT_EQ(WidgetOf<QComboBox>("cbList")->currentIndex(), 2);
  List->SetItems({"a", "b"});
  EXPECT_EQ(WidgetOf<QComboBox>("cbList")->count(), 2);
  EXPECT_EQ(WidgetOf<QComboBox>("cbList")->currentIndex(), -1);
  Rows->AddItem("VIROD|COM3|0001");
  Rows->AddItem("DAZAZE|USB|0042");
  Rows->Set("ItemIndex", 1);
  EXPECT_EQ(WidgetOf<QListWidget>("lbRows")->count(), 2);
  EXPECT_EQ(WidgetOf<QListWidget>("lbRows")->currentRow(), 1);
  Check->Set("Checked", true);
  EXPECT_TRUE(WidgetOf<QCheckBox>("cbCheck")->isChecked());
  Form.Set("Caption", "KVX setup 1.0");
  EXPECT_EQ(Window.windowTitle(), "KVX setup 1.0");
}

TEST_F(BindingTest, OperatorEditsGoIntoTheElementButElementWritesDoNotComeBackAsEdits) {
  Counting(*Name);
  Counting(*List);
  Counting(*Check);
  Counting(*Rows);
  ASSERT_TRUE(ShowActive(Window));
  QTest::keyClicks(WidgetOf<QLineEdit>("eName"), "ab");
  EXPECT_EQ(Name->GetText("Text"), "ab");
  EXPECT_EQ(Changes, 2);
  Name->Set("Text", "xyz");
  EXPECT_EQ(WidgetOf<QLineEdit>("eName")->text(), "xyz");
  // On the box itself: a check box without text takes clicks there only.
  QTest::mouseClick(WidgetOf<QCheckBox>("cbCheck"), Qt::LeftButton, {}, QPoint(6, 10));
  EXPECT_TRUE(Check->GetBool("Checked"));
  EXPECT_EQ(Changes, 3);
  // The list reports the operator's choice (activated), not the ones made by code.
  List->Set("ItemIndex", 0);
  EXPECT_EQ(Changes, 3);
  QMetaObject::invokeMethod(WidgetOf<QComboBox>("cbList"), "activated", Q_ARG(int, 2));
  EXPECT_EQ(List->GetInt("ItemIndex"), 2);
  EXPECT_EQ(Changes, 4);
  Rows->SetItems({"a", "b", "c"});
  EXPECT_EQ(Changes, 4);
  WidgetOf<QListWidget>("lbRows")->setCurrentRow(2);
  EXPECT_EQ(Rows->GetInt("ItemIndex"), 2);
  EXPECT_EQ(Changes, 5);
}

TEST_F(BindingTest, TabsClickThenGoDownAndReleaseTheirGroup) {
  ASSERT_TRUE(ShowActive(Window));
  QTest::mouseClick(WidgetOf<TShapeEx>("sbA"), Qt::LeftButton);
  EXPECT_EQ(Clicks, std::vector<std::string>{"sbA"});
  EXPECT_TRUE(Form.Component("sbA").GetBool("Down"));
  EXPECT_TRUE(WidgetOf<TShapeEx>("sbA")->Down());
  QTest::mouseClick(WidgetOf<TShapeEx>("sbB"), Qt::LeftButton);
  EXPECT_TRUE(WidgetOf<TShapeEx>("sbB")->Down());
  EXPECT_FALSE(WidgetOf<TShapeEx>("sbA")->Down());
  EXPECT_FALSE(Form.Component("sbA").GetBool("Down"));
  // A tab without AllowUp stays down when clicked again; one with it comes up.
  QTest::mouseClick(WidgetOf<TShapeEx>("sbB"), Qt::LeftButton);
  EXPECT_TRUE(WidgetOf<TShapeEx>("sbB")->Down());
  QTest::mouseClick(WidgetOf<TShapeEx>("sbC"), Qt::LeftButton);
  EXPECT_TRUE(WidgetOf<TShapeEx>("sbC")->Down());
  QTest::mouseClick(WidgetOf<TShapeEx>("sbC"), Qt::LeftButton);
  EXPECT_FALSE(WidgetOf<TShapeEx>("sbC")->Down());
  EXPECT_FALSE(Form.Component("sbC").GetBool("Down"));
  EXPECT_EQ(Clicks.size(), 5u);
  // The controller puts a tab down by code: the widgets follow.
  Form.Component("sbA").Set("Down", true);
  EXPECT_TRUE(WidgetOf<TShapeEx>("sbA")->Down());
  EXPECT_FALSE(WidgetOf<TShapeEx>("sbB")->Down());
}

TEST_F(BindingTest, ReleaseOutsideRaisesNoClickButStillMovesTheTabDown) {
  ASSERT_TRUE(ShowActive(Window));
  TShapeEx* tab = WidgetOf<TShapeEx>("sbB");
  QTest::mousePress(tab, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseRelease(tab, Qt::LeftButton, {}, QPoint(tab->width() + 40, 5));
  EXPECT_TRUE(Clicks.empty());
  EXPECT_TRUE(Form.Component("sbB").GetBool("Down"));
}

TEST_F(BindingTest, ErrorsOfAHandlerGoToTheOperator) {
  ASSERT_TRUE(ShowActive(Window));
  Form.Component("sbA").SetHandler("OnClick",
                                   [](TViewElement&) { throw Exception("Nelze pokračovat"); });
  QTest::mouseClick(WidgetOf<TShapeEx>("sbA"), Qt::LeftButton);
  EXPECT_EQ(Capture.Messages, std::vector<std::string>{"Nelze pokračovat"});
}

TEST_F(BindingTest, ClickingAFrameShowsNoErrorAndStillReachesItsHandler) {
  TViewElement& frame = Add("TShape", "sFrame", 200, 200, 150, 60);
  int frameClicks = 0;
  frame.SetHandler("OnClick", [&](TViewElement&) { ++frameClicks; });
  TElementBinding local(Form, *new QWidget(&Window));
  ASSERT_TRUE(ShowActive(Window));
  QTest::mouseClick(local.Widget("sFrame"), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(frameClicks, 1);
  EXPECT_TRUE(Capture.Messages.empty()) << Capture.Messages.front();
}

TEST_F(BindingTest, NumberFieldsShowTheirElementsBoundsAndValueAndReportTyping) {
  TViewElement& limit = Add("TDoubleEdit", "deLimit", 200, 150, 100, 22);
  limit.Set("MaxValue", 10);
  limit.Set("Decimals", 1);
  limit.Set("Value", 3);
  TViewElement& count = Add("TIntEdit", "ieCount", 200, 180, 100, 22);
  count.Set("MaxValue", 50);
  count.Set("Value", 7);
  Counting(count);
  TElementBinding local(Form, *new QWidget(&Window));
  auto* limitEdit = qobject_cast<TDoubleEdit*>(local.Widget("deLimit"));
  auto* countEdit = qobject_cast<TIntEdit*>(local.Widget("ieCount"));
  ASSERT_NE(limitEdit, nullptr);
  ASSERT_NE(countEdit, nullptr);
  EXPECT_EQ(limitEdit->MaxValue(), 10);
  EXPECT_EQ(limitEdit->Decimals(), 1);
  EXPECT_EQ(limitEdit->Value(), 3);
  EXPECT_EQ(countEdit->Value(), 7);
  // The controller narrows the range and sets a new value: the fields follow.
  limit.Set("MaxValue", 5);
  limit.Set("Value", 4);
  EXPECT_EQ(limitEdit->MaxValue(), 5);
  EXPECT_EQ(limitEdit->Value(), 4);
  count.Set("ShowName", "Počet");
  EXPECT_EQ(countEdit->ShowName(), QString::fromUtf8("Počet"));
  EXPECT_EQ(Changes, 0);
  // What the operator types goes into the element, once.
  countEdit->setText("12");
  EXPECT_EQ(count.GetInt("Value"), 12);
  EXPECT_EQ(Changes, 1);
}

TEST_F(BindingTest, TimerFollowsItsElementAndTicksDoNotOverlap) {
  QTimer* timer = Binding->Timer("Timer1");
  EXPECT_FALSE(timer->isActive());
  int ticks = 0;
  int inside = 0;
  int mostInside = 0;
  Timer->SetHandler("OnTimer", [&](TViewElement&) {
    ++ticks;
    mostInside = std::max(mostInside, ++inside);
    QTest::qWait(60);  // a slow tick that lets the event loop run meanwhile
    --inside;
  });
  Timer->Set("Interval", 10);
  Timer->Set("Enabled", true);
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 10);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 5000));
  EXPECT_EQ(mostInside, 1);
  Timer->Set("Enabled", false);
  EXPECT_FALSE(timer->isActive());
}

TEST_F(BindingTest, AnEmptyProgressRangeStaysABarNotABusyIndicator) {
  auto* bar = WidgetOf<QProgressBar>("pbProgress");
  EXPECT_GT(bar->maximum(), bar->minimum());
  EXPECT_EQ(bar->value(), 0);
  Progress->Set("Max", 40);
  Progress->Set("Position", 20);
  EXPECT_EQ(bar->maximum(), 40);
  EXPECT_EQ(bar->value(), 20);
}

TEST_F(BindingTest, BroughtToFrontLiesAboveItsSiblings) {
  TViewElement& under = Add("TPanel", "pUnder", 0, 200, 100, 50);
  TViewElement& over = Add("TPanel", "pOver", 0, 200, 100, 50);
  TElementBinding local(Form, *new QWidget(&Window));
  QWidget* pageWidget = local.Widget("pPage");
  EXPECT_EQ(pageWidget->childAt(50, 225), local.Widget("pOver"));
  under.BringToFront();
  EXPECT_EQ(pageWidget->childAt(50, 225), local.Widget("pUnder"));
  over.BringToFront();
  EXPECT_EQ(pageWidget->childAt(50, 225), local.Widget("pOver"));
}

TEST_F(BindingTest, ATooLongLabelWrapsInsideItsParent) {
  Title->Set("Caption", "A sensor with a 4-20 mA output is connected to this input");
  auto* label = WidgetOf<QLabel>("lTitle");
  EXPECT_TRUE(label->wordWrap());
  EXPECT_EQ(label->width(), 200);
  EXPECT_GT(label->height(), 16);
  EXPECT_GE(label->y(), 0);
  // One long word cannot wrap: it shrinks onto its line.
  Title->Set("Caption", "Messwertüberwachungseinrichtung");
  EXPECT_FALSE(label->wordWrap());
  EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), 200);
  EXPECT_LT(label->font().pointSize(), Window.font().pointSize());
  Title->Set("Caption", "Krátký");
  EXPECT_FALSE(label->wordWrap());
  EXPECT_EQ(label->geometry(), QRect(10, 10, 200, 16));
}

}  // namespace
