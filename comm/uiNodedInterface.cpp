#include "comm/uiNodedInterface.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "support/uXmlUtils.h"

namespace {
std::atomic<std::int32_t> NodeIDCounter{1};
}  // namespace

Teventer_NodedInterface& NodeCreated() {
  static Teventer_NodedInterface list;
  return list;
}

Teventer_NodedInterface& NodeDestroying() {
  static Teventer_NodedInterface list;
  return list;
}

TNodedInterface::TNodedInterface(const TXMLNode& Element, TIntfPtr<IInterface> Parent)
    : FPendingParent(std::move(Parent)), FXMLNode(Element), FID(++NodeIDCounter) {}

TNodedInterface::~TNodedInterface() = default;

void TNodedInterface::AfterConstruction() {
  {
    TWriteLock guard(FLock);
    FName = ClassName();
  }
  SetParent(std::exchange(FPendingParent, {}));
  LoadFromXML(GetXMLNode(), true, false);
  NodeCreated().Fire(Self());
}

void TNodedInterface::BeforeDestruction() {
  NodeDestroying().Fire(Self());
  RemoveAllChildren();
  if (GetXMLNode()) SaveToXML();
}

std::string TNodedInterface::ClassName() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
  std::string text = status == 0 && name ? std::string(name.get()) : std::string(mangled);
  // The bare class name, without the namespaces (or function) it was declared in.
  const auto template_start = text.find('<');
  const auto qualifier = text.rfind("::", template_start);
  return qualifier == std::string::npos ? text : text.substr(qualifier + 2);
}

void* TNodedInterface::FindInterface(const TGUID& iid) {
  if (iid == INodedInterface::IID) return static_cast<INodedInterface*>(this);
  if (iid == INodedInterfaceCore::IID) return static_cast<INodedInterfaceCore*>(this);
  return TMyInterfacedObject::FindInterface(iid);
}

std::int32_t TNodedInterface::GetID() {
  return FID;
}

std::string TNodedInterface::GetName() {
  TReadLock guard(FLock);
  return FName;
}

void TNodedInterface::SetName(const std::string& Value) {
  TWriteLock guard(FLock);
  FName = Value;
  if (FXMLNode) FXMLNode.SetAttribute("name", Value);
}

TGUID TNodedInterface::GetGUID() {
  return StringToGUID(GetGUIDString());
}

std::string TNodedInterface::GetGUIDString() {
  TReadLock guard(FLock);
  return FGUID;
}

bool TNodedInterface::GetEnabled() {
  TReadLock guard(FLock);
  return FEnabled;
}

void TNodedInterface::SetEnabled(bool Value) {
  TWriteLock guard(FLock);
  FEnabled = Value;
}

bool TNodedInterface::BeginWrite() {
  return FLock.BeginWrite();
}
void TNodedInterface::EndWrite() {
  FLock.EndWrite();
}
void TNodedInterface::BeginRead() {
  FLock.BeginRead();
}
void TNodedInterface::EndRead() {
  FLock.EndRead();
}
bool TNodedInterface::BeginWriteAccess() {
  return BeginWrite();
}
void TNodedInterface::BeginReadAccess() {
  BeginRead();
}
bool TNodedInterface::BeginStructureChange() {
  return BeginWrite();
}
void TNodedInterface::EndWriteAccess() {
  EndWrite();
}
void TNodedInterface::EndReadAccess() {
  EndRead();
}
void TNodedInterface::EndStructureChange() {
  EndWrite();
}

void TNodedInterface::ChildDescentAdded(const TIntfPtr<INodedInterface>& Node, std::int32_t Level) {
  if (auto* list = FOnDescentAdded.IfCreated()) list->Fire(Node, Level + 1);
}

void TNodedInterface::ChildDescentRemoved(const TIntfPtr<INodedInterface>& Node,
                                          std::int32_t Level) {
  if (auto* list = FOnDescentRemoved.IfCreated()) list->Fire(Node, Level + 1);
}

TeventerDescentEvent& TNodedInterface::GetOnDescentAdded() {
  return FOnDescentAdded.Get();
}
TeventerDescentEvent& TNodedInterface::GetOnDescentRemoved() {
  return FOnDescentRemoved.Get();
}

void TNodedInterface::SetXMLNode(const TXMLNode& Element) {
  TWriteLock guard(FLock);
  FXMLNode = Element;
}

void TNodedInterface::LoadFromXML(const TXMLNode& Element, bool Attach, bool ReloadGUID) {
  TWriteLock guard(FLock);
  if (Attach) FXMLNode = Element;
  if (Element) TryReadAttr(Element, FName, "name");
  FEnabled = ReadAttr(Element, "enabled", true).ToBool();
  if (ReloadGUID || FGUID.empty()) {
    if (!Element || !TryReadAttr(Element, FGUID, "GUID")) FGUID = GUIDToString(NewGUID());
  }
}

void TNodedInterface::SaveToXML() {
  TWriteLock guard(FLock);
  if (!FXMLNode) return;
  FXMLNode.SetAttribute("name", FName);
  FXMLNode.SetAttribute("enabled", FEnabled);
  FXMLNode.SetAttribute("GUID", FGUID);
}

TXMLNode TNodedInterface::GetXMLNode() {
  TReadLock guard(FLock);
  return FXMLNode;
}

void TNodedInterface::AttachXMLNode(const TXMLNode& Element) {
  LoadFromXML(Element, true, false);
}

TIntfPtr<IInterface> TNodedInterface::GetParent() {
  TReadLock guard(FLock);
  return FParent;
}

void TNodedInterface::SetParent(const TIntfPtr<IInterface>& NewParent) {
  TWriteLock guard(FLock);
  if (SameObject(NewParent, FParent)) return;
  if (auto old = FParent.Query<INodedInterface>()) old->RemoveChild(Self());
  FParent = NewParent;
  if (auto added = NewParent.Query<INodedInterface>()) added->AddChild(Self());
}

TIntfPtr<INodedInterface> TNodedInterface::GetParentNode() {
  return GetParent().Query<INodedInterface>();
}

void TNodedInterface::SetParentNode(const TIntfPtr<INodedInterface>& NewParent) {
  SetParent(NewParent);
}

std::vector<TIntfPtr<IInterface>> TNodedInterface::GetChildren() {
  TReadLock guard(FLock);
  return FChildren;
}

TIntfPtr<INodedInterface> TNodedInterface::GetChild(std::int32_t Index) {
  TReadLock guard(FLock);
  if (Index < 0 || static_cast<std::size_t>(Index) >= FChildren.size()) return {};
  return FChildren[Index].Query<INodedInterface>();
}

std::int32_t TNodedInterface::GetChildCount() {
  TReadLock guard(FLock);
  return static_cast<std::int32_t>(FChildren.size());
}

std::int32_t TNodedInterface::IndexOfLocked(const TIntfPtr<IInterface>& Child) const {
  for (std::size_t i = 0; i < FChildren.size(); ++i)
    if (SameObject(FChildren[i], Child)) return static_cast<std::int32_t>(i);
  return -1;
}

std::int32_t TNodedInterface::IndexOfChild(const TIntfPtr<IInterface>& Child) {
  TReadLock guard(FLock);
  return IndexOfLocked(Child);
}

std::int32_t TNodedInterface::AddChild(const TIntfPtr<IInterface>& Child) {
  if (!Child) return -1;
  std::int32_t index;
  {
    TWriteLock guard(FLock);
    if (IndexOfLocked(Child) >= 0) return -1;
    FChildren.push_back(Child);
    index = static_cast<std::int32_t>(FChildren.size() - 1);
  }
  if (auto node = Child.Query<INodedInterface>()) {
    node->BeginWriteAccess();
    try {
      if (!SameObject(node->GetParent(), Self())) node->SetParent(Self());
      node->GetOnDescentAdded().Add(Bind<&TNodedInterface::ChildDescentAdded>(this));
      node->GetOnDescentRemoved().Add(Bind<&TNodedInterface::ChildDescentRemoved>(this));
      ChildDescentAdded(node, 0);
    } catch (...) {
      node->EndWriteAccess();
      throw;
    }
    node->EndWriteAccess();
  }
  return index;
}

std::int32_t TNodedInterface::RemoveChild(const TIntfPtr<IInterface>& Child) {
  TWriteLock guard(FLock);
  const std::int32_t index = IndexOfLocked(Child);
  if (index < 0) return -1;
  const TIntfPtr<IInterface> removed = FChildren[index];  // keeps it alive to the end
  FChildren.erase(FChildren.begin() + index);
  if (auto node = removed.Query<INodedInterface>()) {
    ChildDescentRemoved(node, 0);
    if (SameObject(node->GetParent(), Self())) node->SetParent({});
    node->GetOnDescentAdded().Remove(Bind<&TNodedInterface::ChildDescentAdded>(this));
    node->GetOnDescentRemoved().Remove(Bind<&TNodedInterface::ChildDescentRemoved>(this));
  }
  return index;
}

std::int32_t TNodedInterface::RemoveAllChildren() {
  // Every node child is detached, from the last to the first; children that are not nodes
  // have no parent link to break and stay in the list.
  TWriteLock guard(FLock);
  std::int32_t steps = 0;
  const auto snapshot = FChildren;
  for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
    if (auto node = it->Query<INodedInterface>()) {
      node->SetParent({});
      ++steps;
    }
  }
  return steps;
}

void TNodedInterface::ClearTree() {
  TWriteLock guard(FLock);
  for (std::size_t i = 0; i < FChildren.size(); ++i) {
    if (auto node = FChildren[i].Query<INodedInterface>()) node->ClearTree();
  }
  RemoveAllChildren();
}

std::int32_t TNodedInterface::CountChildren(const TGUID& IID, bool Recursive) {
  std::int32_t count = 0;
  for (const auto& child : GetChildren()) {
    if (Recursive) {
      if (auto node = child.Query<INodedInterface>()) count += node->CountChildren(IID, true);
    }
    void* found = nullptr;
    if (child->QueryInterface(IID, &found) == S_OK) {
      ++count;
      child->Release();  // the reference QueryInterface took
    }
  }
  return count;
}

bool TNodedInterface::FindBy(bool ByName, const std::string& Text,
                             TIntfPtr<INodedInterface>& Node) {
  if ((ByName ? GetName() : GetGUIDString()) == Text) {
    Node = Self();
    return true;
  }
  for (const auto& child : GetChildren()) {
    auto node = child.Query<INodedInterface>();
    if (node && (ByName ? node->FindByName(Text, Node) : node->FindByGUID(Text, Node))) return true;
  }
  return false;
}

bool TNodedInterface::FindByGUID(const std::string& Text, TIntfPtr<INodedInterface>& Node) {
  return FindBy(false, Text, Node);
}

bool TNodedInterface::FindByName(const std::string& Text, TIntfPtr<INodedInterface>& Node) {
  return FindBy(true, Text, Node);
}
