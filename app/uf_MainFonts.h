#pragma once
// The window's type: the size of its text, the few elements set in a larger or bold type, and
// labels that shrink or wrap until their whole text shows.
#include <QFont>

class QLabel;
class QWidget;
class TViewElement;

// The family of the window's type.
inline constexpr const char* kWindowFontFamily = "Trebuchet MS";
// Point size of the window's text.
inline constexpr int kWindowFontSize = 9;
// Point size of the command buttons' captions.
inline constexpr int kCommandFontSize = 10;

// The window's type at PointSize points, or the nearest installed one.
QFont WindowFont(int PointSize);

// Gives the widget the element's own type (page and section headings, the measured values
// and their rows); every other element keeps the window's font.
void ApplyFont(const TViewElement& Element, QWidget& Widget);

// Places a label as its element says and fits its text into it. One too long for its width
// (a translation, say) is set in a smaller type: a single word shrinks until it fits on its
// line, several words wrap in a point smaller type, centred on the line the label was placed
// for.
void FitLabel(const TViewElement& Element, QLabel& Label);
