#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <typeindex>

#include "comm/uci_ICommunicationInterface.h"
#include "sim/uInProcessChannel.h"
#include "sim/uScriptedPeer.h"
#include "support/uXmlDocument.h"

namespace {

using namespace std::chrono_literals;

// The in-process channel with the notification raisers opened up and Open/Close counted.
class TProbeChannel : public TInProcessChannel {
 public:
  using TCommunicationInterface::DoClosed;
  using TCommunicationInterface::DoDataReceived;
  using TCommunicationInterface::DoModemLineChange;
  using TCommunicationInterface::DoOpened;
  using TCommunicationInterface::DoSettingsChanged;
  using TInProcessChannel::TInProcessChannel;
  bool Open() override {
    ++opens;
    return TInProcessChannel::Open();
  }
  bool Close(bool Force) override {
    ++closes;
    return TInProcessChannel::Close(Force);
  }
  int opens = 0, closes = 0;
};

// A kind that provides only what the base leaves abstract.
class TBareChannel : public TCommunicationInterface {
 public:
  bool GetActive() override { return false; }
  std::int32_t Write(const std::string& Data) override {
    return static_cast<std::int32_t>(Data.size());
  }
  std::int32_t InputCount() override { return 0; }
  std::string GetPortName() override { return "BARE"; }
};

// Appends "<tag><line><state>" to a shared log for every notification it gets.
class TNotifyLog {
 public:
  TNotifyLog(std::string& log, std::string tag) : log_(log), tag_(std::move(tag)) {}
  void Notify(const TIntfPtr<ICommunicationInterface>& channel) {
    log_ += tag_ + (channel ? "" : "!") + " ";
    if (throws) throw std::runtime_error("listener failed");
  }
  void Line(const TIntfPtr<ICommunicationInterface>&, std::int32_t line, bool state) {
    log_ += tag_ + std::to_string(line) + (state ? "1" : "0") + " ";
    if (throws) throw std::runtime_error("listener failed");
  }
  TCiNotify N() { return Bind<&TNotifyLog::Notify>(this); }
  TCiNotifyChangeEvent L() { return Bind<&TNotifyLog::Line>(this); }
  bool throws = false;

 private:
  std::string& log_;
  std::string tag_;
};

// An interface no channel implements.
class INever : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::FromText("{00000001-0000-0000-0000-000000000000}");

 protected:
  ~INever() = default;
};

struct ChannelTest : testing::Test {
  std::shared_ptr<TScriptedPeer> peer = std::make_shared<TScriptedPeer>();
  TIntfPtr<TProbeChannel> channel = Create<TProbeChannel>("SIM1", peer);
  std::string log;
  TNotifyLog handler{log, "h"}, list{log, "l"};
};

TEST_F(ChannelTest, SetActiveOnlyActsOnAChange) {
  EXPECT_FALSE(channel->SetActive(false));
  EXPECT_EQ(channel->closes, 0);
  EXPECT_TRUE(channel->SetActive(true));
  EXPECT_EQ(channel->opens, 1);
  EXPECT_TRUE(channel->SetActive(true));
  EXPECT_EQ(channel->opens, 1);
  EXPECT_TRUE(channel->SetActive(false));
  EXPECT_EQ(channel->closes, 1);
  EXPECT_FALSE(channel->GetActive());
}

TEST_F(ChannelTest, OpenedAndClosedRaiseListThenHandler) {
  channel->SetOnOpened(handler.N());
  channel->GetOpenedEvents().Add(list.N());
  channel->SetOnClosed(handler.N());
  channel->GetClosedEvents().Add(list.N());
  EXPECT_EQ(channel->GetOnOpened(), handler.N());
  EXPECT_EQ(channel->GetOnClosed(), handler.N());
  channel->Open();
  channel->Open();  // already open: no second notification
  channel->Close(false);
  EXPECT_EQ(log, "l h l h ");
}

TEST_F(ChannelTest, DataReceivedRaisesHandlerThenListAndAFailingHandlerSkipsTheList) {
  channel->SetOnDataReceived(handler.N());
  channel->GetDataReceivedEvents().Add(list.N());
  channel->DoDataReceived();
  EXPECT_EQ(log, "h l ");
  log.clear();
  handler.throws = true;
  EXPECT_NO_THROW(channel->DoDataReceived());
  EXPECT_EQ(log, "h ");
}

TEST_F(ChannelTest, ModemLineAndSettingsNotifications) {
  channel->SetOnModemLineChange(handler.L());
  channel->GetModemLineEvents().Add(list.L());
  EXPECT_EQ(channel->GetOnModemLineChange(), handler.L());
  channel->DoModemLineChange(MODEM_LINE_DSR, true);
  EXPECT_EQ(log, "l31 h31 ");
  log.clear();
  channel->GetSettingsChangedEvents().Add(list.N());
  channel->SetConnectionString("baudrate=19200");
  EXPECT_EQ(log, "l ");
}

TEST_F(ChannelTest, FailingListenersNeverReachTheChannel) {
  list.throws = true;
  handler.throws = true;
  channel->GetOpenedEvents().Add(list.N());
  channel->SetOnOpened(handler.N());
  channel->GetModemLineEvents().Add(list.L());
  EXPECT_TRUE(channel->Open());
  EXPECT_NO_THROW(channel->DoModemLineChange(MODEM_LINE_RING, false));
  EXPECT_EQ(log, "l h l40 ");
}

TEST_F(ChannelTest, NotificationsWithoutListenersDoNothing) {
  EXPECT_NO_THROW(channel->DoOpened());
  EXPECT_NO_THROW(channel->DoClosed());
  EXPECT_NO_THROW(channel->DoDataReceived());
  EXPECT_NO_THROW(channel->DoModemLineChange(0, true));
  EXPECT_NO_THROW(channel->DoSettingsChanged());
  channel->SetOnOpened(TCiNotify());
  EXPECT_TRUE(channel->GetOnOpened().IsEmpty());
}

TEST_F(ChannelTest, ClosedChannelDoesNothing) {
  std::string data = "x";
  EXPECT_EQ(channel->Write("abc"), 0);
  channel->Read(data);
  EXPECT_EQ(data, "");
  EXPECT_EQ(channel->InputCount(), 0);
  EXPECT_EQ(peer->RequestCount(), 0u);
  EXPECT_FALSE(channel->Close(false));
}

TEST_F(ChannelTest, BufferedReads) {
  channel->Open();
  peer->Send("ABCDEF");
  std::string data = "junk";
  EXPECT_EQ(channel->BufferedCount(false), 0);
  channel->ReadBuffered(0, data);
  EXPECT_EQ(data, "");
  EXPECT_EQ(channel->BufferedCount(false), 6);
  channel->PeekBuffered(3, data);
  EXPECT_EQ(data, "ABC");
  channel->PeekBuffered(3, data);
  EXPECT_EQ(data, "ABC");
  channel->ReadBuffered(2, data);
  EXPECT_EQ(data, "AB");
  peer->Send("GH");
  EXPECT_EQ(channel->BufferedCount(true), 6);
  channel->PeekBuffered(-1, data);
  EXPECT_EQ(data, "CDEFGH");
  channel->ReadBuffered(-1, data);
  EXPECT_EQ(data, "CDEFGH");
  EXPECT_EQ(channel->BufferedCount(true), 0);
  peer->Send("IJ");
  channel->ReadBuffered(5, data);  // at least the buffer length: all of it
  EXPECT_EQ(data, "IJ");
}

TEST_F(ChannelTest, ConnectionStringAtCreationUsesTheKindsOwnSettings) {
  auto fast = Create<TInProcessChannel>("SIM2", peer, "BaudRate = 9600");
  EXPECT_EQ(fast->GetBaudRate(), 9600u);
  EXPECT_NEAR(fast->GetCharTime(), 10000.0 / 9600, 1e-9);
  EXPECT_EQ(fast->GetConnectionString(), "baudrate=9600");
  EXPECT_EQ(channel->GetCharTime(), 0.0);
  EXPECT_EQ(channel->GetPortName(), "SIM1");
  EXPECT_EQ(channel->GetDescription(), "SIM1");
  EXPECT_EQ(channel->GetName(), "TProbeChannel");
}

TEST_F(ChannelTest, BadSpeedIsRefusedAndChangesNothing) {
  channel->SetBaudRate(1200);
  for (const char* bad : {"baudrate=fast", "baudrate=", "baudrate=-5", "baudrate=99999999999"})
    EXPECT_THROW(channel->SetConnectionString(bad), std::exception) << bad;
  EXPECT_THROW(channel->SetConnectionString("baudrate=300;baudrate=x"), std::exception);
  EXPECT_EQ(channel->GetBaudRate(), 1200u);
  EXPECT_THROW(Create<TInProcessChannel>("SIM3", peer, "baudrate=abc"), std::exception);
  channel->SetConnectionString("parity=none;baudrate=2400");
  EXPECT_EQ(channel->GetBaudRate(), 2400u);
}

TEST_F(ChannelTest, BaseDefaultsOfTheContract) {
  auto bare = Create<TBareChannel>();
  EXPECT_FALSE(bare->Open());
  EXPECT_EQ(bare->GetCharTime(), 10.0);
  EXPECT_FALSE(bare->Close(true));
  EXPECT_EQ(bare->GetConnectionString(), "");
  EXPECT_FALSE(bare->HasSettingsDialog());
  EXPECT_FALSE(bare->ShowSettingsDialog());
  EXPECT_FALSE(bare->GetPresent());
  bare->SetPresent(true);
  EXPECT_TRUE(bare->GetPresent());
  EXPECT_EQ(bare->GetDescription(), "BARE");
}

TEST_F(ChannelTest, InterfacesOfAChannel) {
  auto asChannel = TIntfPtr<TProbeChannel>(channel).Query<ICommunicationInterface>();
  auto asCore = asChannel.Query<ICommunicationInterfaceCore>();
  auto asNode = asChannel.Query<INodedInterface>();
  ASSERT_TRUE(asChannel && asCore && asNode);
  EXPECT_TRUE(SameObject(asCore, asNode));
  EXPECT_TRUE(asNode.Query<INodedInterfaceCore>());

  EXPECT_FALSE(asChannel.Query<INever>());
}

TEST_F(ChannelTest, TryLockFromAnotherThreadFailsWhileHeld) {
  channel->Lock();
  EXPECT_TRUE(channel->TryLock());  // the holder may take it again
  bool other = true;
  std::thread([&] { other = channel->TryLock(); }).join();
  EXPECT_FALSE(other);
  channel->Unlock();
  channel->Unlock();
  std::thread([&] {
    other = channel->TryLock();
    if (other) channel->Unlock();
  }).join();
  EXPECT_TRUE(other);
}

TEST(ChannelXml, LoadsAndSavesTheConnectionString) {
  auto doc = TXMLDocument::LoadFromXML(
      R"(<c><ch name="Bench" enabled="1" GUID="{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}" connectionstring="baudrate=19200"/></c>)");
  TXMLNode element = doc.DocumentElement().Child(0);
  auto parent = Create<TNodedInterface>();
  {
    auto peer = std::make_shared<TScriptedPeer>();
    auto channel = Create<TInProcessChannel>("SIM1", peer, element, parent);
    EXPECT_EQ(channel->GetName(), "Bench");
    EXPECT_EQ(channel->GetGUIDString(), "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    EXPECT_EQ(channel->GetBaudRate(), 19200u);
    EXPECT_TRUE(SameObject(channel->GetParent(), parent));
    channel->SetBaudRate(4800);
    channel->SaveToXML();
    EXPECT_EQ(element.GetAttribute("connectionstring").ToText(), "baudrate=4800");
    channel->SetBaudRate(600);
    parent->RemoveChild(channel);
  }
  // The last reference went: the channel saved itself, connection string included.
  EXPECT_EQ(element.GetAttribute("connectionstring").ToText(), "baudrate=600");
}

class TRegistryProbe {};

TEST(ChannelClassRegistry, KeepsOrderAndRemovesTheFirstMatch) {
  const auto before = RegisteredChannelClasses().size();
  EXPECT_TRUE(RegisterChannelClass(typeid(TRegistryProbe), "PROBE_A"));
  EXPECT_TRUE(RegisterChannelClass(typeid(TInProcessChannel), "IN_PROCESS"));
  EXPECT_TRUE(RegisterChannelClass(typeid(TRegistryProbe), "PROBE_B"));
  auto classes = RegisteredChannelClasses();
  ASSERT_EQ(classes.size(), before + 3);
  EXPECT_EQ(classes[before].first, "PROBE_A");
  EXPECT_EQ(classes[before + 1].second, std::type_index(typeid(TInProcessChannel)));
  EXPECT_TRUE(UnregisterChannelClass(typeid(TRegistryProbe)));
  classes = RegisteredChannelClasses();
  EXPECT_EQ(classes[before].first, "IN_PROCESS");
  EXPECT_EQ(classes[before + 1].first, "PROBE_B");
  EXPECT_TRUE(UnregisterChannelClass(typeid(TRegistryProbe)));
  EXPECT_FALSE(UnregisterChannelClass(typeid(TRegistryProbe)));
  EXPECT_TRUE(UnregisterChannelClass(typeid(TInProcessChannel)));
  EXPECT_EQ(RegisteredChannelClasses().size(), before);
}

}  // namespace
