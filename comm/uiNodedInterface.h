#pragma once
// Node identity (number, name, GUID, enabled flag), the node tree with descent events that
// bubble to every ancestor, and binding to an XML element. Every channel is a node.
#include <cstdint>
#include <string>
#include <vector>

#include "comm/uEventer.h"
#include "comm/uLazy.h"
#include "comm/uReentrantRWLock.h"
#include "comm/ui_MyInterfacedObject.h"
#include "support/uXmlDocument.h"

class INodedInterface;

class INodedInterfaceCore : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::FromText("{DD03F488-8A5F-4757-98C3-8C2F2F38BEF4}");

  virtual std::int32_t GetID() = 0;
  virtual std::string GetName() = 0;
  virtual void SetName(const std::string& Name) = 0;
  // Raises "'%s' is not a valid GUID value" when the GUID text is not a GUID.
  virtual TGUID GetGUID() = 0;
  virtual std::string GetGUIDString() = 0;
  virtual bool GetEnabled() = 0;
  virtual void SetEnabled(bool Value) = 0;
  virtual bool BeginWrite() = 0;
  virtual void EndWrite() = 0;
  virtual void BeginRead() = 0;
  virtual void EndRead() = 0;
  // Raise this node's descent list (when it exists) with Level + 1.
  virtual void ChildDescentAdded(const TIntfPtr<INodedInterface>& Node, std::int32_t Level) = 0;
  virtual void ChildDescentRemoved(const TIntfPtr<INodedInterface>& Node, std::int32_t Level) = 0;

 protected:
  ~INodedInterfaceCore() = default;
};

class INodedInterface : public INodedInterfaceCore {
 public:
  static constexpr TGUID IID = TGUID::FromText("{932E676F-ACE9-4CE9-BDEB-60D2688BA949}");

  virtual void SetXMLNode(const TXMLNode& Element) = 0;
  virtual void LoadFromXML(const TXMLNode& Element, bool Attach, bool ReloadGUID) = 0;
  virtual void SaveToXML() = 0;
  virtual TXMLNode GetXMLNode() = 0;
  virtual void AttachXMLNode(const TXMLNode& Element) = 0;
  virtual TIntfPtr<IInterface> GetParent() = 0;
  virtual void SetParent(const TIntfPtr<IInterface>& Parent) = 0;
  virtual TIntfPtr<INodedInterface> GetParentNode() = 0;
  virtual void SetParentNode(const TIntfPtr<INodedInterface>& Parent) = 0;
  // A snapshot: later changes to the node do not affect it.
  virtual std::vector<TIntfPtr<IInterface>> GetChildren() = 0;
  virtual TIntfPtr<INodedInterface> GetChild(std::int32_t Index) = 0;
  virtual std::int32_t GetChildCount() = 0;
  virtual std::int32_t AddChild(const TIntfPtr<IInterface>& Child) = 0;
  virtual std::int32_t RemoveChild(const TIntfPtr<IInterface>& Child) = 0;
  virtual std::int32_t RemoveAllChildren() = 0;
  virtual std::int32_t CountChildren(const TGUID& IID, bool Recursive) = 0;
  virtual bool FindByGUID(const std::string& Text, TIntfPtr<INodedInterface>& Node) = 0;
  virtual bool FindByName(const std::string& Text, TIntfPtr<INodedInterface>& Node) = 0;
  virtual std::int32_t IndexOfChild(const TIntfPtr<IInterface>& Child) = 0;
  virtual TeventerDescentEvent& GetOnDescentAdded() = 0;
  virtual TeventerDescentEvent& GetOnDescentRemoved() = 0;
  virtual bool BeginWriteAccess() = 0;
  virtual void BeginReadAccess() = 0;
  virtual bool BeginStructureChange() = 0;
  virtual void EndWriteAccess() = 0;
  virtual void EndReadAccess() = 0;
  virtual void EndStructureChange() = 0;
  virtual void ClearTree() = 0;

 protected:
  ~INodedInterface() = default;
};

// Raised with every node at the end of its construction / at the start of its destruction.
Teventer_NodedInterface& NodeCreated();
Teventer_NodedInterface& NodeDestroying();

class TNodedInterface : public TMyInterfacedObject, public INodedInterface {
 public:
  // Make with Create<TNodedInterface>(Element, Parent): the parent link, the XML load and
  // NodeCreated need the finished object.
  explicit TNodedInterface(const TXMLNode& Element = {}, TIntfPtr<IInterface> Parent = {});
  ~TNodedInterface() override;

  std::int32_t GetID() override;
  std::string GetName() override;
  void SetName(const std::string& Name) override;
  TGUID GetGUID() override;
  std::string GetGUIDString() override;
  bool GetEnabled() override;
  void SetEnabled(bool Value) override;
  bool BeginWrite() override;
  void EndWrite() override;
  void BeginRead() override;
  void EndRead() override;
  void ChildDescentAdded(const TIntfPtr<INodedInterface>& Node, std::int32_t Level) override;
  void ChildDescentRemoved(const TIntfPtr<INodedInterface>& Node, std::int32_t Level) override;

  void SetXMLNode(const TXMLNode& Element) override;
  void LoadFromXML(const TXMLNode& Element, bool Attach, bool ReloadGUID) override;
  void SaveToXML() override;
  TXMLNode GetXMLNode() override;
  void AttachXMLNode(const TXMLNode& Element) override;
  TIntfPtr<IInterface> GetParent() override;
  void SetParent(const TIntfPtr<IInterface>& Parent) override;
  TIntfPtr<INodedInterface> GetParentNode() override;
  void SetParentNode(const TIntfPtr<INodedInterface>& Parent) override;
  std::vector<TIntfPtr<IInterface>> GetChildren() override;
  TIntfPtr<INodedInterface> GetChild(std::int32_t Index) override;
  std::int32_t GetChildCount() override;
  std::int32_t AddChild(const TIntfPtr<IInterface>& Child) override;
  std::int32_t RemoveChild(const TIntfPtr<IInterface>& Child) override;
  std::int32_t RemoveAllChildren() override;
  std::int32_t CountChildren(const TGUID& IID, bool Recursive) override;
  bool FindByGUID(const std::string& Text, TIntfPtr<INodedInterface>& Node) override;
  bool FindByName(const std::string& Text, TIntfPtr<INodedInterface>& Node) override;
  std::int32_t IndexOfChild(const TIntfPtr<IInterface>& Child) override;
  TeventerDescentEvent& GetOnDescentAdded() override;
  TeventerDescentEvent& GetOnDescentRemoved() override;
  bool BeginWriteAccess() override;
  void BeginReadAccess() override;
  bool BeginStructureChange() override;
  void EndWriteAccess() override;
  void EndReadAccess() override;
  void EndStructureChange() override;
  void ClearTree() override;

 protected:
  void* FindInterface(const TGUID& iid) override;
  // Name := class name; SetParent; LoadFromXML(XMLNode, true, false); NodeCreated.
  void AfterConstruction() override;
  // NodeDestroying; RemoveAllChildren; SaveToXML when bound (subclass parts still exist).
  void BeforeDestruction() override;

  // The name of the most derived class, e.g. "TSerialPortInterface".
  std::string ClassName() const;
  TIntfPtr<INodedInterface> Self() { return TIntfPtr<INodedInterface>(this); }

 private:
  // Depth-first search over this node and its descendants by name or by GUID text.
  bool FindBy(bool ByName, const std::string& Text, TIntfPtr<INodedInterface>& Node);
  std::int32_t IndexOfLocked(const TIntfPtr<IInterface>& Child) const;

  TIntfPtr<IInterface> FParent;  // released last
  TIntfPtr<IInterface> FPendingParent;
  TReentrantRWLock FLock;
  bool FEnabled = true;
  TXMLNode FXMLNode;
  std::string FName;
  const std::int32_t FID;
  TLazy<TeventerDescentEvent> FOnDescentAdded;
  TLazy<TeventerDescentEvent> FOnDescentRemoved;
  std::string FGUID;
  std::vector<TIntfPtr<IInterface>> FChildren;
};
