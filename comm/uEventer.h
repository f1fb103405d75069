#pragma once
// Event lists: thread-safe lists of bound member functions, raised in registration order.
// The list's recursive lock is held while the handlers run, so a handler may add or remove
// handlers of the same list; another thread doing so waits until the firing is over.
#include <cstdint>
#include <mutex>
#include <vector>

#include "comm/uMethod.h"
#include "comm/ui_MyInterfacedObject.h"

class INodedInterface;
class ICommunicationInterface;

template <class... Args>
class TEventer {
 public:
  using THandler = TMethod<void(Args...)>;

  TEventer() = default;
  TEventer(const TEventer&) = delete;
  TEventer& operator=(const TEventer&) = delete;
  virtual ~TEventer() = default;

  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }

  // Appends; a handler added twice runs twice.
  void Add(const THandler& handler) {
    std::lock_guard guard(FLock);
    FHandlers.push_back(handler);
  }
  // Removes the first equal entry; an absent handler is not an error.
  void Remove(const THandler& handler) {
    std::lock_guard guard(FLock);
    for (auto it = FHandlers.begin(); it != FHandlers.end(); ++it) {
      if (*it == handler) {
        FHandlers.erase(it);
        return;
      }
    }
  }
  std::size_t Count() {
    std::lock_guard guard(FLock);
    return FHandlers.size();
  }

 protected:
  // Calls every entry; the length is read again before each step, so handlers added during
  // the pass run in it, and a handler that removes itself skips the one moving into its
  // place. A handler's exception is discarded and the next handler still runs.
  void FireAll(const Args&... args) {
    std::lock_guard guard(FLock);
    for (std::size_t i = 0; i < FHandlers.size(); ++i) {
      const THandler handler = FHandlers[i];
      try {
        handler(args...);
      } catch (...) {
      }
    }
  }

 private:
  std::recursive_mutex FLock;
  std::vector<THandler> FHandlers;
};

// The interface arguments are held by a counted reference for the whole firing.
class Teventer_NodedInterface : public TEventer<const TIntfPtr<INodedInterface>&> {
 public:
  void Fire(TIntfPtr<INodedInterface> node);
};

class TeventerDescentEvent : public TEventer<const TIntfPtr<INodedInterface>&, std::int32_t> {
 public:
  void Fire(TIntfPtr<INodedInterface> node, std::int32_t level);
};

class TeventerCiNotify : public TEventer<const TIntfPtr<ICommunicationInterface>&> {
 public:
  void Fire(TIntfPtr<ICommunicationInterface> channel);
};

class TeventerCiNotifyChangeEvent
    : public TEventer<const TIntfPtr<ICommunicationInterface>&, std::int32_t, bool> {
 public:
  void Fire(TIntfPtr<ICommunicationInterface> channel, std::int32_t line, bool state);
};
