#pragma once
// The widget of each kind of control element: how it is made, how the operator's actions on
// it reach the element, and which of the element's properties are written into it and how.
#include <QString>
#include <initializer_list>
#include <string>
#include <string_view>

#include "app/uViewElement.h"
#include "app/uf_MainColors.h"

class QWidget;
class TElementBinding;

inline QString ToQString(const std::string& Text) {
  return QString::fromStdString(Text);
}

// How one property of an element is written into its widget.
struct TPropertyRule {
  std::string_view Property;
  void (*Write)(const TViewElement& Element, QWidget& Widget, const std::string& Property,
                TElementBinding& Binding);
};
using TPropertyRules = std::initializer_list<TPropertyRule>;

struct TWidgetKind {
  std::string_view ClassName;
  // Builds the widget on Parent and routes the operator's actions into the element.
  QWidget* (*Create)(TViewElement& Element, QWidget* Parent, TElementBinding& Binding);
  // The properties this kind writes itself; the others are every widget's or none.
  std::initializer_list<const TPropertyRules*> Rules;
};

// The kind of the element's class; an unknown class becomes a plain container, so that its
// children still show.
const TWidgetKind& WidgetKindOf(const TViewElement& Element);
// The kind's rule for Property, or null.
const TPropertyRule* RuleFor(const TWidgetKind& Kind, std::string_view Property);

bool IsGeometry(std::string_view Property);

// Writers of a property that Setter of TWidget takes as it is: as text, truth value, whole
// number or colour.
template <class TWidget, auto Setter>
void WriteText(const TViewElement& Element, QWidget& Widget, const std::string& Property,
               TElementBinding&) {
  (static_cast<TWidget&>(Widget).*Setter)(ToQString(Element.GetText(Property)));
}
template <class TWidget, auto Setter>
void WriteBool(const TViewElement& Element, QWidget& Widget, const std::string& Property,
               TElementBinding&) {
  (static_cast<TWidget&>(Widget).*Setter)(Element.GetBool(Property));
}
template <class TWidget, auto Setter>
void WriteInt(const TViewElement& Element, QWidget& Widget, const std::string& Property,
              TElementBinding&) {
  (static_cast<TWidget&>(Widget).*Setter)(Element.GetInt(Property));
}
template <class TWidget, auto Setter>
void WriteColor(const TViewElement& Element, QWidget& Widget, const std::string& Property,
                TElementBinding&) {
  (static_cast<TWidget&>(Widget).*Setter)(ToQColor(Element.GetInt(Property)));
}
