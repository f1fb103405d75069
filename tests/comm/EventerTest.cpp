#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "comm/uEventer.h"
#include "comm/uiNodedInterface.h"

namespace {

class TIntEventer : public TEventer<int> {
 public:
  void Fire(int value) { FireAll(value); }
};

// Records calls as "<name><value>" and can misbehave on request.
class TRecorder {
 public:
  TRecorder(std::string& log, std::string name) : log_(log), name_(std::move(name)) {}
  void Handle(int value) {
    log_ += name_ + std::to_string(value) + " ";
    if (throws) throw std::runtime_error("handler failed");
    if (removeFrom) removeFrom->Remove(Bind<&TRecorder::Handle>(this));
    if (addTo) {
      addTo->Add(Bind<&TRecorder::Handle>(addWhom));
      addTo = nullptr;
    }
  }
  TIntEventer::THandler Method() { return Bind<&TRecorder::Handle>(this); }

  bool throws = false;
  TIntEventer* removeFrom = nullptr;
  TIntEventer* addTo = nullptr;
  TRecorder* addWhom = nullptr;

 private:
  std::string& log_;
  std::string name_;
};

TEST(Eventer, FiringAnEmptyListDoesNothing) {
  TIntEventer list;
  EXPECT_NO_THROW(list.Fire(1));
  EXPECT_EQ(list.Count(), 0u);
}

TEST(Eventer, HandlersRunInRegistrationOrder) {
  std::string log;
  TRecorder a(log, "a"), b(log, "b"), c(log, "c");
  TIntEventer list;
  list.Add(b.Method());
  list.Add(a.Method());
  list.Add(c.Method());
  list.Fire(1);
  EXPECT_EQ(log, "b1 a1 c1 ");
}

TEST(Eventer, DuplicateRunsTwiceAndOneRemoveLeavesTheLaterOne) {
  std::string log;
  TRecorder a(log, "a"), b(log, "b");
  TIntEventer list;
  list.Add(a.Method());
  list.Add(b.Method());
  list.Add(a.Method());
  list.Fire(1);
  EXPECT_EQ(log, "a1 b1 a1 ");
  list.Remove(a.Method());
  log.clear();
  list.Fire(2);
  EXPECT_EQ(log, "b2 a2 ");
}

TEST(Eventer, RemovingAnAbsentHandlerChangesNothing) {
  std::string log;
  TRecorder a(log, "a"), b(log, "b");
  TIntEventer list;
  list.Add(a.Method());
  list.Remove(b.Method());
  list.Fire(3);
  EXPECT_EQ(log, "a3 ");
}

TEST(Eventer, ExceptionInAHandlerIsSwallowedAndLaterHandlersRun) {
  std::string log;
  TRecorder a(log, "a"), b(log, "b");
  a.throws = true;
  TIntEventer list;
  list.Add(a.Method());
  list.Add(b.Method());
  EXPECT_NO_THROW(list.Fire(4));
  EXPECT_EQ(log, "a4 b4 ");
}

TEST(Eventer, HandlerRemovingItselfSkipsTheNextEntryInThatPassOnly) {
  std::string log;
  TRecorder a(log, "a"), b(log, "b"), c(log, "c");
  TIntEventer list;
  a.removeFrom = &list;
  list.Add(a.Method());
  list.Add(b.Method());
  list.Add(c.Method());
  list.Fire(1);
  EXPECT_EQ(log, "a1 c1 ");
  log.clear();
  list.Fire(2);
  EXPECT_EQ(log, "b2 c2 ");
}

TEST(Eventer, HandlerAddedDuringFiringRunsInTheSamePass) {
  std::string log;
  TRecorder a(log, "a"), b(log, "b");
  TIntEventer list;
  a.addTo = &list;
  a.addWhom = &b;
  list.Add(a.Method());
  list.Fire(1);
  EXPECT_EQ(log, "a1 b1 ");
}

class TSlowHandler {
 public:
  void Handle(int) {
    entered = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    addedWhileRunning = added.load();
  }
  void Other(int) {}
  std::atomic<bool> entered{false}, added{false};
  bool addedWhileRunning = true;
};

TEST(Eventer, AnotherThreadWaitsForTheFiringToEnd) {
  TIntEventer list;
  TSlowHandler slow;
  list.Add(Bind<&TSlowHandler::Handle>(&slow));
  std::thread firing([&] { list.Fire(1); });
  while (!slow.entered) std::this_thread::yield();
  list.Add(Bind<&TSlowHandler::Other>(&slow));
  slow.added = true;
  firing.join();
  EXPECT_FALSE(slow.addedWhileRunning);
  EXPECT_EQ(list.Count(), 2u);
}

class TNodeWatcher {
 public:
  void Handle(const TIntfPtr<INodedInterface>& node) {
    countDuringCall = static_cast<TNodedInterface*>(node.Get())->RefCount();
  }
  std::int32_t countDuringCall = 0;
};

TEST(Eventer, InterfaceArgumentIsHeldForTheCall) {
  auto node = Create<TNodedInterface>();
  Teventer_NodedInterface list;
  TNodeWatcher watcher;
  list.Add(Bind<&TNodeWatcher::Handle>(&watcher));
  INodedInterface* raw = node.Get();
  list.Fire(raw);
  EXPECT_EQ(watcher.countDuringCall, 2);
  EXPECT_EQ(node->RefCount(), 1);
}

}  // namespace
