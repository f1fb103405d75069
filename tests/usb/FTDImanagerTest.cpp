// The interface manager: the channel list and its order, and device changes fed directly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "comm/uci_ISerialPortInterface.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"
#include "tests/usb/fake_ftd2xx/FakeFtdi.h"
#include "usb/uci_FTDIdirect.h"
#include "usb/uci_FTDImanager.h"

namespace {

using TChannel = TIntfPtr<ICommunicationInterface>;

// A pseudo-terminal whose slave stands in for a serial port.
class TPty {
 public:
  TPty() {
    FMaster = posix_openpt(O_RDWR | O_NOCTTY);
    if (FMaster >= 0 && grantpt(FMaster) == 0 && unlockpt(FMaster) == 0) FSlave = ptsname(FMaster);
  }
  ~TPty() {
    if (FMaster >= 0) close(FMaster);
  }
  const std::string& Slave() const { return FSlave; }

 private:
  int FMaster = -1;
  std::string FSlave;
};

// Records what the manager's callbacks get.
class TCallbacks {
 public:
  void Arrived(const TChannel& Channel) { ArrivedChannels.push_back(Channel); }
  void Removed(const TChannel& Channel) { RemovedChannels.push_back(Channel); }
  void Attach(TFTDIManager& Manager) {
    Manager.OnChannelArrived = Bind<&TCallbacks::Arrived>(this);
    Manager.OnChannelRemoved = Bind<&TCallbacks::Removed>(this);
  }
  std::vector<TChannel> ArrivedChannels, RemovedChannels;
};

class FTDIManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeFtdi_Reset();
    FPreviousHandler =
        SetMessageHandler([this](const std::string& text) { Messages.push_back(text); });
    // Ports of this machine must not show up: every standard number is mapped away.
    std::string map;
    for (int n = 1; n <= 96; ++n) map += Format("%d=/dev/kvx-no-such-node-%d;", n, n);
    map += Format("5=%s;12=%s;150=%s", Ptys[0].Slave().c_str(), Ptys[1].Slave().c_str(),
                  Ptys[2].Slave().c_str());
    setenv("KVX_COMPORTS", map.c_str(), 1);
  }
  void TearDown() override {
    Manager.OnChannelArrived = {};
    Manager.OnChannelRemoved = {};
    unsetenv("KVX_COMPORTS");
    SetMessageHandler(FPreviousHandler);
    FakeFtdi_Reset();
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    TChannelListLock lock(Manager);
    TChannel channel;
    for (Manager.FirstChannel(channel); channel; Manager.NextChannel(channel))
      names.push_back(channel->GetPortName());
    return names;
  }
  void Change(std::uint32_t Event, std::uint32_t Type, const std::string& Name,
              const TGUID& Guid = GUID_D2XX_DEVICE_CLASS) {
    TDeviceBroadcast record;
    record.DeviceType = Type;
    record.ClassGuid = Guid;
    record.Name = Name;
    Manager.DeviceChange(Event, record);
  }
  static std::string DevicePath(const std::string& Serial) {
    return "\\\\?\\USB#VID_0403&PID_6001#" + Serial + "#" + GUIDToString(GUID_D2XX_DEVICE_CLASS);
  }

  TPty Ptys[3];
  TFTDIManager Manager;
  TCallbacks Callbacks;
  std::vector<std::string> Messages;

 private:
  TMessageHandler FPreviousHandler;
};

TEST_F(FTDIManagerTest, ListHoldsComPortsAscendingThenAdaptersFromTheHighestIndex) {
  FakeFtdi_AddAdapter("U0", "zero", nullptr);
  FakeFtdi_AddAdapter("U1", "one", nullptr);
  FakeFtdi_AddAdapter("U2", "two", nullptr);
  EXPECT_EQ(Manager.RebuildChannels(), 0);
  EXPECT_EQ(Names(), (std::vector<std::string>{"COM5", "COM12", "COM150", "U2", "U1", "U0"}));
  EXPECT_EQ(Manager.ChannelCount(), 6);
  TChannel last;
  Manager.FindChannel("U0", last);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->GetDescription(), "zero");
  EXPECT_TRUE(Messages.empty());
}

TEST_F(FTDIManagerTest, PortHeldByAnotherProgramIsStillListed) {
  const int fd = open(Ptys[1].Slave().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Manager.RebuildChannels(), 0);
  close(fd);
  EXPECT_EQ(Names(), (std::vector<std::string>{"COM5", "COM12", "COM150"}));
}

TEST_F(FTDIManagerTest, WithoutTheDriverOnlyComPortsAndNoMessage) {
  FakeFtdi_AddAdapter("U0", "", nullptr);
  FakeFtdi_FailEntry("FT_ListDevices", kFTNotAvailable);  // what a missing library answers
  EXPECT_EQ(Manager.RebuildChannels(), -1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"COM5", "COM12", "COM150"}));
  EXPECT_TRUE(Messages.empty());
}

TEST_F(FTDIManagerTest, FailedDeviceCountIsReportedAndComPortsStay) {
  FakeFtdi_FailEntry("FT_ListDevices", FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(Manager.RebuildChannels(), -1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"COM5", "COM12", "COM150"}));
  EXPECT_EQ(Messages, std::vector<std::string>{"GetFTDeviceCount - Device Not Found...."});
}

TEST_F(FTDIManagerTest, RebuildReplacesTheList) {
  FakeFtdi_AddAdapter("U0", "", nullptr);
  Manager.RebuildChannels();
  Change(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT, "COM7");
  EXPECT_EQ(Manager.ChannelCount(), 5);
  Manager.RebuildChannels();
  EXPECT_EQ(Names(), (std::vector<std::string>{"COM5", "COM12", "COM150", "U0"}));
}

TEST_F(FTDIManagerTest, CursorOnEmptyListAndPastTheEnd) {
  TChannel channel = Create<TFTDIDevice>(std::string("X"), std::string());
  Manager.FirstChannel(channel);
  EXPECT_FALSE(channel);
  Manager.NextChannel(channel);
  EXPECT_FALSE(channel);
  Change(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT, "COM7");
  Manager.FirstChannel(channel);
  ASSERT_TRUE(channel);
  Manager.NextChannel(channel);
  EXPECT_FALSE(channel);
}

TEST_F(FTDIManagerTest, FindChannelIsCaseSensitive) {
  Change(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, DevicePath("ab12"));
  TChannel channel;
  Manager.FindChannel("ab12", channel);
  EXPECT_TRUE(channel);
  Manager.FindChannel("AB12", channel);
  EXPECT_FALSE(channel);
}

TEST_F(FTDIManagerTest, ArrivalOfAListedSerialMarksItPresentAndAddsNothing) {
  FakeFtdi_AddAdapter("U0", "", nullptr);
  Manager.RebuildChannels();
  Callbacks.Attach(Manager);
  TChannel listed;
  Manager.FindChannel("U0", listed);
  ASSERT_TRUE(listed);
  EXPECT_FALSE(listed->GetPresent());
  Change(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, DevicePath("U0"));
  EXPECT_TRUE(listed->GetPresent());
  EXPECT_EQ(Manager.ChannelCount(), 4);
  ASSERT_EQ(Callbacks.ArrivedChannels.size(), 1u);
  EXPECT_TRUE(SameObject(Callbacks.ArrivedChannels[0], listed));
}

TEST_F(FTDIManagerTest, ArrivalOfANewComPortAddsAComChannel) {
  Callbacks.Attach(Manager);
  Change(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT, "COM7");
  ASSERT_EQ(Manager.ChannelCount(), 1);
  ASSERT_EQ(Callbacks.ArrivedChannels.size(), 1u);
  const TChannel& channel = Callbacks.ArrivedChannels[0];
  EXPECT_EQ(channel->GetPortName(), "COM7");
  EXPECT_TRUE(channel.Query<ISerialPortInterface>());
  EXPECT_FALSE(channel.Query<IFTDISerialPortInterface>());
}

TEST_F(FTDIManagerTest, ArrivalOfANewAdapterAddsAUsbChannelBySerialNumber) {
  Callbacks.Attach(Manager);
  Change(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, DevicePath("FT99"));
  ASSERT_EQ(Callbacks.ArrivedChannels.size(), 1u);
  auto usb = Callbacks.ArrivedChannels[0].Query<IFTDISerialPortInterface>();
  ASSERT_TRUE(usb);
  EXPECT_EQ(usb->GetSerialNumber(), "FT99");
  EXPECT_EQ(usb->GetDeviceIndex(), -1);
  EXPECT_EQ(usb->GetDeviceDescription(), "");
}

TEST_F(FTDIManagerTest, RemovalMarksAbsentClosesAndKeepsTheEntry) {
  FakeFtdi_AddAdapter("U0", "", nullptr);
  Manager.RebuildChannels();
  Callbacks.Attach(Manager);
  TChannel listed;
  Manager.FindChannel("U0", listed);
  ASSERT_TRUE(listed->Open());
  listed->SetPresent(true);
  Change(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, DevicePath("U0"));
  EXPECT_FALSE(listed->GetPresent());
  EXPECT_FALSE(listed->GetActive());
  EXPECT_EQ(Manager.ChannelCount(), 4);
  ASSERT_EQ(Callbacks.RemovedChannels.size(), 1u);
  EXPECT_TRUE(SameObject(Callbacks.RemovedChannels[0], listed));
}

TEST_F(FTDIManagerTest, EveryPortOfATwoPortChipComesAndGoesWithItsSerialNumber) {
  FakeFtdi_AddAdapter("FT7A", "Dual RS232-HS A", nullptr);
  FakeFtdi_AddAdapter("FT7B", "Dual RS232-HS B", nullptr);
  Manager.RebuildChannels();
  Callbacks.Attach(Manager);
  Change(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, DevicePath("FT7"));
  ASSERT_EQ(Callbacks.RemovedChannels.size(), 2u);
  EXPECT_EQ(Callbacks.RemovedChannels[0]->GetPortName(), "FT7B");
  EXPECT_EQ(Callbacks.RemovedChannels[1]->GetPortName(), "FT7A");
  Change(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, DevicePath("FT7"));
  ASSERT_EQ(Callbacks.ArrivedChannels.size(), 2u);
  EXPECT_TRUE(Callbacks.ArrivedChannels[0]->GetPresent());
  EXPECT_EQ(Manager.ChannelCount(), 5);  // three ports and the two adapter ports

  // A chip plugged in for the first time brings every port the driver lists for it.
  FakeFtdi_AddAdapter("FT8A", "Dual RS232-HS A", nullptr);
  FakeFtdi_AddAdapter("FT8B", "Dual RS232-HS B", nullptr);
  Change(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, DevicePath("FT8"));
  ASSERT_EQ(Callbacks.ArrivedChannels.size(), 4u);
  EXPECT_EQ(Callbacks.ArrivedChannels[2]->GetPortName(), "FT8A");
  EXPECT_EQ(Callbacks.ArrivedChannels[3]->GetPortName(), "FT8B");
  EXPECT_EQ(Manager.ChannelCount(), 7);
}

TEST_F(FTDIManagerTest, AnAdapterLeavesWithItsOwnPortsOnly) {
  // Serial numbers plugged in, one plugged in afterwards, the one that leaves, the ports that
  // must arrive and leave with it.
  const struct {
    std::vector<const char*> Plugged;
    const char* Leaving;
    std::vector<std::string> Removed;
    const char* Arriving = nullptr;
    std::vector<std::string> Arrived = {};
  } cases[] = {
      {{"FT9", "FT9A"}, "FT9", {"FT9"}},           {{"FT9A", "FT9"}, "FT9", {"FT9"}},
      {{"FT9A", "FT9B"}, "FT9", {"FT9B", "FT9A"}}, {{"FT9", "FT9AB"}, "FT9", {"FT9"}},
      {{"FT9A"}, "FT9", {"FT9"}, "FT9", {"FT9"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Plugged.front() + std::string(" ") + c.Plugged.back());
    FakeFtdi_Reset();
    for (const char* serial : c.Plugged) FakeFtdi_AddAdapter(serial, "", nullptr);
    Manager.RebuildChannels();
    Callbacks = {};
    Callbacks.Attach(Manager);
    if (c.Arriving) {
      FakeFtdi_AddAdapter(c.Arriving, "", nullptr);
      Change(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, DevicePath(c.Arriving));
    }
    std::vector<std::string> arrived;
    for (const auto& channel : Callbacks.ArrivedChannels) arrived.push_back(channel->GetPortName());
    EXPECT_EQ(arrived, c.Arrived);
    Change(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, DevicePath(c.Leaving));
    std::vector<std::string> removed;
    for (const auto& channel : Callbacks.RemovedChannels)
      removed.push_back(channel ? channel->GetPortName() : "(none)");
    EXPECT_EQ(removed, c.Removed);
  }
}

TEST_F(FTDIManagerTest, RemovalOfAnUnknownNameReportsNoChannel) {
  Callbacks.Attach(Manager);
  Change(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT, "COM42");
  ASSERT_EQ(Callbacks.RemovedChannels.size(), 1u);
  EXPECT_FALSE(Callbacks.RemovedChannels[0]);
  EXPECT_EQ(Manager.ChannelCount(), 0);
}

TEST_F(FTDIManagerTest, OtherInterfaceClassesTypesAndEventsAreIgnored) {
  Callbacks.Attach(Manager);
  const TGUID other = TGUID::FromText("{A5DCBF10-6530-11D2-901F-00C04FB951ED}");
  Change(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, DevicePath("U0"), other);
  Change(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, DevicePath("U0"), other);
  Change(DBT_DEVICEARRIVAL, 2, "COM3");     // a volume, say
  Change(0x8001, DBT_DEVTYP_PORT, "COM3");  // a query, not an arrival
  EXPECT_TRUE(Callbacks.ArrivedChannels.empty());
  EXPECT_TRUE(Callbacks.RemovedChannels.empty());
  EXPECT_EQ(Manager.ChannelCount(), 0);
}

TEST_F(FTDIManagerTest, DevicePathWithoutSerialPartIsReportedAndChangesNothing) {
  Callbacks.Attach(Manager);
  Change(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, "\\\\?\\USB#VID_0403");
  EXPECT_EQ(Messages, std::vector<std::string>{
                          "Device path '\\\\?\\USB#VID_0403' has no serial number part"});
  EXPECT_TRUE(Callbacks.ArrivedChannels.empty());
  EXPECT_EQ(Manager.ChannelCount(), 0);
}

// A callback may use the manager again: the list lock is recursive.
class TReentrant {
 public:
  explicit TReentrant(TFTDIManager& Manager) : FManager(Manager) {}
  void Arrived(const TChannel& Channel) {
    TChannel found;
    FManager.FindChannel(Channel->GetPortName(), found);
    FoundItself = SameObject(found, Channel);
    Count = FManager.ChannelCount();
  }
  bool FoundItself = false;
  std::int32_t Count = -1;

 private:
  TFTDIManager& FManager;
};

TEST_F(FTDIManagerTest, CallbacksRunUnderTheLockAndMayCallBack) {
  TReentrant reentrant(Manager);
  Manager.OnChannelArrived = Bind<&TReentrant::Arrived>(&reentrant);
  TChannelListLock lock(Manager);  // as a search holds it
  Change(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT, "COM9");
  EXPECT_TRUE(reentrant.FoundItself);
  EXPECT_EQ(reentrant.Count, 1);
}

}  // namespace
