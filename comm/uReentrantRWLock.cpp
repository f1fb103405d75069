#include "comm/uReentrantRWLock.h"

#include "support/uErrors.h"

bool TReentrantRWLock::CanWrite(std::thread::id me) const {
  if (FWriter == me) return true;
  if (FWriter != std::thread::id()) return false;
  const auto own = FReads.find(me);
  return FReadCount == (own == FReads.end() ? 0 : own->second);
}

bool TReentrantRWLock::BeginWrite() {
  const auto me = std::this_thread::get_id();
  std::unique_lock guard(FMutex);
  FChanged.wait(guard, [&] { return CanWrite(me); });
  FWriter = me;
  ++FWriteDepth;
  return true;
}

void TReentrantRWLock::EndWrite() {
  std::lock_guard guard(FMutex);
  if (FWriter != std::this_thread::get_id()) throw Exception("EndWrite without BeginWrite");
  if (--FWriteDepth == 0) {
    FWriter = std::thread::id();
    FChanged.notify_all();
  }
}

void TReentrantRWLock::BeginRead() {
  const auto me = std::this_thread::get_id();
  std::unique_lock guard(FMutex);
  FChanged.wait(guard, [&] { return FWriter == std::thread::id() || FWriter == me; });
  ++FReads[me];
  ++FReadCount;
}

void TReentrantRWLock::EndRead() {
  std::lock_guard guard(FMutex);
  const auto own = FReads.find(std::this_thread::get_id());
  if (own == FReads.end()) throw Exception("EndRead without BeginRead");
  if (--own->second == 0) FReads.erase(own);
  --FReadCount;
  FChanged.notify_all();
}
