#pragma once
// The widget of a shape element: page tabs, command buttons and panel frames, whose clicks
// and down state belong to the element.
#include <string>

class QWidget;
class TElementBinding;
class TViewElement;

QWidget* CreateShape(TViewElement& Element, QWidget* Parent, TElementBinding& Binding);
bool ApplyShape(TViewElement& Element, QWidget& Widget, const std::string& Property,
                TElementBinding& Binding);
