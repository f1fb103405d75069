#include "serial/AfSafeSync.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "support/uMessages.h"

TAfPlainDispatcher::TAfPlainDispatcher() : FMainThread(std::this_thread::get_id()) {}

void TAfPlainDispatcher::Post(std::function<void()> Job) {
  {
    std::lock_guard guard(FLock);
    FJobs.push_back(std::move(Job));
  }
  FPosted.notify_all();
}

bool TAfPlainDispatcher::IsMainThread() const {
  std::lock_guard guard(FLock);
  return std::this_thread::get_id() == FMainThread;
}

void TAfPlainDispatcher::SetMainThread(std::thread::id Id) {
  std::lock_guard guard(FLock);
  FMainThread = Id;
}

void TAfPlainDispatcher::ProcessPending() {
  std::deque<std::function<void()>> jobs;
  {
    std::lock_guard guard(FLock);
    jobs.swap(FJobs);
  }
  for (auto& job : jobs) job();
}

bool TAfPlainDispatcher::PumpFor(std::chrono::milliseconds Timeout) {
  {
    std::unique_lock guard(FLock);
    if (!FPosted.wait_for(guard, Timeout, [this] { return !FJobs.empty(); })) return false;
  }
  ProcessPending();
  return true;
}

namespace {

struct TSyncSlot {
  bool Enabled = false;
  TAfSafeSyncProc Callback;
  std::int32_t Id = 0;
  // The thread that enabled the slot in a TAfOwnEventsScope; empty: the main thread.
  std::shared_ptr<IAfMainThreadDispatcher> Receiver;
};

thread_local std::shared_ptr<TAfPlainDispatcher> GOwnEvents;

// The process-wide table. The dispatcher plays the hidden window: it is fixed when the table
// is created by the first allocation, unless one is installed later.
struct TSyncTable {
  std::mutex Lock;
  std::condition_variable Changed;  // a call finished, or a slot was disabled or released
  bool Created = false;
  std::shared_ptr<IAfMainThreadDispatcher> Window;
  std::vector<TSyncSlot> Slots;
  std::int32_t LastId = 0;

  // Index into Slots, or -1.
  int Find(std::int32_t Id) const {
    if (Id == 0) return -1;
    for (std::size_t i = 0; i < Slots.size(); ++i)
      if (Slots[i].Id == Id) return static_cast<int>(i);
    return -1;
  }
  bool IsCallable(std::int32_t Id) const {
    int index = Find(Id);
    return index >= 0 && Slots[index].Callback && Slots[index].Enabled;
  }
  std::shared_ptr<IAfMainThreadDispatcher> ReceiverOf(int Index) const {
    return Slots[Index].Receiver ? Slots[Index].Receiver : Window;
  }
};

TSyncTable& Table() {
  static TSyncTable instance;
  return instance;
}

std::mutex GDispatcherLock;
std::shared_ptr<IAfMainThreadDispatcher> GDispatcher;

// What the hidden window does with a call message: runs the slot's callback on the main thread.
void DeliverSyncCall(std::int32_t Id) {
  TSyncTable& table = Table();
  TAfSafeSyncProc callback;
  std::shared_ptr<IAfMainThreadDispatcher> window;
  int index;
  {
    std::lock_guard guard(table.Lock);
    if (!table.Created) return;
    index = table.Find(Id);
    if (index < 0 || !table.IsCallable(Id)) return;
    callback = table.Slots[index].Callback;
    window = table.ReceiverOf(index);
  }
  try {
    callback(index + 1);
  } catch (const EAbort&) {
  } catch (const std::exception& error) {
    if (window->IsMainThread()) ShowMessage(error.what());
  } catch (...) {
  }
}

}  // namespace

std::shared_ptr<IAfMainThreadDispatcher> AfMainThreadDispatcher() {
  std::lock_guard guard(GDispatcherLock);
  if (!GDispatcher) GDispatcher = std::make_shared<TAfPlainDispatcher>();
  return GDispatcher;
}

void AfKeepWindowDrawn(bool WithInput) {
  std::shared_ptr<IAfMainThreadDispatcher> dispatcher;
  {
    std::lock_guard guard(GDispatcherLock);
    dispatcher = GDispatcher;
  }
  if (dispatcher && dispatcher->IsMainThread()) dispatcher->KeepDrawn(WithInput);
}

void SetAfMainThreadDispatcher(std::shared_ptr<IAfMainThreadDispatcher> Dispatcher) {
  {
    std::lock_guard guard(GDispatcherLock);
    GDispatcher = Dispatcher;
  }
  TSyncTable& table = Table();
  std::lock_guard guard(table.Lock);
  if (table.Created) table.Window = std::move(Dispatcher);
}

std::int32_t AllocateSyncSlot(TAfSafeSyncProc Callback) {
  auto window = AfMainThreadDispatcher();
  TSyncTable& table = Table();
  std::lock_guard guard(table.Lock);
  if (!table.Created) {
    table.Window = std::move(window);
    table.Slots.clear();
    table.Created = true;
  }
  auto freeSlot = std::find_if(table.Slots.begin(), table.Slots.end(),
                               [](const TSyncSlot& Slot) { return !Slot.Callback; });
  if (freeSlot == table.Slots.end()) freeSlot = table.Slots.insert(table.Slots.end(), TSyncSlot{});
  freeSlot->Enabled = false;
  freeSlot->Callback = std::move(Callback);
  freeSlot->Id = ++table.LastId;
  return freeSlot->Id;
}

bool ReleaseSyncSlot(std::int32_t Id) {
  TSyncTable& table = Table();
  {
    std::lock_guard guard(table.Lock);
    int index = table.Find(Id);
    if (index < 0) return false;
    table.Slots[index] = TSyncSlot{};
  }
  table.Changed.notify_all();
  return true;
}

bool EnableSyncSlot(std::int32_t Id, bool Enabled) {
  TSyncTable& table = Table();
  {
    std::lock_guard guard(table.Lock);
    int index = table.Find(Id);
    if (index < 0 || !table.Slots[index].Callback) return false;
    table.Slots[index].Enabled = Enabled;
    if (Enabled) table.Slots[index].Receiver = GOwnEvents;
  }
  table.Changed.notify_all();
  return true;
}

bool CallSyncSlot(std::int32_t Id, std::uint32_t TimeoutMs) {
  TSyncTable& table = Table();
  std::shared_ptr<IAfMainThreadDispatcher> window;
  {
    std::lock_guard guard(table.Lock);
    if (!table.IsCallable(Id)) return false;
    window = table.ReceiverOf(table.Find(Id));
  }
  if (window->IsMainThread()) {
    DeliverSyncCall(Id);
  } else {
    // Shared with the posted job, which may run after this wait has given up.
    auto done = std::make_shared<bool>(false);
    window->Post([Id, done] {
      DeliverSyncCall(Id);
      TSyncTable& tbl = Table();
      {
        std::lock_guard guard(tbl.Lock);
        *done = true;
      }
      tbl.Changed.notify_all();
    });
    std::unique_lock guard(table.Lock);
    table.Changed.wait_for(guard, std::chrono::milliseconds(TimeoutMs),
                           [&] { return *done || !table.IsCallable(Id); });
  }
  std::lock_guard guard(table.Lock);
  return table.Created && table.IsCallable(Id);
}

TAfOwnEventsScope::TAfOwnEventsScope() {
  GOwnEvents = std::make_shared<TAfPlainDispatcher>();
}

TAfOwnEventsScope::~TAfOwnEventsScope() {
  GOwnEvents->ProcessPending();
  GOwnEvents.reset();
}

void AfPumpOwnEvents() {
  if (GOwnEvents) GOwnEvents->ProcessPending();
}
