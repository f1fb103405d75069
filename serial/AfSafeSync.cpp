#include "serial/AfSafeSync.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "support/uMessages.h"

TAfPlainDispatcher::TAfPlainDispatcher() : FMainThread(std::this_thread::get_id()) {}

void TAfPlainDispatcher::Post(std::function<void()> Job) {
  {
    std::lock_guard Guard(FLock);
    FJobs.push_back(std::move(Job));
  }
  FPosted.notify_all();
}

bool TAfPlainDispatcher::IsMainThread() const {
  std::lock_guard Guard(FLock);
  return std::this_thread::get_id() == FMainThread;
}

void TAfPlainDispatcher::SetMainThread(std::thread::id Id) {
  std::lock_guard Guard(FLock);
  FMainThread = Id;
}

void TAfPlainDispatcher::ProcessPending() {
  std::deque<std::function<void()>> Jobs;
  {
    std::lock_guard Guard(FLock);
    Jobs.swap(FJobs);
  }
  for (auto& Job : Jobs) Job();
}

bool TAfPlainDispatcher::PumpFor(std::chrono::milliseconds Timeout) {
  {
    std::unique_lock Guard(FLock);
    if (!FPosted.wait_for(Guard, Timeout, [this] { return !FJobs.empty(); })) return false;
  }
  ProcessPending();
  return true;
}

namespace {

struct TSyncSlot {
  bool Enabled = false;
  TAfSafeSyncProc Callback;
  std::int32_t Id = 0;
};

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
    int i = Find(Id);
    return i >= 0 && Slots[i].Callback && Slots[i].Enabled;
  }
};

TSyncTable& Table() {
  static TSyncTable Instance;
  return Instance;
}

std::mutex GDispatcherLock;
std::shared_ptr<IAfMainThreadDispatcher> GDispatcher;

// What the hidden window does with a call message: runs the slot's callback on the main thread.
void DeliverSyncCall(std::int32_t Id) {
  TSyncTable& T = Table();
  TAfSafeSyncProc Callback;
  std::shared_ptr<IAfMainThreadDispatcher> Window;
  int Index;
  {
    std::lock_guard Guard(T.Lock);
    if (!T.Created) return;
    Index = T.Find(Id);
    if (Index < 0 || !T.IsCallable(Id)) return;
    Callback = T.Slots[Index].Callback;
    Window = T.Window;
  }
  try {
    Callback(Index + 1);
  } catch (const EAbort&) {
  } catch (const std::exception& E) {
    if (Window->IsMainThread()) ShowMessage(E.what());
  } catch (...) {
  }
}

}  // namespace

std::shared_ptr<IAfMainThreadDispatcher> AfMainThreadDispatcher() {
  std::lock_guard Guard(GDispatcherLock);
  if (!GDispatcher) GDispatcher = std::make_shared<TAfPlainDispatcher>();
  return GDispatcher;
}

void SetAfMainThreadDispatcher(std::shared_ptr<IAfMainThreadDispatcher> Dispatcher) {
  {
    std::lock_guard Guard(GDispatcherLock);
    GDispatcher = Dispatcher;
  }
  TSyncTable& T = Table();
  std::lock_guard Guard(T.Lock);
  if (T.Created) T.Window = std::move(Dispatcher);
}

std::int32_t AllocateSyncSlot(TAfSafeSyncProc Callback) {
  auto Window = AfMainThreadDispatcher();
  TSyncTable& T = Table();
  std::lock_guard Guard(T.Lock);
  if (!T.Created) {
    T.Window = std::move(Window);
    T.Slots.clear();
    T.Created = true;
  }
  auto Free = std::find_if(T.Slots.begin(), T.Slots.end(),
                           [](const TSyncSlot& Slot) { return !Slot.Callback; });
  if (Free == T.Slots.end()) Free = T.Slots.insert(T.Slots.end(), TSyncSlot{});
  Free->Enabled = false;
  Free->Callback = std::move(Callback);
  Free->Id = ++T.LastId;
  return Free->Id;
}

bool ReleaseSyncSlot(std::int32_t Id) {
  TSyncTable& T = Table();
  {
    std::lock_guard Guard(T.Lock);
    int i = T.Find(Id);
    if (i < 0) return false;
    T.Slots[i] = TSyncSlot{};
  }
  T.Changed.notify_all();
  return true;
}

bool EnableSyncSlot(std::int32_t Id, bool Enabled) {
  TSyncTable& T = Table();
  {
    std::lock_guard Guard(T.Lock);
    int i = T.Find(Id);
    if (i < 0 || !T.Slots[i].Callback) return false;
    T.Slots[i].Enabled = Enabled;
  }
  T.Changed.notify_all();
  return true;
}

bool CallSyncSlot(std::int32_t Id, std::uint32_t TimeoutMs) {
  TSyncTable& T = Table();
  std::shared_ptr<IAfMainThreadDispatcher> Window;
  {
    std::lock_guard Guard(T.Lock);
    if (!T.IsCallable(Id)) return false;
    Window = T.Window;
  }
  if (Window->IsMainThread()) {
    DeliverSyncCall(Id);
  } else {
    // Shared with the posted job, which may run after this wait has given up.
    auto Done = std::make_shared<bool>(false);
    Window->Post([Id, Done] {
      DeliverSyncCall(Id);
      TSyncTable& Tbl = Table();
      {
        std::lock_guard Guard(Tbl.Lock);
        *Done = true;
      }
      Tbl.Changed.notify_all();
    });
    std::unique_lock Guard(T.Lock);
    T.Changed.wait_for(Guard, std::chrono::milliseconds(TimeoutMs),
                       [&] { return *Done || !T.IsCallable(Id); });
  }
  std::lock_guard Guard(T.Lock);
  return T.Created && T.IsCallable(Id);
}
