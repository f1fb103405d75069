#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "controls/uFormPosUtils.h"
#include "tests/controls/QtTestApp.h"

namespace {

const TWindowRect kWindow700x560{100, 50, 800, 610};

TEST(CenterRectOnMonitor, CentresOnThePrimaryAndOnALeftMonitor) {
  EXPECT_EQ(CenterRectOnMonitor(kWindow700x560, {0, 0, 1920, 1080}),
            (TWindowRect{610, 260, 1310, 820}));
  EXPECT_EQ(CenterRectOnMonitor(kWindow700x560, {-1280, 0, 1280, 1024}),
            (TWindowRect{-990, 232, -290, 792}));
}

TEST(CenterRectOnMonitor, ShrinksAWindowLargerThanTheMonitor) {
  // Wider only: narrowed to the monitor and put at its left edge.
  EXPECT_EQ(CenterRectOnMonitor({0, 0, 2000, 400}, {-1280, 100, 1280, 1024}),
            (TWindowRect{-1280, 412, 0, 812}));
  // Both ways: it fills the monitor.
  EXPECT_EQ(CenterRectOnMonitor({-5, -5, 3000, 3000}, {1920, 0, 1280, 1024}),
            (TWindowRect{1920, 0, 3200, 1024}));
}

TEST(CenterRectOnMonitor, OddSizesTruncateEachHalf) {
  // 1365 / 2 = 682 and 701 / 2 = 350, each truncated before the subtraction.
  EXPECT_EQ(CenterRectOnMonitor({0, 0, 701, 561}, {0, 0, 1365, 767}),
            (TWindowRect{332, 103, 1033, 664}));
}

QRect Expected(const QRect& screen, int w, int h) {
  return {screen.left() + screen.width() / 2 - w / 2, screen.top() + screen.height() / 2 - h / 2, w,
          h};
}

TEST(CenterWindowOnMonitor, MovesATopLevelWidgetOntoTheFirstScreen) {
  ASSERT_FALSE(QGuiApplication::screens().isEmpty());
  const QRect screen = QGuiApplication::screens().first()->geometry();
  QWidget window;
  window.setGeometry(3, 4, 300, 200);
  ASSERT_TRUE(CenterWindowOnMonitor(&window));
  EXPECT_EQ(window.geometry(), Expected(screen, 300, 200));
}

TEST(CenterWindowOnMonitor, RefusesAChildWidgetAndNull) {
  QWidget window;
  QWidget child(&window);
  child.setGeometry(5, 6, 50, 40);
  EXPECT_FALSE(CenterWindowOnMonitor(&child));
  EXPECT_EQ(child.geometry(), QRect(5, 6, 50, 40));
  EXPECT_FALSE(CenterWindowOnMonitor(nullptr));
}

TEST(CenterWindowOnMonitor, AMaximisedWindowStaysMaximisedAndItsNormalRectangleMoves) {
  const QRect screen = QGuiApplication::screens().first()->geometry();
  QWidget window;
  window.setGeometry(10, 10, 320, 240);
  window.showMaximized();
  ASSERT_TRUE(window.isMaximized());
  ASSERT_TRUE(CenterWindowOnMonitor(&window));
  EXPECT_TRUE(window.isMaximized());
  window.showNormal();
  EXPECT_EQ(window.geometry(), Expected(screen, 320, 240));
}

}  // namespace
