#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <QWidget>
#include <memory>
#include <vector>

#include "controls/ShapeEx.h"
#include "tests/controls/QtTestApp.h"

namespace {

// Every colour different, so that a wrong choice cannot pass unnoticed.
void FillSchema(TShapeExColorSchema& s) {
  s.DefaultBrushColor = QColor(1, 0, 0);
  s.DefaultFontColor = QColor(2, 0, 0);
  s.DefaultBorderColor = QColor(3, 0, 0);
  s.OnMouseBrushColor = QColor(4, 0, 0);
  s.OnMouseFontColor = QColor(5, 0, 0);
  s.OnMouseBorderColor = QColor(6, 0, 0);
  s.DownBorderColor = QColor(7, 0, 0);
  s.DownFontColor = QColor(8, 0, 0);
  s.DownBrushColor = QColor(9, 0, 0);
  s.DisabledBrushColor = QColor(10, 0, 0);
  s.DisabledFontColor = QColor(11, 0, 0);
  s.DisabledBorderColor = QColor(12, 0, 0);
}

class ShapeExColorsTest : public ::testing::Test {
 protected:
  void SetUp() override { FillSchema(Schema); }
  TShapeExColors Colors(bool allowDown, bool down, bool mouseOver, bool enabled) const {
    return ShapeExColors(Schema, {allowDown, down, mouseOver, enabled});
  }
  TShapeExColorSchema Schema;
};

TEST_F(ShapeExColorsTest, NewSchemaIsAllBlack) {
  const TShapeExColorSchema fresh;
  EXPECT_EQ(ShapeExColors(fresh, {}), (TShapeExColors{Qt::black, Qt::black, Qt::black}));
}

TEST_F(ShapeExColorsTest, NormalAndPointerOver) {
  EXPECT_EQ(Colors(false, false, false, true),
            (TShapeExColors{QColor(1, 0, 0), QColor(2, 0, 0), QColor(3, 0, 0)}));
  EXPECT_EQ(Colors(false, false, true, true),
            (TShapeExColors{QColor(4, 0, 0), QColor(5, 0, 0), QColor(6, 0, 0)}));
}

TEST_F(ShapeExColorsTest, DownColoursOnlyWithAllowDown) {
  const TShapeExColors down{QColor(9, 0, 0), QColor(8, 0, 0), QColor(7, 0, 0)};
  EXPECT_EQ(Colors(true, true, false, true), down);
  EXPECT_EQ(Colors(true, true, true, true), down);
  // Down but not allowed to be: normal or pointer-over colours.
  EXPECT_EQ(Colors(false, true, false, true), Colors(false, false, false, true));
  EXPECT_EQ(Colors(false, true, true, true), Colors(false, false, true, true));
}

TEST_F(ShapeExColorsTest, DisabledOverridesEveryState) {
  const TShapeExColors disabled{QColor(10, 0, 0), QColor(11, 0, 0), QColor(12, 0, 0)};
  EXPECT_EQ(Colors(false, false, true, false), disabled);
  EXPECT_EQ(Colors(true, true, true, false), disabled);
  EXPECT_EQ(Colors(false, false, false, false), disabled);
}

TEST(ShapeExFigureBox, PenWidthMovesAndShrinksTheBox) {
  EXPECT_EQ(ShapeExFigureBox(60, 20, 3, stRectangle), (TShapeExBox{1, 1, 58, 18}));
  EXPECT_EQ(ShapeExFigureBox(60, 20, 1, stRectangle), (TShapeExBox{0, 0, 60, 20}));
  EXPECT_EQ(ShapeExFigureBox(60, 20, 0, stRectangle), (TShapeExBox{0, 0, 60, 20}));
  EXPECT_EQ(ShapeExFigureBox(60, 20, 4, stRoundRect), (TShapeExBox{2, 2, 57, 17}));
}

TEST(ShapeExFigureBox, SquareKindsAreCentred) {
  EXPECT_EQ(ShapeExFigureBox(100, 40, 1, stCircle), (TShapeExBox{30, 0, 40, 40}));
  EXPECT_EQ(ShapeExFigureBox(40, 100, 1, stSquare), (TShapeExBox{0, 30, 40, 40}));
  EXPECT_EQ(ShapeExFigureBox(101, 40, 3, stRoundSquare), (TShapeExBox{31, 1, 38, 38}));
  // The other kinds keep the full box.
  EXPECT_EQ(ShapeExFigureBox(100, 40, 1, stEllipse), (TShapeExBox{0, 0, 100, 40}));
}

TEST(ShapeExCaptionOrigin, CentresWithHalvesToEven) {
  // 32.5 - 10 = 22.5 -> 22; 32.5 - 6.5 = 26, one pixel up.
  EXPECT_EQ(ShapeExCaptionOrigin({0, 0, 65, 65}, 20, 13), QPoint(22, 25));
  // 33 - 10.5 = 22.5 -> 22; 32 - 10.5 = 21.5 -> 22.
  EXPECT_EQ(ShapeExCaptionOrigin({0, 0, 66, 20}, 21, 14), QPoint(22, 2));
  EXPECT_EQ(ShapeExCaptionOrigin({0, 0, 64, 20}, 21, 14), QPoint(22, 2));
  EXPECT_EQ(ShapeExCaptionOrigin({30, 0, 40, 40}, 10, 10), QPoint(45, 14));
}

TEST(ShapeEx, ConstructionDefaults) {
  const TShapeEx shape;
  EXPECT_EQ(shape.size(), QSize(65, 65));
  EXPECT_EQ(shape.BrushColor(), QColor(Qt::white));
  EXPECT_EQ(shape.PenColor(), QColor(Qt::black));
  EXPECT_EQ(shape.PenWidth(), 1);
  EXPECT_EQ(shape.Shape(), stRectangle);
  EXPECT_FALSE(shape.Down() || shape.AllowDown() || shape.AllowUp() || shape.MouseOver());
  EXPECT_EQ(shape.Group(), 0);
  EXPECT_EQ(shape.ColorSchema(), nullptr);
}

TEST(ShapeEx, PropertiesReachableByName) {
  TShapeEx shape;
  ASSERT_TRUE(shape.setProperty("Caption", QStringLiteral("Měření")));
  EXPECT_EQ(shape.Caption(), QStringLiteral("Měření"));
  ASSERT_TRUE(shape.setProperty("RoundCorner", 8));
  EXPECT_EQ(shape.RoundCorner(), 8);
}

// Buttons under two parents, as the page tabs and a second row elsewhere.
struct TTabs {
  QWidget Parent;
  QWidget Other;
  TShapeEx A{&Parent};
  TShapeEx B{&Parent};
  TShapeEx Ungrouped{&Parent};
  TShapeEx Elsewhere{&Other};
  TTabs() {
    for (TShapeEx* tab : {&A, &B, &Elsewhere}) tab->SetGroup(1);
  }
};

TEST(ShapeExGroup, DownReleasesTheOthersOfItsGroupUnderTheSameParentOnly) {
  TTabs tabs;
  tabs.A.SetDown(true);
  tabs.Elsewhere.SetDown(true);
  tabs.Ungrouped.SetDown(true);
  EXPECT_TRUE(tabs.A.Down());  // neither the other parent nor group 0 released it
  tabs.B.SetDown(true);
  EXPECT_FALSE(tabs.A.Down());
  EXPECT_TRUE(tabs.B.Down());
  EXPECT_TRUE(tabs.Elsewhere.Down());
  EXPECT_TRUE(tabs.Ungrouped.Down());
}

TEST(ShapeExGroup, SettingDownAgainReleasesNobody) {
  TTabs tabs;
  tabs.A.SetDown(true);
  // B joins the group while down: two buttons are down now.
  tabs.B.SetGroup(2);
  tabs.B.SetDown(true);
  tabs.B.SetGroup(1);
  tabs.A.SetDown(true);
  EXPECT_TRUE(tabs.A.Down());
  EXPECT_TRUE(tabs.B.Down());
  // Releasing releases only itself.
  tabs.A.SetDown(false);
  EXPECT_TRUE(tabs.B.Down());
}

TEST(ShapeExClick, TabRunsItsHandlerThenGoesDownAndStaysDown) {
  TTabs tabs;
  tabs.A.SetAllowDown(true);
  tabs.B.SetAllowDown(true);
  tabs.B.SetDown(true);
  std::vector<bool> downInHandler;
  tabs.A.OnClick = [&](TShapeEx* sender) {
    EXPECT_EQ(sender, &tabs.A);
    downInHandler.push_back(sender->Down());
  };
  QTest::mouseClick(&tabs.A, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(downInHandler, std::vector<bool>{false});
  EXPECT_TRUE(tabs.A.Down());
  EXPECT_FALSE(tabs.B.Down());
  QTest::mouseClick(&tabs.A, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(downInHandler, (std::vector<bool>{false, true}));
  EXPECT_TRUE(tabs.A.Down());
}

TEST(ShapeExClick, AllowUpReleasesAndAPlainButtonNeverGoesDown) {
  TShapeEx toggle;
  toggle.SetAllowDown(true);
  toggle.SetAllowUp(true);
  QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(toggle.Down());
  QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_FALSE(toggle.Down());

  TShapeEx button;
  int clicks = 0;
  button.OnClick = [&](TShapeEx*) { ++clicks; };
  QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseClick(&button, Qt::RightButton, {}, QPoint(5, 5));
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(button.Down());
}

TEST(ShapeExClick, ReleaseOutsideSkipsTheHandlerButStillGoesDown) {
  TShapeEx tab;
  tab.SetAllowDown(true);
  int clicks = 0;
  tab.OnClick = [&](TShapeEx*) { ++clicks; };
  QTest::mousePress(&tab, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseRelease(&tab, Qt::LeftButton, {}, QPoint(200, 5));
  EXPECT_EQ(clicks, 0);
  EXPECT_TRUE(tab.Down());
}

TEST(ShapeExClick, AHandlerMayDestroyTheButton) {
  QWidget page;
  auto button = std::make_unique<TShapeEx>(&page);
  button->SetAllowDown(true);
  TShapeEx* target = button.get();
  button->OnClick = [&](TShapeEx*) { button.reset(); };
  QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(button, nullptr);
  EXPECT_TRUE(page.findChildren<TShapeEx*>().isEmpty());
}

QImage Render(TShapeEx& shape) {
  return shape.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST(ShapeExPaint, ThickRectangleCoversExactlyTheControl) {
  TShapeEx shape;
  shape.resize(60, 20);
  shape.SetPenWidth(3);
  shape.SetPenColor(Qt::red);
  shape.SetBrushColor(Qt::green);
  const QImage image = Render(shape);
  for (QPoint p : {QPoint(0, 0), QPoint(2, 2), QPoint(59, 19), QPoint(57, 17), QPoint(30, 0)})
    EXPECT_EQ(QColor(image.pixel(p)), QColor(Qt::red)) << p.x() << "," << p.y();
  for (QPoint p : {QPoint(3, 3), QPoint(56, 16), QPoint(30, 10)})
    EXPECT_EQ(QColor(image.pixel(p)), QColor(Qt::green)) << p.x() << "," << p.y();
}

TEST(ShapeExPaint, CircleIsCentredInAWideControl) {
  TShapeEx shape;
  shape.resize(100, 40);
  shape.SetShape(stCircle);
  shape.SetBrushColor(Qt::green);
  shape.SetPenColor(Qt::green);
  const QImage image = Render(shape);
  EXPECT_EQ(QColor(image.pixel(50, 20)), QColor(Qt::green));
  EXPECT_EQ(QColor(image.pixel(50, 1)), QColor(Qt::green));
  // Left and right of the circle the control shows no fill.
  EXPECT_NE(QColor(image.pixel(28, 20)), QColor(Qt::green));
  EXPECT_NE(QColor(image.pixel(71, 20)), QColor(Qt::green));
  EXPECT_EQ(QColor(image.pixel(31, 20)).green(), 255);
}

TEST(ShapeExPaint, SchemaColoursFollowTheState) {
  TShapeExColorSchema schema;
  schema.DefaultBrushColor = Qt::white;
  schema.DownBrushColor = Qt::blue;
  schema.DisabledBrushColor = Qt::gray;
  TShapeEx shape;
  shape.resize(40, 20);
  shape.SetColorSchema(&schema);
  EXPECT_EQ(QColor(Render(shape).pixel(20, 10)), QColor(Qt::white));
  shape.SetDown(true);
  EXPECT_EQ(QColor(Render(shape).pixel(20, 10)), QColor(Qt::white));  // AllowDown is off
  shape.SetAllowDown(true);
  EXPECT_EQ(QColor(Render(shape).pixel(20, 10)), QColor(Qt::blue));
  shape.setEnabled(false);
  EXPECT_EQ(QColor(Render(shape).pixel(20, 10)), QColor(Qt::gray));
  EXPECT_EQ(shape.BrushColor(), QColor(Qt::gray));
}

TEST(ShapeExPaint, ASchemaDestroyedFirstIsForgotten) {
  TShapeEx shape;
  {
    TShapeExColorSchema schema;
    schema.DefaultBrushColor = Qt::blue;
    shape.SetColorSchema(&schema);
    Render(shape);
  }
  EXPECT_EQ(shape.ColorSchema(), nullptr);
  shape.SetBrushColor(Qt::yellow);
  EXPECT_EQ(QColor(Render(shape).pixel(30, 30)), QColor(Qt::yellow));
}

TEST(ShapeExPaint, CaptionIsCentred) {
  TShapeEx shape;
  shape.resize(120, 40);
  shape.SetBrushColor(Qt::white);
  shape.SetPenColor(Qt::white);
  shape.SetFontColor(Qt::black);
  shape.SetCaption(QStringLiteral("Hledat"));
  const QImage image = Render(shape);
  int left = image.width(), right = -1, top = image.height(), bottom = -1;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qGray(image.pixel(x, y)) < 128) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  ASSERT_GE(right, 0) << "no caption drawn";
  // The ink is centred within a few pixels (glyph bearings and descender space).
  EXPECT_NEAR(left + right, image.width() - 1, 4);
  EXPECT_NEAR(top + bottom, image.height() - 1, 8);
}

}  // namespace
