#include "app/uf_MainQtGlue.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "controls/uCustomNumEdit.h"
#include "support/uMessages.h"

TQtMainThreadDispatcher::TQtMainThreadDispatcher(QObject* Context) : FContext(Context) {}

void TQtMainThreadDispatcher::Post(std::function<void()> Job) {
  std::lock_guard guard(FLock);
  if (FContext) QMetaObject::invokeMethod(FContext, std::move(Job), Qt::QueuedConnection);
}

bool TQtMainThreadDispatcher::IsMainThread() const {
  std::lock_guard guard(FLock);
  return FContext && QThread::currentThread() == FContext->thread();
}

void TQtMainThreadDispatcher::Detach() {
  std::lock_guard guard(FLock);
  FContext = nullptr;
}

void TQtMainThreadDispatcher::ProcessPending() {
  if (IsMainThread()) QCoreApplication::processEvents();
}

namespace {

void ShowMessageBox(const std::string& Message) {
  // Widgets live on the GUI thread only: a message from elsewhere is shown from there.
  if (QCoreApplication* application = QCoreApplication::instance();
      application && QThread::currentThread() != application->thread()) {
    QMetaObject::invokeMethod(
        application, [Message] { ShowMessageBox(Message); }, Qt::QueuedConnection);
    return;
  }
  QWidget* owner = QApplication::activeWindow();
  QMessageBox box(QMessageBox::Information, owner ? owner->windowTitle() : QString(),
                  QString::fromUtf8(Message.data(), static_cast<qsizetype>(Message.size())),
                  QMessageBox::Ok, owner);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
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
  QWidget* widget = FWidgetOf ? FWidgetOf(Element) : nullptr;
  if (widget && widget->isVisible()) widget->repaint();
}

void TQtMainServices::ShowError(const std::string& Message) {
  QWidget* owner = QApplication::activeWindow();
  QMessageBox::critical(owner, owner ? owner->windowTitle() : QString(),
                        QString::fromUtf8(Message.data(), static_cast<qsizetype>(Message.size())));
}

void TQtMainServices::ShowTrend() {
  if (FShowTrend) FShowTrend();
}

bool TQtMainServices::AcceptPendingEntry() {
  return TMyCustomNumEdit::CheckFocusedEntry();
}
