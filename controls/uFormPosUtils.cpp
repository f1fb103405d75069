#include "controls/uFormPosUtils.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

TWindowRect CenterRectOnMonitor(const TWindowRect& Window, const TMonitorBounds& Monitor) {
  const int width = std::min(Window.Right - Window.Left, Monitor.Width);
  const int height = std::min(Window.Bottom - Window.Top, Monitor.Height);
  TWindowRect result;
  result.Left = Monitor.Left + Monitor.Width / 2 - width / 2;
  result.Top = Monitor.Top + Monitor.Height / 2 - height / 2;
  result.Right = result.Left + width;
  result.Bottom = result.Top + height;
  return result;
}

bool CenterWindowOnMonitor(QWidget* Window, const QScreen* Monitor) {
  if (!Window || !Window->isWindow()) return false;
  if (!Monitor) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty()) return false;
    Monitor = screens.first();
  }
  const QRect normal =
      Window->normalGeometry().isValid() ? Window->normalGeometry() : Window->geometry();
  const QRect bounds = Monitor->geometry();
  const TWindowRect placed = CenterRectOnMonitor(
      {normal.left(), normal.top(), normal.left() + normal.width(), normal.top() + normal.height()},
      {bounds.left(), bounds.top(), bounds.width(), bounds.height()});
  const QRect target(placed.Left, placed.Top, placed.Right - placed.Left,
                     placed.Bottom - placed.Top);

  // Qt sets only the current geometry; a maximised or full-screen window is restored for the
  // move and given its state back, so the move lands in its normal rectangle.
  const Qt::WindowStates states = Window->windowState();
  const Qt::WindowStates sized = Qt::WindowMaximized | Qt::WindowFullScreen;
  if (states & sized) Window->setWindowState(states & ~sized);
  Window->setGeometry(target);
  if (states & sized) Window->setWindowState(states);
  return true;
}
