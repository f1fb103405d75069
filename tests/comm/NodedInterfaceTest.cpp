#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "comm/uiNodedInterface.h"
#include "support/uXmlDocument.h"

namespace {

using TNodePtr = TIntfPtr<TNodedInterface>;

// Records descent events as "<list>:<node name>@<level>", and nesting with "(" ... ")".
class TTreeLog {
 public:
  void Watch(const TNodePtr& node, const std::string& label) {
    labels_.push_back(label);
    node->GetOnDescentAdded().Add(Bind<&TTreeLog::Added>(this));
    node->GetOnDescentRemoved().Add(Bind<&TTreeLog::Removed>(this));
  }
  void Added(const TIntfPtr<INodedInterface>& node, std::int32_t level) {
    text += "+" + node->GetName() + "@" + std::to_string(level) + " ";
  }
  void Removed(const TIntfPtr<INodedInterface>& node, std::int32_t level) {
    text += "-" + node->GetName() + "@" + std::to_string(level) + " ";
  }
  std::string text;

 private:
  std::vector<std::string> labels_;
};

TNodePtr Named(const std::string& name) {
  auto node = Create<TNodedInterface>();
  node->SetName(name);
  return node;
}

TEST(NodedInterface, FirstNodeOfTheProcessGetsTwo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: no node made before
  EXPECT_EXIT(
      {
        auto node = Create<TNodedInterface>();
        std::exit(node->GetID());
      },
      testing::ExitedWithCode(2), "");
}

TEST(NodedInterface, IdentityOfANewNode) {
  auto a = Create<TNodedInterface>();
  auto b = Create<TNodedInterface>();
  auto c = Create<TNodedInterface>();
  EXPECT_EQ(b->GetID(), a->GetID() + 1);
  EXPECT_EQ(c->GetID(), b->GetID() + 1);
  EXPECT_EQ(a->GetName(), "TNodedInterface");
  EXPECT_TRUE(a->GetEnabled());
  const std::string guid = a->GetGUIDString();
  ASSERT_EQ(guid.size(), 38u);
  EXPECT_EQ(GUIDToString(a->GetGUID()), guid);  // upper-case braced form
  EXPECT_NE(b->GetGUIDString(), guid);
  EXPECT_FALSE(a->GetParent());
  EXPECT_FALSE(a->GetXMLNode());
}

class TCreationWatcher {
 public:
  void Created(const TIntfPtr<INodedInterface>& node) {
    created.push_back(node->GetID());
    nameAtCreation = node->GetName();
    guidAtCreation = node->GetGUIDString();
  }
  void Destroying(const TIntfPtr<INodedInterface>& node) { destroyed.push_back(node->GetID()); }
  std::vector<int> created, destroyed;
  std::string nameAtCreation, guidAtCreation;
};

TEST(NodedInterface, CreationAndDestructionAreAnnounced) {
  TCreationWatcher watcher;
  NodeCreated().Add(Bind<&TCreationWatcher::Created>(&watcher));
  NodeDestroying().Add(Bind<&TCreationWatcher::Destroying>(&watcher));
  int id;
  {
    auto node = Create<TNodedInterface>();
    id = node->GetID();
    EXPECT_EQ(node->RefCount(), 1);
    EXPECT_EQ(watcher.created, std::vector<int>{id});
    EXPECT_EQ(watcher.nameAtCreation, "TNodedInterface");
    EXPECT_EQ(watcher.guidAtCreation, node->GetGUIDString());
    EXPECT_TRUE(watcher.destroyed.empty());
  }
  EXPECT_EQ(watcher.destroyed, std::vector<int>{id});
  NodeCreated().Remove(Bind<&TCreationWatcher::Created>(&watcher));
  NodeDestroying().Remove(Bind<&TCreationWatcher::Destroying>(&watcher));
}

TEST(NodedInterface, AddChildLinksBothWaysAndRaisesOnce) {
  auto parent = Named("P");
  auto child = Named("C");
  TTreeLog log;
  log.Watch(parent, "P");
  EXPECT_EQ(parent->AddChild(child), 0);
  EXPECT_EQ(log.text, "+C@1 ");
  EXPECT_TRUE(SameObject(child->GetParent(), parent));
  EXPECT_TRUE(SameObject(child->GetParentNode(), parent));
  EXPECT_EQ(parent->AddChild(child), -1);
  EXPECT_EQ(parent->AddChild({}), -1);
  EXPECT_EQ(log.text, "+C@1 ");
  EXPECT_EQ(parent->GetChildCount(), 1);
  parent->ClearTree();
}

TEST(NodedInterface, GrandchildEventsBubbleNearestAncestorFirst) {
  auto root = Named("R");
  auto child = Named("C");
  auto grandchild = Named("G");
  TTreeLog log;
  log.Watch(child, "C");
  root->AddChild(child);
  log.Watch(root, "R");
  log.text.clear();
  child->AddChild(grandchild);
  EXPECT_EQ(log.text, "+G@1 +G@2 ");
  log.text.clear();
  child->RemoveChild(grandchild);
  EXPECT_EQ(log.text, "-G@1 -G@2 ");
  EXPECT_FALSE(grandchild->GetParent());
  root->ClearTree();
}

TEST(NodedInterface, ReparentingRemovesFromOldThenAddsToNew) {
  auto a = Named("A");
  auto b = Named("B");
  auto child = Named("C");
  a->AddChild(child);
  a->AddChild(Named("D"));
  TTreeLog log;
  log.Watch(a, "A");
  log.Watch(b, "B");
  child->SetParent(b);
  EXPECT_EQ(log.text, "-C@1 +C@1 ");
  EXPECT_EQ(a->GetChildCount(), 1);
  EXPECT_EQ(b->IndexOfChild(child), 0);
  EXPECT_EQ(a->IndexOfChild(child), -1);
  EXPECT_TRUE(SameObject(child->GetParent(), b));
  // Events below the child now reach B only.
  log.text.clear();
  child->AddChild(Named("G"));
  EXPECT_EQ(log.text, "+G@2 ");
  a->ClearTree();
  b->ClearTree();
}

TEST(NodedInterface, RemovingAnAbsentChildAndBadIndexes) {
  auto parent = Named("P");
  auto stranger = Named("S");
  TTreeLog log;
  log.Watch(parent, "P");
  EXPECT_EQ(parent->RemoveChild(stranger), -1);
  EXPECT_EQ(log.text, "");
  parent->AddChild(Named("C"));
  EXPECT_FALSE(parent->GetChild(-1));
  EXPECT_FALSE(parent->GetChild(parent->GetChildCount()));
  EXPECT_EQ(parent->GetChild(0)->GetName(), "C");
  parent->ClearTree();
}

TEST(NodedInterface, ConstructionWithAParentAttaches) {
  auto parent = Named("P");
  TTreeLog log;
  log.Watch(parent, "P");
  auto child = Create<TNodedInterface>(TXMLNode(), parent);
  EXPECT_EQ(log.text, "+TNodedInterface@1 ");
  EXPECT_TRUE(SameObject(parent->GetChild(0), child));
  parent->ClearTree();
}

TEST(NodedInterface, SearchesByGUIDAndNameDepthFirst) {
  auto root = Named("R");
  auto child = Named("C");
  auto grandchild = Named("G");
  root->AddChild(child);
  child->AddChild(grandchild);
  TIntfPtr<INodedInterface> found;
  EXPECT_TRUE(root->FindByGUID(root->GetGUIDString(), found));
  EXPECT_TRUE(SameObject(found, root));
  std::string lower = grandchild->GetGUIDString();
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  found.Reset();
  EXPECT_FALSE(root->FindByGUID(lower, found));
  EXPECT_FALSE(found);
  EXPECT_TRUE(root->FindByGUID(grandchild->GetGUIDString(), found));
  EXPECT_TRUE(SameObject(found, grandchild));
  EXPECT_TRUE(root->FindByName("C", found));
  EXPECT_TRUE(SameObject(found, child));
  EXPECT_FALSE(child->FindByName("R", found));
  root->ClearTree();
}

// A child that is a plain counted object, not a node.
class TPlain : public TMyInterfacedObject {};

TEST(NodedInterface, CountsAndSnapshots) {
  auto root = Named("R");
  auto child = Named("C");
  root->AddChild(child);
  child->AddChild(Named("G1"));
  child->AddChild(Named("G2"));
  root->AddChild(Create<TPlain>());
  EXPECT_EQ(root->CountChildren(INodedInterface::IID, false), 1);
  EXPECT_EQ(root->CountChildren(INodedInterface::IID, true), 3);
  EXPECT_EQ(root->CountChildren(IInterface::IID, true), 4);
  auto snapshot = root->GetChildren();
  root->RemoveChild(child);
  EXPECT_EQ(snapshot.size(), 2u);
  EXPECT_EQ(root->GetChildCount(), 1);
  child->ClearTree();
  root->ClearTree();
}

TEST(NodedInterface, RemoveAllChildrenDetachesEveryNodeChild) {
  auto root = Named("R");
  auto a = Named("A");
  auto b = Named("B");
  TTreeLog log;
  log.Watch(root, "R");
  root->AddChild(a);
  root->AddChild(b);
  root->AddChild(Create<TPlain>());  // last, and not a node: it stays
  log.text.clear();
  EXPECT_EQ(root->RemoveAllChildren(), 2);
  EXPECT_EQ(log.text, "-B@1 -A@1 ");
  EXPECT_EQ(root->GetChildCount(), 1);
  EXPECT_FALSE(a->GetParent());
  EXPECT_FALSE(b->GetParent());
}

TEST(NodedInterface, ClearTreeEmptiesEveryLevelAndFreesTheNodes) {
  TCreationWatcher watcher;
  NodeDestroying().Add(Bind<&TCreationWatcher::Destroying>(&watcher));
  auto root = Named("R");
  {
    auto child = Named("C");
    root->AddChild(child);
    child->AddChild(Named("G"));
  }
  root->ClearTree();
  EXPECT_EQ(root->GetChildCount(), 0);
  EXPECT_EQ(watcher.destroyed.size(), 2u);  // parent links no longer keep them alive
  NodeDestroying().Remove(Bind<&TCreationWatcher::Destroying>(&watcher));
}

const char* const kNodeXml =
    R"(<channels><channel name="Line A" enabled="0" GUID="{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"/></channels>)";

TEST(NodedInterfaceXml, LoadsTheBoundElement) {
  auto doc = TXMLDocument::LoadFromXML(kNodeXml);
  auto node = Create<TNodedInterface>(doc.DocumentElement().Child(0));
  EXPECT_EQ(node->GetName(), "Line A");
  EXPECT_FALSE(node->GetEnabled());
  EXPECT_EQ(node->GetGUIDString(), "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
  EXPECT_TRUE(node->GetXMLNode() == doc.DocumentElement().Child(0));
}

TEST(NodedInterfaceXml, SetNameWritesAtOnceSetEnabledOnlyOnSave) {
  auto doc = TXMLDocument::LoadFromXML(kNodeXml);
  TXMLNode element = doc.DocumentElement().Child(0);
  auto node = Create<TNodedInterface>(element);
  node->SetName("Line B");
  EXPECT_EQ(element.GetAttribute("name").ToText(), "Line B");
  node->SetEnabled(true);
  EXPECT_FALSE(element.GetAttribute("enabled").ToBool());
  node->SaveToXML();
  EXPECT_TRUE(element.GetAttribute("enabled").ToBool());
  // What was saved loads back to the same values.
  auto copy = Create<TNodedInterface>(element);
  EXPECT_EQ(copy->GetName(), "Line B");
  EXPECT_TRUE(copy->GetEnabled());
  EXPECT_EQ(copy->GetGUIDString(), node->GetGUIDString());
}

TEST(NodedInterfaceXml, GUIDIsKeptOrReloadedAsAsked) {
  auto doc = TXMLDocument::LoadFromXML(kNodeXml);
  TXMLNode element = doc.DocumentElement().Child(0);
  auto node = Create<TNodedInterface>();
  const std::string own = node->GetGUIDString();
  node->AttachXMLNode(element);  // keeps its GUID
  EXPECT_EQ(node->GetGUIDString(), own);
  EXPECT_EQ(node->GetName(), "Line A");
  node->LoadFromXML(element, false, true);
  EXPECT_EQ(node->GetGUIDString(), "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
}

TEST(NodedInterfaceXml, SavesOnDestructionAndReportsBadValues) {
  auto doc = TXMLDocument::LoadFromXML(
      R"(<c><n GUID="not-a-guid"/><m enabled="perhaps"/><k enabled="True" name="K"/></c>)");
  TXMLNode bad = doc.DocumentElement().Child(0);
  {
    auto node = Create<TNodedInterface>(bad);
    try {
      node->GetGUID();
      ADD_FAILURE();
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), "'not-a-guid' is not a valid GUID value");
    }
    node->SetEnabled(false);
  }
  EXPECT_FALSE(bad.GetAttribute("enabled").ToBool());
  EXPECT_EQ(bad.GetAttribute("name").ToText(), "TNodedInterface");
  EXPECT_ANY_THROW(Create<TNodedInterface>(doc.DocumentElement().Child(1)));
  auto loaded = Create<TNodedInterface>(doc.DocumentElement().Child(2));
  EXPECT_TRUE(loaded->GetEnabled());
  EXPECT_EQ(loaded->GetName(), "K");
}

}  // namespace
