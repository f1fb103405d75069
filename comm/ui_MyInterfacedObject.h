#pragma once
// Reference-counted objects reached through interfaces. Every interface derives virtually
// from IInterface, so an object has exactly one IInterface part: its address identifies the
// object whichever interface it was reached through.
//
// Objects are made only through Create<T>(args...) (or Construct<T> when a raw pointer with
// count 0 is wanted): the count is 1 while the constructors and the virtual
// AfterConstruction step run, so the object may hand itself out meanwhile; afterwards it
// drops to 0 and the creator's first reference makes it 1. Channel kinds (serial, USB,
// simulated) keep their constructors free of virtual-call needs and put every step that
// must see the finished object into an AfterConstruction override that calls the base one
// first.
#include <atomic>
#include <cstdint>
#include <utility>

#include "comm/uGUID.h"

using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);

class IInterface {
 public:
  static constexpr TGUID IID = TGUID::FromText("{00000000-0000-0000-C000-000000000046}");
  // On success stores a counted reference to the interface `iid` in obj (a pointer to that
  // interface type) and returns S_OK; otherwise stores nullptr and returns E_NOINTERFACE.
  virtual HRESULT QueryInterface(const TGUID& iid, void** obj) = 0;
  virtual std::int32_t AddRef() = 0;
  virtual std::int32_t Release() = 0;

 protected:
  ~IInterface() = default;
};

// A counted interface reference: AddRef when a reference is taken, Release when dropped.
template <class I>
class TIntfPtr {
 public:
  TIntfPtr() = default;
  TIntfPtr(std::nullptr_t) {}
  // Takes a new reference to Interface (which may be null).
  TIntfPtr(I* Interface) : FInterface(Interface) {
    if (FInterface) FInterface->AddRef();
  }
  TIntfPtr(const TIntfPtr& other) : TIntfPtr(other.FInterface) {}
  TIntfPtr(TIntfPtr&& other) noexcept : FInterface(std::exchange(other.FInterface, nullptr)) {}
  template <class U>
  requires std::is_convertible_v<U*, I*> TIntfPtr(const TIntfPtr<U>& other)
      : TIntfPtr(static_cast<I*>(other.Get())) {}
  ~TIntfPtr() { Reset(); }

  TIntfPtr& operator=(TIntfPtr other) noexcept {
    std::swap(FInterface, other.FInterface);
    return *this;
  }

  // Wraps a pointer whose reference the caller already owns (from QueryInterface).
  static TIntfPtr Adopt(I* Interface) {
    TIntfPtr result;
    result.FInterface = Interface;
    return result;
  }

  void Reset() {
    if (I* p = std::exchange(FInterface, nullptr)) p->Release();
  }
  I* Get() const { return FInterface; }
  I* operator->() const { return FInterface; }
  I& operator*() const { return *FInterface; }
  explicit operator bool() const { return FInterface != nullptr; }

  // The object's identity: the address of its one IInterface part.
  IInterface* Identity() const {
    return FInterface ? static_cast<IInterface*>(FInterface) : nullptr;
  }

  // Another interface of the same object, or empty when it does not implement it.
  template <class I2>
  TIntfPtr<I2> Query() const {
    void* obj = nullptr;
    if (!FInterface || FInterface->QueryInterface(I2::IID, &obj) != S_OK) return {};
    return TIntfPtr<I2>::Adopt(static_cast<I2*>(obj));
  }

 private:
  I* FInterface = nullptr;
};

// Same object, whatever interfaces the two references are typed with.
template <class A, class B>
bool SameObject(const TIntfPtr<A>& First, const TIntfPtr<B>& Second) {
  return First.Identity() == Second.Identity();
}

class TMyInterfacedObject : public virtual IInterface {
 public:
  TMyInterfacedObject() = default;
  TMyInterfacedObject(const TMyInterfacedObject&) = delete;
  TMyInterfacedObject& operator=(const TMyInterfacedObject&) = delete;
  virtual ~TMyInterfacedObject() = default;

  HRESULT QueryInterface(const TGUID& iid, void** obj) override;
  std::int32_t AddRef() override;
  std::int32_t Release() override;

  std::int32_t RefCount() const { return FRefCount.load(); }
  bool Destroying() const { return FDestroying.load(); }

 protected:
  // Hooks with the count read after the change; nothing here.
  virtual void AfterAddRef(std::int32_t count);
  virtual void AfterRelease(std::int32_t count);

  // The interface `iid` of this object as a pointer of that interface's type, or nullptr.
  // Each class that implements further interfaces extends it and calls the base last.
  virtual void* FindInterface(const TGUID& iid);

  // Runs once the whole object exists, before the construction guard is dropped.
  virtual void AfterConstruction() {}
  // Runs once Destroying is set, before the destructors.
  virtual void BeforeDestruction() {}

 private:
  template <class T, class... A>
  friend T* Construct(A&&... args);

  std::atomic<std::int32_t> FRefCount{1};  // the construction guard
  std::atomic<bool> FDestroying{false};
};

// Builds a T, runs its AfterConstruction step and drops the construction guard: the result
// has count 0 and belongs to whoever takes the first reference. If AfterConstruction fails,
// the guard is released as an ordinary reference (so the object dies unless something it
// was handed to still holds it) and the error is passed on.
template <class T, class... A>
T* Construct(A&&... args) {
  T* object = new T(std::forward<A>(args)...);
  TMyInterfacedObject* base = object;
  try {
    base->AfterConstruction();
  } catch (...) {
    base->Release();
    throw;
  }
  base->FRefCount.fetch_sub(1);
  return object;
}

template <class T, class... A>
TIntfPtr<T> Create(A&&... args) {
  return TIntfPtr<T>(Construct<T>(std::forward<A>(args)...));
}
