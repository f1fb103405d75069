#include "app/uf_MainBinding.h"

#include <QEvent>
#include <QMouseEvent>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <memory>

#include "app/uViewElement.h"
#include "app/uf_MainColors.h"
#include "app/uf_MainFonts.h"
#include "app/uf_MainWidgets.h"
#include "controls/ShapeEx.h"
#include "support/uMessages.h"

namespace {

void ApplyGeometry(const TViewElement& Element, QWidget& Widget) {
  const int width = Element.GetInt("Width");
  const int height = Element.GetInt("Height");
  if (width > 0 && height > 0)
    Widget.setGeometry(Element.GetInt("Left"), Element.GetInt("Top"),
                       std::max(width, Widget.minimumWidth()), height);
  else
    Widget.move(Element.GetInt("Left"), Element.GetInt("Top"));
}

}  // namespace

TElementBinding::TElementBinding(TViewElement& Form, QWidget& Window)
    : FForm(Form),
      FWindow(Window),
      FCommandSchema(new TShapeExColorSchema(this)),
      FTabSchema(new TShapeExColorSchema(this)) {
  PaintAsCommandButtons(*FCommandSchema);
  PaintAsPageTabs(*FTabSchema);
  FWindow.setObjectName(ToQString(Form.Name()));
  FWindow.setFont(WindowFont(kWindowFontSize));
  FWidgets[&Form] = &FWindow;
  ++FApplying;
  Build(Form, &FWindow);
  for (TViewElement* component : Form.Components())
    if (!component->IsControl() && component->ClassName() == "TTimer") CreateTimer(*component);
  if (Form.HasProperty("Caption")) FWindow.setWindowTitle(ToQString(Form.GetText("Caption")));
  --FApplying;
  FListener = Form.AddListener(
      [this](TViewElement& Element, const std::string& Property) { Apply(Element, Property); });
}

TElementBinding::~TElementBinding() {
  FForm.RemoveListener(FListener);
}

void TElementBinding::Build(TViewElement& Parent, QWidget* ParentWidget) {
  for (TViewElement* child : Parent.Children()) {
    if (!child->IsControl()) continue;
    QWidget* widget = WidgetKindOf(*child).Create(*child, ParentWidget, *this);
    widget->setObjectName(ToQString(child->Name()));
    widget->installEventFilter(this);
    FWidgets[child] = widget;
    FByName[child->Name()] = widget;
    FElementOf[widget] = child;
    ApplyAll(*child);
    Build(*child, widget);
    widget->raise();
  }
}

void TElementBinding::CreateTimer(TViewElement& Element) {
  auto* timer = new QTimer(this);
  timer->setObjectName(ToQString(Element.Name()));
  FTimers[Element.Name()] = timer;
  // A tick that takes longer than the interval (a module that does not answer) is not
  // followed by a queue of late ticks.
  auto busy = std::make_shared<bool>(false);
  connect(timer, &QTimer::timeout, this, [this, &Element, busy] {
    if (*busy) return;
    *busy = true;
    Act([&] { Element.Fire("OnTimer"); });
    *busy = false;
  });
  timer->setInterval(Element.GetInt("Interval"));
  if (Element.GetBool("Enabled")) timer->start();
}

void TElementBinding::ApplyAll(TViewElement& Element) {
  static const char* const kOrder[] = {
      "Left",     "Top",      "Width",        "Height",      "Color",     "FontColor",
      "Hint",     "Enabled",  "Items",        "MinValue",    "MaxValue",  "Increment",
      "Decimals", "ShowName", "RangeMessage", "AutoCorrect", "MaxLength", "ReadOnly",
      "Caption",  "Text",     "Value",        "ItemIndex",   "Checked",   "Min",
      "Max",      "Position", "PenColor",     "BrushColor",  "Group",     "AllowDown",
      "AllowUp",  "Down",     "Visible"};
  ApplyFont(Element, *FWidgets[&Element]);
  for (const char* property : kOrder)
    if (Element.HasProperty(property)) Apply(Element, property);
}

void TElementBinding::Apply(TViewElement& Element, const std::string& Property) {
  if (Property == "ZOrder") {
    if (Element.Parent()) Restack(*Element.Parent());
    return;
  }
  const auto timer = FTimers.find(Element.Name());
  if (timer != FTimers.end() && &Element != &FForm && !Element.IsControl()) {
    if (Property == "Interval") timer->second->setInterval(Element.GetInt(Property));
    if (Property == "Enabled") {
      if (!Element.GetBool(Property))
        timer->second->stop();
      else if (!timer->second->isActive())
        timer->second->start();
    }
    return;
  }
  if (&Element == &FForm) {
    if (Property == "Caption") FWindow.setWindowTitle(ToQString(Element.GetText(Property)));
    if (Property == "ActiveControl")
      if (QWidget* focused = Widget(Element.GetText(Property))) focused->setFocus();
    return;
  }
  const auto found = FWidgets.find(&Element);
  if (found == FWidgets.end() || !found->second) return;
  QWidget& widget = *found->second;
  const TPropertyRule* rule = RuleFor(WidgetKindOf(Element), Property);
  ++FApplying;
  try {
    if (rule)
      rule->Write(Element, widget, Property, *this);
    else if (IsGeometry(Property))
      ApplyGeometry(Element, widget);
    else if (Property == "Visible")
      widget.setVisible(Element.GetBool(Property));
    else if (Property == "Enabled")
      widget.setEnabled(Element.GetBool(Property));
    else if (Property == "Hint")
      widget.setToolTip(ToQString(Element.GetText(Property)));
    else if (Property == "Color")
      ApplyColor(Element, widget);
    else if (Property == "FontColor")
      ApplyFontColor(Element, widget);
  } catch (...) {
    --FApplying;
    throw;
  }
  --FApplying;
}

void TElementBinding::Restack(TViewElement& Parent) {
  for (TViewElement* child : Parent.Children()) {
    const auto found = FWidgets.find(child);
    if (found != FWidgets.end() && found->second) found->second->raise();
  }
}

bool TElementBinding::eventFilter(QObject* Watched, QEvent* Event) {
  // Clicks on panels, labels and pictures reach their elements' click handlers; buttons,
  // fields and shape buttons report their own.
  if (Event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
    const auto found = FElementOf.find(Watched);
    if (found != FElementOf.end()) {
      TViewElement& element = *found->second;
      const std::string& className = element.ClassName();
      if ((className == "TPanel" || className == "TLabel" || className == "TImage") &&
          element.HasHandler("OnClick")) {
        Act([&] { element.Click(); });
        return true;
      }
    }
  }
  return QObject::eventFilter(Watched, Event);
}

QWidget* TElementBinding::Widget(std::string_view Name) const {
  const auto found = FByName.find(Name);
  return found == FByName.end() ? nullptr : found->second.data();
}

QTimer* TElementBinding::Timer(std::string_view Name) const {
  const auto found = FTimers.find(Name);
  return found == FTimers.end() ? nullptr : found->second.data();
}

void TElementBinding::Act(const std::function<void()>& Action) const {
  try {
    Action();
  } catch (const std::exception& error) {
    ShowMessage(error.what());
  }
}

void TElementBinding::OperatorEdit(TViewElement& Element, std::string_view Property,
                                   const TVariant& Value) const {
  if (!Applying()) Act([&] { Element.Edit(Property, Value); });
}
