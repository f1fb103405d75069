#include "app/uf_Main.h"

#include <QCloseEvent>
#include <QShowEvent>

#include "app/uMainLayout.h"
#include "app/uViewElement.h"
#include "controls/uFormPosUtils.h"

TfMainWindow::TfMainWindow(TViewElement& Form, std::function<void()> OnShow,
                           std::function<void()> OnClose)
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      FOnShow(std::move(OnShow)),
      FOnClose(std::move(OnClose)) {
  setFixedSize(kMainWidth, kMainHeight);
  setAutoFillBackground(true);
  FBinding = std::make_unique<TElementBinding>(Form, *this);
}

TfMainWindow::~TfMainWindow() = default;

void TfMainWindow::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  if (Event->spontaneous()) return;  // a window coming back from the task bar
  CenterWindowOnMonitor(this);
  if (FOnShow) FBinding->Act(FOnShow);
}

void TfMainWindow::closeEvent(QCloseEvent* Event) {
  QWidget::closeEvent(Event);
  if (Event->isAccepted() && FOnClose) FBinding->Act(FOnClose);
}
