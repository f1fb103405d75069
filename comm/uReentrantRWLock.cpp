#include "comm/uReentrantRWLock.h"

#include "support/uErrors.h"

bool TReentrantRWLock::CanWrite(std::thread::id me) const {
  if (writer_ == me) return true;
  if (writer_ != std::thread::id()) return false;
  const auto own = reads_.find(me);
  return readCount_ == (own == reads_.end() ? 0 : own->second);
}

bool TReentrantRWLock::BeginWrite() {
  const auto me = std::this_thread::get_id();
  std::unique_lock guard(mutex_);
  changed_.wait(guard, [&] { return CanWrite(me); });
  writer_ = me;
  ++writeDepth_;
  return true;
}

void TReentrantRWLock::EndWrite() {
  std::lock_guard guard(mutex_);
  if (writer_ != std::this_thread::get_id()) throw Exception("EndWrite without BeginWrite");
  if (--writeDepth_ == 0) {
    writer_ = std::thread::id();
    changed_.notify_all();
  }
}

void TReentrantRWLock::BeginRead() {
  const auto me = std::this_thread::get_id();
  std::unique_lock guard(mutex_);
  changed_.wait(guard, [&] { return writer_ == std::thread::id() || writer_ == me; });
  ++reads_[me];
  ++readCount_;
}

void TReentrantRWLock::EndRead() {
  std::lock_guard guard(mutex_);
  const auto own = reads_.find(std::this_thread::get_id());
  if (own == reads_.end()) throw Exception("EndRead without BeginRead");
  if (--own->second == 0) reads_.erase(own);
  --readCount_;
  changed_.notify_all();
}
