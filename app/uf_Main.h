#pragma once
// The main window on screen: a client area of the layout's fixed size holding the widgets of the
// controller's view elements. Each time it is shown it centres itself on the first monitor
// and tells the controller (OnShow); closing it tells OnClose, which ends the program.
#include <QWidget>
#include <functional>
#include <memory>

#include "app/uf_MainBinding.h"

class TViewElement;

class TfMainWindow : public QWidget {
 public:
  TfMainWindow(TViewElement& Form, std::function<void()> OnShow,
               std::function<void()> OnClose = {});
  ~TfMainWindow() override;

  TElementBinding& Binding() const { return *FBinding; }

 protected:
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;

 private:
  std::unique_ptr<TElementBinding> FBinding;
  std::function<void()> FOnShow;
  std::function<void()> FOnClose;
};
