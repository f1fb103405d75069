#pragma once
// How the window's colours reach its widgets: an element's background and text colour, and
// the colour schemas of the command buttons and the page tabs.
#include <QColor>

class QWidget;
class TShapeExColorSchema;
class TViewElement;

// A colour of an element (0xRRGGBB) as the toolkit's colour.
QColor ToQColor(int Color);

// The element's "Color": panels fill with it; fields and lists take white for clBtnFace and
// the colour otherwise; every other kind stays transparent.
void ApplyColor(const TViewElement& Element, QWidget& Widget);
// The element's "FontColor" as the widget's text colour.
void ApplyFontColor(const TViewElement& Element, QWidget& Widget);

// The states' colours of the command buttons and of the page tabs.
void PaintAsCommandButtons(TShapeExColorSchema& Schema);
void PaintAsPageTabs(TShapeExColorSchema& Schema);
