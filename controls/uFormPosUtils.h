#pragma once
// Places a top-level window in the middle of a monitor, narrowing it first to fit.
class QScreen;
class QWidget;

// A monitor's full bounds in virtual-screen pixels (the work area is not used).
struct TMonitorBounds {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

// A window's normal (restored) rectangle, right and bottom exclusive.
struct TWindowRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool operator==(const TWindowRect&) const = default;
};

// The rectangle of Window's size (cut to the monitor's size) centred on Monitor.
TWindowRect CenterRectOnMonitor(const TWindowRect& Window, const TMonitorBounds& Monitor);

// Centres Window's normal geometry on Monitor, or on the first screen when Monitor is none.
// A minimised or maximised window keeps its state; only its restored rectangle moves.
// False when Window is not a top-level window or there is no screen.
bool CenterWindowOnMonitor(QWidget* Window, const QScreen* Monitor = nullptr);
