#pragma once
// The main window on screen: a fixed 695 x 551 client area holding the widgets of the
// controller's view elements. Each time it is shown it centres itself on the first monitor
// and tells the controller (OnShow).
#include <QWidget>
#include <functional>
#include <memory>

#include "app/uf_MainBinding.h"

class TViewElement;

inline constexpr int MainClientWidth = 695;
inline constexpr int MainClientHeight = 551;

class TfMainWindow : public QWidget {
 public:
  TfMainWindow(TViewElement& Form, std::function<void()> OnShow);
  ~TfMainWindow() override;

  TElementBinding& Binding() const { return *FBinding; }

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  std::unique_ptr<TElementBinding> FBinding;
  std::function<void()> FOnShow;
};
