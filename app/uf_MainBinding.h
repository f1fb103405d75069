#pragma once
// The Qt widgets of a window built from its view elements, one widget per control element
// with the element's name as object name, kept in step both ways: property changes of an
// element update its widget, and the operator's actions on a widget go into the element
// (Edit for values, Click for clicks), where the controller handles them.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "support/uVariant.h"

class QTimer;
class TShapeExColorSchema;
class TViewElement;

class TElementBinding : public QObject {
 public:
  // Creates the widgets of every control below Form on Window (which stands for Form itself)
  // and a timer for every timer component.
  TElementBinding(TViewElement& Form, QWidget& Window);
  ~TElementBinding() override;
  TElementBinding(const TElementBinding&) = delete;
  TElementBinding& operator=(const TElementBinding&) = delete;

  TViewElement& Form() const { return FForm; }
  // The widget of the element named Name, or null.
  QWidget* Widget(std::string_view Name) const;
  QTimer* Timer(std::string_view Name) const;

  // Runs an operator action on the controller; its error goes to the operator.
  void Act(const std::function<void()>& Action) const;
  // True while element values are being written into widgets: widget signals raised then
  // are not the operator's.
  bool Applying() const { return FApplying > 0; }
  // The operator changed a widget: the element's Property takes Value and reports the
  // change. Ignored while Applying.
  void OperatorEdit(TViewElement& Element, std::string_view Property, const TVariant& Value) const;

  // Colour schemas of the command buttons (1) and the page tabs (2).
  TShapeExColorSchema& CommandSchema() const { return *FCommandSchema; }
  TShapeExColorSchema& TabSchema() const { return *FTabSchema; }

 private:
  void Build(TViewElement& Parent, QWidget* ParentWidget);
  void CreateTimer(TViewElement& Element);
  void ApplyAll(TViewElement& Element);
  void Apply(TViewElement& Element, const std::string& Property);
  void Restack(TViewElement& Parent);
  bool eventFilter(QObject* Watched, QEvent* Event) override;

  TViewElement& FForm;
  QWidget& FWindow;
  TShapeExColorSchema* FCommandSchema;
  TShapeExColorSchema* FTabSchema;
  std::map<const TViewElement*, QPointer<QWidget>> FWidgets;
  std::map<std::string, QPointer<QWidget>, std::less<>> FByName;
  std::map<std::string, QPointer<QTimer>, std::less<>> FTimers;
  std::map<const QObject*, TViewElement*> FElementOf;
  int FListener = 0;
  int FApplying = 0;
};
