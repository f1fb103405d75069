// The USB path end to end: the manager lists an adapter of the fake driver library with a
// simulated module behind it, and the module protocol reads the module through that channel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "protocol/uKVXxxCommands.h"
#include "sim/uKvxSimModule.h"
#include "sim/uKvxTransactor.h"
#include "support/uStringUtils.h"
#include "tests/usb/fake_ftd2xx/FakeFtdi.h"
#include "usb/uci_FTDIdirect.h"
#include "usb/uci_FTDImanager.h"

namespace {

class UsbDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeFtdi_Reset();
    // No COM port of this machine in the list.
    std::string map;
    for (int n = 1; n <= 96; ++n) map += Format("%d=/dev/kvx-no-such-node-%d;", n, n);
    setenv("KVX_COMPORTS", map.c_str(), 1);
    FakeFtdi_AddAdapter("KVX0001", "KVX DAZAZE", Module.get());
  }
  void TearDown() override {
    unsetenv("KVX_COMPORTS");
    FakeFtdi_Reset();
  }

  TIntfPtr<ICommunicationInterface> ListedAdapter() {
    EXPECT_EQ(Manager.RebuildChannels(), 0);
    TIntfPtr<ICommunicationInterface> channel;
    Manager.FirstChannel(channel);
    return channel;
  }

  TKvxSimState State = KvxSimFactoryState(mtUSB, 4711);
  std::shared_ptr<TKvxSimModule> Module = std::make_shared<TKvxSimModule>(State);
  TFTDIManager Manager;
};

TEST_F(UsbDownloadTest, ModuleIsFoundOnlyAtItsSpeed) {
  auto channel = ListedAdapter();
  ASSERT_TRUE(channel);
  EXPECT_EQ(channel->GetPortName(), "KVX0001");
  EXPECT_EQ(channel->GetDescription(), "KVX DAZAZE");
  channel->SetConnectionString(Format("baudrate=%u", kSpeedCodes[State.SpeedCode]));
  ASSERT_TRUE(channel->Open());
  EXPECT_TRUE(CheckDevice(channel));
  channel->SetConnectionString("baudrate=230400");
  EXPECT_TRUE(channel->GetActive());
  EXPECT_FALSE(CheckDevice(channel));
  EXPECT_TRUE(channel->Close(false));
}

TEST_F(UsbDownloadTest, FullDownloadMatchesTheSimulatedModule) {
  auto channel = ListedAdapter();
  ASSERT_TRUE(channel);
  channel->SetConnectionString(Format("baudrate=%u", kSpeedCodes[State.SpeedCode]));
  ASSERT_TRUE(channel->Open());
  TKVXChannelTransactor transactor(channel);
  TKVXrec rec;
  ASSERT_TRUE(KvxDownloadParams(rec, transactor.Method()));
  EXPECT_EQ(rec.ModuleType, State.Model);
  EXPECT_EQ(rec.Ident.TypeText, State.TypeText);
  EXPECT_EQ(rec.Ident.UserData, Trim(State.UserData));
  EXPECT_EQ(rec.Ident.Address, State.Address);
  EXPECT_EQ(rec.Ident.SpeedCode, State.SpeedCode);
  EXPECT_EQ(rec.Ident.Production.SerialNumber, 4711);
  for (int ch = 1; ch <= kChannelCount; ++ch) {
    EXPECT_EQ(rec.Setup[ch], State.Channels[ch].Setup) << "channel " << ch;
    EXPECT_EQ(rec.Watch[ch], State.Channels[ch].Watch) << "channel " << ch;
  }
  EXPECT_EQ(ReadMeasurements(channel).size(), 4u * 18u);
  EXPECT_TRUE(channel->Close(false));
}

TEST_F(UsbDownloadTest, PulledOutAdapterEndsTheExchangeAndClosesTheChannel) {
  auto channel = ListedAdapter();
  channel->SetConnectionString(Format("baudrate=%u", kSpeedCodes[State.SpeedCode]));
  ASSERT_TRUE(channel->Open());
  FakeFtdi_Unplug("KVX0001");
  EXPECT_FALSE(CheckDevice(channel));
  EXPECT_FALSE(channel->GetActive());
  TDeviceBroadcast record;
  record.DeviceType = DBT_DEVTYP_DEVICEINTERFACE;
  record.ClassGuid = GUID_D2XX_DEVICE_CLASS;
  record.Name = "\\\\?\\USB#VID_0403&PID_6001#KVX0001#" + GUIDToString(GUID_D2XX_DEVICE_CLASS);
  Manager.DeviceChange(DBT_DEVICEREMOVECOMPLETE, record);
  EXPECT_FALSE(channel->GetPresent());
  FakeFtdi_Plug("KVX0001");
  Manager.DeviceChange(DBT_DEVICEARRIVAL, record);
  EXPECT_TRUE(channel->GetPresent());
  EXPECT_EQ(Manager.ChannelCount(), 1);
  ASSERT_TRUE(channel->Open());
  EXPECT_TRUE(CheckDevice(channel));
  EXPECT_TRUE(channel->Close(false));
}

}  // namespace
