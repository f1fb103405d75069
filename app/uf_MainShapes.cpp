#include "app/uf_MainShapes.h"

#include "app/uViewElement.h"
#include "app/uf_MainBinding.h"
#include "app/uf_MainColors.h"
#include "app/uf_MainFonts.h"
#include "app/uf_MainWidgets.h"
#include "controls/ShapeEx.h"
#include "controls/uCustomNumEdit.h"

namespace {

// A shape button whose clicks and down state belong to its element: a click goes to the
// controller first, then the element goes down or up by the button's own rule, and the
// widget follows the element.
class TBoundShapeEx : public TShapeEx {
 public:
  TBoundShapeEx(TViewElement& Element, TElementBinding& Binding, QWidget* Parent)
      : TShapeEx(Parent), FElement(Element), FBinding(Binding) {}

 protected:
  void OperatorClick(bool ReleasedInside) override {
    // The button takes no focus, so the number field being typed in is checked here, as
    // leaving it would be: a refused entry stops the click.
    if (!TMyCustomNumEdit::CheckFocusedEntry()) return;
    FBinding.Act([&] {
      if (ReleasedInside) FElement.Click();
      // A panel frame has no down state.
      if (!FElement.HasProperty("Down")) return;
      FElement.Set("Down",
                   ShapeExDownAfterClick(FElement.GetBool("Down"), FElement.GetBool("AllowDown"),
                                         FElement.GetBool("AllowUp")));
    });
  }

 private:
  TViewElement& FElement;
  TElementBinding& FBinding;
};

// Shape buttons come in three looks: page tabs (grouped), command buttons (with a caption)
// and panel frames.
void StyleShape(const TViewElement& Element, TShapeEx& Shape, TElementBinding& Binding) {
  const bool tab = Element.HasProperty("Group") && Element.GetInt("Group") != 0;
  const bool command =
      !tab && Element.HasProperty("Caption") && !Element.GetText("Caption").empty();
  Shape.SetShape(tab ? stRectangle : stRoundRect);
  Shape.SetRoundCorner(tab ? 0 : command ? 8 : 16);
  Shape.SetColorSchema(tab ? &Binding.TabSchema() : command ? &Binding.CommandSchema() : nullptr);
  Shape.setFont(WindowFont(command ? kCommandFontSize : kWindowFontSize));
}

// Grouped buttons are page tabs: they look so.
void WriteGroup(const TViewElement& Element, QWidget& Widget, const std::string& Property,
                TElementBinding& Binding) {
  auto& shape = static_cast<TShapeEx&>(Widget);
  shape.SetGroup(Element.GetInt(Property));
  StyleShape(Element, shape, Binding);
}

}  // namespace

const TPropertyRules kShapeRules = {{"Caption", WriteText<TShapeEx, &TShapeEx::SetCaption>},
                                    {"PenColor", WriteColor<TShapeEx, &TShapeEx::SetPenColor>},
                                    {"BrushColor", WriteColor<TShapeEx, &TShapeEx::SetBrushColor>},
                                    {"Down", WriteBool<TShapeEx, &TShapeEx::SetDown>},
                                    {"Group", WriteGroup},
                                    {"AllowDown", WriteBool<TShapeEx, &TShapeEx::SetAllowDown>},
                                    {"AllowUp", WriteBool<TShapeEx, &TShapeEx::SetAllowUp>}};

QWidget* CreateShape(TViewElement& Element, QWidget* Parent, TElementBinding& Binding) {
  auto* shape = new TBoundShapeEx(Element, Binding, Parent);
  StyleShape(Element, *shape, Binding);
  return shape;
}
