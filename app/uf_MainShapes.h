#pragma once
// The widget of a shape element: page tabs, command buttons and panel frames, whose clicks
// and down state belong to the element.
#include "app/uf_MainWidgets.h"

QWidget* CreateShape(TViewElement& Element, QWidget* Parent, TElementBinding& Binding);
extern const TPropertyRules kShapeRules;
