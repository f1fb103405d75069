#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "comm/uMethod.h"
#include "comm/ui_MyInterfacedObject.h"

namespace {

class IThing : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::FromText("{11111111-2222-3333-4444-555555555555}");
  virtual int Value() = 0;

 protected:
  ~IThing() = default;
};

class IOther : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::FromText("{66666666-7777-8888-9999-AAAAAAAAAAAA}");

 protected:
  ~IOther() = default;
};

struct TCountLog {
  std::vector<int> Hooks;  // +n after AddRef, -n after Release
  int Destroyed = 0;
  int AddRefInConstructor = 0;
};

enum class TAbuse { None, HandOutInConstructor, ReferenceInDestructor, FailAfterConstruction };

class TThing : public TMyInterfacedObject, public IThing {
 public:
  TThing(TCountLog& log, TAbuse abuse) : log_(log), abuse_(abuse) {
    if (abuse_ == TAbuse::HandOutInConstructor) {
      // Listeners take and drop references while the object is being built.
      for (int i = 0; i < 3; ++i) {
        TIntfPtr<IThing> listener(this);
        log_.AddRefInConstructor = RefCount();
      }
    }
  }
  ~TThing() override {
    if (abuse_ == TAbuse::ReferenceInDestructor) {
      TIntfPtr<IThing> again(this);
      EXPECT_EQ(again->Value(), 7);
    }
    ++log_.Destroyed;
  }
  int Value() override { return 7; }

 protected:
  void AfterAddRef(std::int32_t count) override { log_.Hooks.push_back(count); }
  void AfterRelease(std::int32_t count) override { log_.Hooks.push_back(-count); }
  void* FindInterface(const TGUID& iid) override {
    if (iid == IThing::IID) return static_cast<IThing*>(this);
    return TMyInterfacedObject::FindInterface(iid);
  }
  void AfterConstruction() override {
    if (abuse_ == TAbuse::FailAfterConstruction) throw std::runtime_error("cannot finish");
  }

 private:
  TCountLog& log_;
  TAbuse abuse_;
};

TEST(InterfacedObject, FreshObjectHasCountZeroAndFirstAddRefReturnsOne) {
  TCountLog log;
  TThing* thing = Construct<TThing>(log, TAbuse::None);
  EXPECT_EQ(thing->RefCount(), 0);
  EXPECT_EQ(thing->AddRef(), 1);
  EXPECT_EQ(thing->AddRef(), 2);
  EXPECT_EQ(thing->Release(), 1);
  EXPECT_EQ(log.Destroyed, 0);
  EXPECT_EQ(thing->Release(), 0);
  EXPECT_EQ(log.Destroyed, 1);
  EXPECT_EQ(log.Hooks, (std::vector<int>{1, 2, -1, 0}));
}

TEST(InterfacedObject, ReferencesTakenDuringConstructionDoNotDestroyIt) {
  TCountLog log;
  TThing* thing = Construct<TThing>(log, TAbuse::HandOutInConstructor);
  EXPECT_EQ(log.AddRefInConstructor, 2);  // the guard's 1 plus the listener's
  EXPECT_EQ(log.Destroyed, 0);
  EXPECT_EQ(thing->RefCount(), 0);
  TIntfPtr<IThing> held(thing);
  EXPECT_EQ(thing->RefCount(), 1);
  held.Reset();
  EXPECT_EQ(log.Destroyed, 1);
}

TEST(InterfacedObject, ReferenceTakenDuringDestructionDoesNotDestroyTwice) {
  TCountLog log;
  {
    auto thing = Create<TThing>(log, TAbuse::ReferenceInDestructor);
    log.Hooks.clear();
  }
  EXPECT_EQ(log.Destroyed, 1);
  // The last release reports 0; the destructor's own reference goes 1 and back to 0.
  EXPECT_EQ(log.Hooks, (std::vector<int>{0, 1, 0}));
}

TEST(InterfacedObject, FailureAfterConstructionDestroysAndPassesTheErrorOn) {
  TCountLog log;
  EXPECT_THROW(Create<TThing>(log, TAbuse::FailAfterConstruction), std::runtime_error);
  EXPECT_EQ(log.Destroyed, 1);
}

TEST(InterfacedObject, QueryInterfaceCountsOnSuccessAndClearsOnFailure) {
  TCountLog log;
  auto thing = Create<TThing>(log, TAbuse::None);
  void* obj = reinterpret_cast<void*>(1);
  EXPECT_EQ(thing->QueryInterface(IOther::IID, &obj), E_NOINTERFACE);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(thing->RefCount(), 1);
  ASSERT_EQ(thing->QueryInterface(IThing::IID, &obj), S_OK);
  EXPECT_EQ(thing->RefCount(), 2);
  auto adopted = TIntfPtr<IThing>::Adopt(static_cast<IThing*>(obj));
  EXPECT_EQ(adopted->Value(), 7);
  EXPECT_FALSE(thing.Query<IOther>());
  auto base = thing.Query<IInterface>();
  EXPECT_TRUE(SameObject(base, adopted));
  EXPECT_EQ(thing->RefCount(), 3);
}

TEST(InterfacedObject, SmartReferenceCopiesMovesAndResets) {
  TCountLog log;
  auto a = Create<TThing>(log, TAbuse::None);
  TIntfPtr<IThing> b = a;
  EXPECT_EQ(a->RefCount(), 2);
  TIntfPtr<IThing> c = std::move(b);
  EXPECT_FALSE(b);
  EXPECT_EQ(a->RefCount(), 2);
  c = a;  // self-assignment of the same object keeps the count
  EXPECT_EQ(a->RefCount(), 2);
  TIntfPtr<IInterface> d = c;  // upcast takes its own reference
  EXPECT_EQ(a->RefCount(), 3);
  c.Reset();
  d.Reset();
  EXPECT_EQ(a->RefCount(), 1);
  a.Reset();
  EXPECT_EQ(log.Destroyed, 1);
}

TEST(GUID, TextRoundTripAndErrors) {
  const TGUID guid = StringToGUID("{dd03f488-8a5f-4757-98c3-8c2f2f38bef4}");
  EXPECT_EQ(GUIDToString(guid), "{DD03F488-8A5F-4757-98C3-8C2F2F38BEF4}");
  EXPECT_EQ(guid, TGUID::FromText("{DD03F488-8A5F-4757-98C3-8C2F2F38BEF4}"));
  for (const char* bad :
       {"", "DD03F488-8A5F-4757-98C3-8C2F2F38BEF4", "{DD03F488-8A5F-4757-98C3-8C2F2F38BEF}",
        "{DD03F488+8A5F-4757-98C3-8C2F2F38BEF4}", "{GD03F488-8A5F-4757-98C3-8C2F2F38BEF4}"}) {
    try {
      StringToGUID(bad);
      ADD_FAILURE() << bad;
    } catch (const std::exception& e) {
      EXPECT_EQ(e.what(), "'" + std::string(bad) + "' is not a valid GUID value");
    }
  }
  EXPECT_NE(NewGUID(), NewGUID());
}

class TListener {
 public:
  void OnValue(int v) { sum += v; }
  void OnOther(int v) { sum -= v; }
  int Twice(int v) const { return 2 * v; }
  int sum = 0;
};

TEST(Method, EqualityNeedsSameObjectAndSameFunction) {
  TListener a, b;
  const auto m1 = Bind<&TListener::OnValue>(&a);
  EXPECT_EQ(m1, Bind<&TListener::OnValue>(&a));
  EXPECT_FALSE(m1 == Bind<&TListener::OnValue>(&b));
  EXPECT_FALSE(m1 == Bind<&TListener::OnOther>(&a));
  EXPECT_EQ(TMethod<void(int)>(), TMethod<void(int)>());
  EXPECT_FALSE(m1 == TMethod<void(int)>());
}

TEST(Method, CallsTheBoundObjectAndRefusesWhenEmpty) {
  TListener a;
  Bind<&TListener::OnValue> (&a)(5);
  Bind<&TListener::OnOther> (&a)(2);
  EXPECT_EQ(a.sum, 3);
  EXPECT_EQ(Bind<&TListener::Twice>(&a)(21), 42);
  TMethod<void(int)> empty;
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_THROW(empty(1), std::bad_function_call);
}

}  // namespace
