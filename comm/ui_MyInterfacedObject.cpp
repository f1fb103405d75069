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
  const std::int32_t count = FRefCount.fetch_sub(1) - 1;
  if (count == 0 && !FDestroying.exchange(true)) {
    AfterRelease(0);
    // Nothing can report a failure from here; the object goes regardless.
    try {
      BeforeDestruction();
    } catch (...) {
    }
    delete this;
  } else {
    AfterRelease(FRefCount.load());
  }
  return count;
}

void TMyInterfacedObject::AfterAddRef(std::int32_t) {}

void TMyInterfacedObject::AfterRelease(std::int32_t) {}

void* TMyInterfacedObject::FindInterface(const TGUID& iid) {
  return iid == IInterface::IID ? static_cast<IInterface*>(this) : nullptr;
}
