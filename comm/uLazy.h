#pragma once
// An object made on first request and owned from then on (the event lists of nodes and
// channels). Creation is guarded, so two threads asking at once get the same object.
#include <memory>
#include <mutex>

template <class T>
class TLazy {
 public:
  T& Get() {
    std::lock_guard guard(FMutex);
    if (!FObject) FObject = std::make_unique<T>();
    return *FObject;
  }
  // The object, or nullptr when nobody has asked for it yet.
  T* IfCreated() {
    std::lock_guard guard(FMutex);
    return FObject.get();
  }

 private:
  std::mutex FMutex;
  std::unique_ptr<T> FObject;
};
