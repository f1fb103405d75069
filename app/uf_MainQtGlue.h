#pragma once
// What the window needs from the toolkit besides widgets: the main-thread dispatcher of the
// sync service on the Qt event loop, modal message boxes for operator messages, and the
// controller's services (busy cursor, pending events, immediate drawing, error box).
#include <QObject>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/uMainServices.h"
#include "serial/AfSafeSync.h"

// Posts jobs to the thread of Context (the GUI thread) through its event queue. Workers may
// still hold the dispatcher when the window goes: after Detach, jobs are dropped. While the
// window only draws itself during an exchange, jobs wait in their order.
class TQtMainThreadDispatcher : public IAfMainThreadDispatcher {
 public:
  explicit TQtMainThreadDispatcher(QObject* Context);
  void Post(std::function<void()> Job) override;
  bool IsMainThread() const override;
  void ProcessPending() override;
  void KeepDrawn(bool WithInput) override;
  void Detach();

 private:
  struct TJobs;  // shared with the wake-up waiting in the event queue
  std::shared_ptr<TJobs> FJobs;
};

// Installs the Qt dispatcher and the message-box handler for the life of the object and
// restores the previous ones afterwards.
class TQtServices {
 public:
  explicit TQtServices(QObject* Context);
  ~TQtServices();
  TQtServices(const TQtServices&) = delete;
  TQtServices& operator=(const TQtServices&) = delete;

 private:
  std::shared_ptr<IAfMainThreadDispatcher> FPreviousDispatcher;
  std::shared_ptr<TQtMainThreadDispatcher> FDispatcher;
  std::function<void(const std::string&)> FPreviousHandler;
};

// The controller's services on the toolkit: the wait cursor, the event loop's pending
// events, drawing an element at once (its widget from WidgetOf) and an error box.
class TQtMainServices : public IMainServices {
 public:
  explicit TQtMainServices(std::function<QWidget*(TViewElement&)> WidgetOf = {});
  ~TQtMainServices() override;
  void SetWidgetOf(std::function<QWidget*(TViewElement&)> WidgetOf);
  bool BusyCursor() const override { return FBusy; }
  void SetBusyCursor(bool Busy) override;
  void ProcessMessages() override;
  void Repaint(TViewElement& Element) override;
  void ShowError(const std::string& Message) override;
  void SetShowTrend(std::function<void()> ShowTrend) { FShowTrend = std::move(ShowTrend); }
  void ShowTrend() override;
  bool AcceptPendingEntry() override;
  bool Confirm(const std::string& Question, const std::string& Yes, const std::string& No) override;

 private:
  std::function<QWidget*(TViewElement&)> FWidgetOf;
  std::function<void()> FShowTrend;
  bool FBusy = false;
  // While busy: input meant for the window is dropped, not acted on once the exchange ends.
  std::unique_ptr<QObject> FInputDropper;
  unsigned FDrawnBefore = 0;  // the window's drawings during exchanges when it became busy
};
