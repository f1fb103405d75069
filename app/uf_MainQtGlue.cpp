#include "app/uf_MainQtGlue.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "controls/uCustomNumEdit.h"
#include "support/uMessages.h"

TQtMainThreadDispatcher::TQtMainThreadDispatcher(QObject* Context) : FContext(Context) {}

void TQtMainThreadDispatcher::Post(std::function<void()> Job) {
  std::lock_guard Guard(FLock);
  if (FContext) QMetaObject::invokeMethod(FContext, std::move(Job), Qt::QueuedConnection);
}

bool TQtMainThreadDispatcher::IsMainThread() const {
  std::lock_guard Guard(FLock);
  return FContext && QThread::currentThread() == FContext->thread();
}

void TQtMainThreadDispatcher::Detach() {
  std::lock_guard Guard(FLock);
  FContext = nullptr;
}

void TQtMainThreadDispatcher::ProcessPending() {
  if (IsMainThread()) QCoreApplication::processEvents();
}

namespace {

void ShowMessageBox(const std::string& Text) {
  // Widgets live on the GUI thread only: a message from elsewhere is shown from there.
  if (QCoreApplication* Application = QCoreApplication::instance();
      Application && QThread::currentThread() != Application->thread()) {
    QMetaObject::invokeMethod(
        Application, [Text] { ShowMessageBox(Text); }, Qt::QueuedConnection);
    return;
  }
  QWidget* Owner = QApplication::activeWindow();
  QMessageBox Box(QMessageBox::Information, Owner ? Owner->windowTitle() : QString(),
                  QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size())),
                  QMessageBox::Ok, Owner);
  Box.setWindowModality(Qt::ApplicationModal);
  Box.exec();
}

}  // namespace

TQtServices::TQtServices(QObject* Context)
    : FPreviousDispatcher(AfMainThreadDispatcher()),
      FDispatcher(std::make_shared<TQtMainThreadDispatcher>(Context)) {
  FPreviousHandler = SetMessageHandler(ShowMessageBox);
  SetAfMainThreadDispatcher(FDispatcher);
}

TQtServices::~TQtServices() {
  SetMessageHandler(FPreviousHandler);
  SetAfMainThreadDispatcher(FPreviousDispatcher);
  FDispatcher->Detach();
}

TQtMainServices::TQtMainServices(std::function<QWidget*(TViewElement&)> WidgetOf)
    : FWidgetOf(std::move(WidgetOf)) {}

TQtMainServices::~TQtMainServices() {
  SetBusyCursor(false);
}

void TQtMainServices::SetWidgetOf(std::function<QWidget*(TViewElement&)> WidgetOf) {
  FWidgetOf = std::move(WidgetOf);
}

void TQtMainServices::SetBusyCursor(bool Busy) {
  if (Busy == FBusy) return;
  FBusy = Busy;
  if (Busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void TQtMainServices::ProcessMessages() {
  QCoreApplication::processEvents();
}

void TQtMainServices::Repaint(TViewElement& Element) {
  QWidget* Widget = FWidgetOf ? FWidgetOf(Element) : nullptr;
  if (Widget && Widget->isVisible()) Widget->repaint();
}

void TQtMainServices::ShowError(const std::string& Text) {
  QWidget* Owner = QApplication::activeWindow();
  QMessageBox::critical(Owner, Owner ? Owner->windowTitle() : QString(),
                        QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size())));
}

void TQtMainServices::ShowTrend() {
  if (FShowTrend) FShowTrend();
}

bool TQtMainServices::AcceptPendingEntry() {
  return TMyCustomNumEdit::CheckFocusedEntry();
}
