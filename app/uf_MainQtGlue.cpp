#include "app/uf_MainQtGlue.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <atomic>
#include <deque>

#include "controls/uCustomNumEdit.h"
#include "support/uMessages.h"

namespace {

// How many times the window was let draw during an exchange: a busy scope in which it never
// was took too short for input to have waited.
std::atomic<unsigned> gDrawnWhileWaiting{0};

}  // namespace

struct TQtMainThreadDispatcher::TJobs {
  std::mutex Lock;
  QObject* Context;
  std::deque<std::function<void()>> Waiting;
  bool WakePosted = false;
  int Held = 0;  // nested KeepDrawn calls

  // Asks the GUI thread to run what waits; Lock held.
  static void Wake(const std::shared_ptr<TJobs>& Jobs) {
    if (Jobs->WakePosted || Jobs->Waiting.empty() || Jobs->Held > 0 || !Jobs->Context) return;
    Jobs->WakePosted = true;
    QMetaObject::invokeMethod(
        Jobs->Context, [Jobs] { Jobs->Run(); }, Qt::QueuedConnection);
  }
  void Run() {
    std::deque<std::function<void()>> jobs;
    {
      std::lock_guard guard(Lock);
      WakePosted = false;
      if (Held > 0 || !Context) return;  // the end of the hold wakes again
      jobs.swap(Waiting);
    }
    for (auto& job : jobs) job();
  }
};

TQtMainThreadDispatcher::TQtMainThreadDispatcher(QObject* Context)
    : FJobs(std::make_shared<TJobs>()) {
  FJobs->Context = Context;
}

void TQtMainThreadDispatcher::Post(std::function<void()> Job) {
  std::lock_guard guard(FJobs->Lock);
  if (!FJobs->Context) return;
  FJobs->Waiting.push_back(std::move(Job));
  TJobs::Wake(FJobs);
}

bool TQtMainThreadDispatcher::IsMainThread() const {
  std::lock_guard guard(FJobs->Lock);
  return FJobs->Context && QThread::currentThread() == FJobs->Context->thread();
}

void TQtMainThreadDispatcher::Detach() {
  std::lock_guard guard(FJobs->Lock);
  FJobs->Context = nullptr;
  FJobs->Waiting.clear();
}

void TQtMainThreadDispatcher::ProcessPending() {
  if (IsMainThread()) QCoreApplication::processEvents();
}

void TQtMainThreadDispatcher::KeepDrawn(bool WithInput) {
  {
    std::lock_guard guard(FJobs->Lock);
    ++FJobs->Held;
  }
  QEventLoop::ProcessEventsFlags flags =
      QEventLoop::ExcludeSocketNotifiers | QEventLoop::X11ExcludeTimers;
  if (!WithInput) flags |= QEventLoop::ExcludeUserInputEvents;
  ++gDrawnWhileWaiting;
  QCoreApplication::processEvents(flags);
  std::lock_guard guard(FJobs->Lock);
  --FJobs->Held;
  TJobs::Wake(FJobs);
}

namespace {

// Drops input meant for the window, but not for a message box the operator has to answer.
class TInputDropper : public QObject {
 public:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    switch (Event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::Close:
        return QApplication::activeModalWidget() == nullptr;
      default:
        return QObject::eventFilter(Watched, Event);
    }
  }
};

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
  if (Busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    FInputDropper = std::make_unique<TInputDropper>();
    QCoreApplication::instance()->installEventFilter(FInputDropper.get());
    FDrawnBefore = gDrawnWhileWaiting;
    return;
  }
  // What the operator clicked or typed during a long exchange is handed over now, and dropped.
  if (gDrawnWhileWaiting != FDrawnBefore) AfKeepWindowDrawn(true);
  FInputDropper.reset();
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

bool TQtMainServices::Confirm(const std::string& Question, const std::string& Yes,
                              const std::string& No) {
  QWidget* owner = QApplication::activeWindow();
  QMessageBox box(QMessageBox::Question, owner ? owner->windowTitle() : QString(),
                  QString::fromStdString(Question), QMessageBox::NoButton, owner);
  QPushButton* yes = box.addButton(QString::fromStdString(Yes), QMessageBox::AcceptRole);
  box.setDefaultButton(box.addButton(QString::fromStdString(No), QMessageBox::RejectRole));
  box.exec();
  return box.clickedButton() == yes;
}

bool TQtMainServices::AcceptPendingEntry() {
  return TMyCustomNumEdit::CheckFocusedEntry();
}
