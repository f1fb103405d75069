#pragma once
// The widget of each kind of control element: how it is made, how the operator's actions on
// it reach the element, and how the element's own properties are written into it.
#include <QString>
#include <string>
#include <string_view>

class QWidget;
class TElementBinding;
class TViewElement;

struct TWidgetKind {
  std::string_view ClassName;
  // Builds the widget on Parent and routes the operator's actions into the element.
  QWidget* (*Create)(TViewElement& Element, QWidget* Parent, TElementBinding& Binding);
  // Writes one property into the widget; false when the property is not this kind's.
  bool (*Apply)(TViewElement& Element, QWidget& Widget, const std::string& Property,
                TElementBinding& Binding);
};

// The kind of the element's class; an unknown class becomes a plain container, so that its
// children still show.
const TWidgetKind& WidgetKindOf(const TViewElement& Element);

bool IsGeometry(const std::string& Property);

inline QString ToQString(const std::string& Text) {
  return QString::fromStdString(Text);
}
