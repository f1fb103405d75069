#include "comm/ui_MyInterfacedObject.h"

HRESULT TMyInterfacedObject::QueryInterface(const TGUID& iid, void** obj) {
  *obj = FindInterface(iid);
  if (!*obj) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

std::int32_t TMyInterfacedObject::AddRef() {
  const std::int32_t count = FRefCount.fetch_add(1) + 1;
  AfterAddRef(FRefCount.load());
  return count;
}

std::int32_t TMyInterfacedObject::Release() {
  // After a decrement that does not reach zero another thread may destroy the object at
  // once, so the hook of a non-final release runs while this reference still holds it,
  // with the count the release is about to leave.
  const std::int32_t before = FRefCount.load();
  if (before > 1) AfterRelease(before - 1);
  const std::int32_t count = FRefCount.fetch_sub(1) - 1;
  if (count != 0) return count;
  // Reaching 0 again while the destructor runs (it hands the object out) must not destroy
  // it a second time.
  const bool destroyNow = !FDestroying.exchange(true);
  AfterRelease(0);
  if (destroyNow) {
    // Nothing can report a failure from here; the object goes regardless.
    try {
      BeforeDestruction();
    } catch (...) {
    }
    delete this;
  }
  return count;
}

void TMyInterfacedObject::AfterAddRef(std::int32_t) {}

void TMyInterfacedObject::AfterRelease(std::int32_t) {}

void* TMyInterfacedObject::FindInterface(const TGUID& iid) {
  return iid == IInterface::IID ? static_cast<IInterface*>(this) : nullptr;
}
