#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/uf_MainQtGlue.h"
#include "serial/AfSafeSync.h"
#include "support/uMessages.h"
#include "tests/controls/QtTestApp.h"

namespace {

// Runs the event loop until Done or five seconds.
bool LoopUntil(const std::function<bool()>& Done) {
  return QTest::qWaitFor(Done, 5000);
}

}  // namespace

TEST(QtDispatcher, JobsFromWorkersRunOnTheGuiThreadWhenTheLoopRuns) {
  TQtMainThreadDispatcher Dispatcher(QCoreApplication::instance());
  EXPECT_TRUE(Dispatcher.IsMainThread());
  std::atomic<bool> WorkerSawMain{true};
  std::thread::id RanOn;
  std::atomic<bool> Ran{false};
  std::thread Worker([&] {
    WorkerSawMain = Dispatcher.IsMainThread();
    Dispatcher.Post([&] {
      RanOn = std::this_thread::get_id();
      Ran = true;
    });
  });
  Worker.join();
  EXPECT_FALSE(WorkerSawMain);
  EXPECT_FALSE(Ran);  // queued, not run on the worker
  Dispatcher.ProcessPending();
  EXPECT_TRUE(Ran);
  EXPECT_EQ(RanOn, std::this_thread::get_id());
}

TEST(QtDispatcher, AfterDetachJobsAreDropped) {
  TQtMainThreadDispatcher Dispatcher(QCoreApplication::instance());
  Dispatcher.Detach();
  bool Ran = false;
  Dispatcher.Post([&] { Ran = true; });
  QCoreApplication::processEvents();
  EXPECT_FALSE(Ran);
  EXPECT_FALSE(Dispatcher.IsMainThread());
}

TEST(QtServices, SyncSlotsOfWorkersRunOnTheGuiThreadThroughTheEventLoop) {
  const TQtServices Services(QCoreApplication::instance());
  std::thread::id CalledOn;
  const std::int32_t Slot = AllocateSyncSlot([&](int) { CalledOn = std::this_thread::get_id(); });
  ASSERT_NE(Slot, 0);
  ASSERT_TRUE(EnableSyncSlot(Slot, true));
  std::atomic<bool> Done{false};
  std::atomic<bool> Result{false};
  std::thread Worker([&] {
    Result = CallSyncSlot(Slot, 2000);
    Done = true;
  });
  EXPECT_TRUE(LoopUntil([&] { return Done.load(); }));
  Worker.join();
  EXPECT_TRUE(Result);
  EXPECT_EQ(CalledOn, std::this_thread::get_id());
  ReleaseSyncSlot(Slot);
}

TEST(QtServices, PutBackTheDispatcherAndMessageHandlerTheyReplaced) {
  const auto Before = AfMainThreadDispatcher();
  TMessageCapture Capture;
  {
    const TQtServices Services(QCoreApplication::instance());
    EXPECT_NE(AfMainThreadDispatcher(), Before);
    EXPECT_NE(dynamic_cast<TQtMainThreadDispatcher*>(AfMainThreadDispatcher().get()), nullptr);
  }
  EXPECT_EQ(AfMainThreadDispatcher(), Before);
  ShowMessage("zpráva");
  EXPECT_EQ(Capture.Messages, std::vector<std::string>{"zpráva"});
}

TEST(QtServices, MessagesOfWorkersAreShownByTheGuiThread) {
  const TQtServices Services(QCoreApplication::instance());
  std::thread Worker([] { ShowMessage("z vlákna"); });
  Worker.join();
  QString Shown;
  bool ShownOnGuiThread = false;
  QTimer Closer;
  QObject::connect(&Closer, &QTimer::timeout, [&] {
    if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      Shown = Box->text();
      ShownOnGuiThread = Box->thread() == QThread::currentThread();
      Box->accept();
    }
  });
  Closer.start(10);
  EXPECT_TRUE(LoopUntil([&] { return !Shown.isEmpty(); }));
  EXPECT_EQ(Shown, QString::fromUtf8("z vlákna"));
  EXPECT_TRUE(ShownOnGuiThread);
}

TEST(QtMainServices, BusyCursorIsTheWaitCursorUntilTakenBack) {
  ASSERT_EQ(QApplication::overrideCursor(), nullptr);
  {
    TQtMainServices Services;
    {
      const TBusyCursor Busy(Services);
      ASSERT_NE(QApplication::overrideCursor(), nullptr);
      EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
      {
        const TBusyCursor Nested(Services);
        EXPECT_TRUE(Services.BusyCursor());
      }
      // The inner scope restores "busy", not the normal cursor.
      ASSERT_NE(QApplication::overrideCursor(), nullptr);
      EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    Services.SetBusyCursor(true);
  }
  // Services that go while busy leave no wait cursor behind.
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtMainServices, PendingEventsAreHandled) {
  TQtMainServices Services;
  bool Ran = false;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [&] { Ran = true; }, Qt::QueuedConnection);
  Services.ProcessMessages();
  EXPECT_TRUE(Ran);
}
