#include "app/uf_MainColors.h"

#include <QPalette>
#include <QWidget>
#include <string>

#include "app/uViewElement.h"
#include "app/uWindowColors.h"
#include "controls/ShapeEx.h"

namespace {

// Whether the element's background is drawn over its parent's.
enum class TBackground { Fill, Field, None };

TBackground BackgroundOf(const TViewElement& Element) {
  const std::string& className = Element.ClassName();
  if (className == "TPanel" || className == "TfMain") return TBackground::Fill;
  if (className == "TEdit" || className == "TMemo" || className == "TIntEdit" ||
      className == "TDoubleEdit" || className == "TComboBox" || className == "TListBox")
    return TBackground::Field;
  return TBackground::None;
}

// The colours both kinds of button share: idle, pressed, and the text under the pointer.
void PaintAsButtons(TShapeExColorSchema& Schema) {
  Schema.DefaultBrushColor = ToQColor(kPageColor);
  Schema.DefaultFontColor = ToQColor(kTextColor);
  Schema.DefaultBorderColor = ToQColor(kFrameColor);
  Schema.OnMouseFontColor = Qt::black;
  Schema.DownBorderColor = ToQColor(kTextColor);
  Schema.DownFontColor = Qt::black;
  Schema.DownBrushColor = ToQColor(kFrameColor);
}

}  // namespace

QColor ToQColor(int Color) {
  return QColor::fromRgb(static_cast<QRgb>(Color) & 0xFFFFFFu);
}

void ApplyColor(const TViewElement& Element, QWidget& Widget) {
  const int color = Element.GetInt("Color");
  QPalette palette = Widget.palette();
  switch (BackgroundOf(Element)) {
    case TBackground::Fill:
      palette.setColor(QPalette::Window, ToQColor(color));
      break;
    case TBackground::Field: {
      const QColor base = color == clBtnFace ? QColor(Qt::white) : ToQColor(color);
      for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, base);
        palette.setColor(group, QPalette::Button, base);
      }
      break;
    }
    case TBackground::None:
      return;
  }
  Widget.setPalette(palette);
}

void ApplyFontColor(const TViewElement& Element, QWidget& Widget) {
  const QColor color = ToQColor(Element.GetInt("FontColor"));
  if (auto* shape = qobject_cast<TShapeEx*>(&Widget)) {
    shape->SetFontColor(color);
    return;
  }
  QPalette palette = Widget.palette();
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::WindowText, color);
    palette.setColor(group, QPalette::Text, color);
    palette.setColor(group, QPalette::ButtonText, color);
  }
  Widget.setPalette(palette);
}

void PaintAsCommandButtons(TShapeExColorSchema& Schema) {
  PaintAsButtons(Schema);
  Schema.OnMouseBrushColor = ToQColor(kFrameColor);
  Schema.OnMouseBorderColor = ToQColor(kTextColor);
}

void PaintAsPageTabs(TShapeExColorSchema& Schema) {
  PaintAsButtons(Schema);
  Schema.OnMouseBrushColor = ToQColor(kTabHoverColor);
  Schema.OnMouseBorderColor = Qt::black;
}
