#pragma once
// An object made on first request and owned from then on (the event lists of nodes and
// channels). Creation is guarded, so two threads asking at once get the same object.
#include <memory>
#include <mutex>

template <class T>
class TLazy {
 public:
  T& Get() {
    std::lock_guard guard(mutex_);
    if (!object_) object_ = std::make_unique<T>();
    return *object_;
  }
  // The object, or nullptr when nobody has asked for it yet.
  T* IfCreated() {
    std::lock_guard guard(mutex_);
    return object_.get();
  }

 private:
  std::mutex mutex_;
  std::unique_ptr<T> object_;
};
