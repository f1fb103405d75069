// Device events turned into the manager's notifications, and their effect on the manager.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "tests/serial/SerialTestUtils.h"
#include "usb/uDeviceChange.h"
#include "usb/uci_FTDImanager.h"

namespace {

class DeviceChangeTest : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("KVX_COMPORTS"); }
  void TearDown() override { unsetenv("KVX_COMPORTS"); }

  static TUdevEvent Tty(const char* Action, const char* Node, const char* Links = "") {
    TUdevEvent e;
    e.Action = Action;
    e.Subsystem = "tty";
    e.DevNode = Node;
    if (*Links) e.Properties["DEVLINKS"] = Links;
    return e;
  }
  static TUdevEvent Usb(const char* Action, std::map<std::string, std::string> Properties) {
    TUdevEvent e;
    e.Action = Action;
    e.Subsystem = "usb";
    e.DevType = "usb_device";
    e.Properties = std::move(Properties);
    return e;
  }
};

TEST_F(DeviceChangeTest, TtyBecomesAPortNamedByItsComNumber) {
  auto added = DeviceChangeOfUdevEvent(Tty("add", "/dev/ttyUSB2"));
  ASSERT_TRUE(added);
  EXPECT_EQ(added->first, DBT_DEVICEARRIVAL);
  EXPECT_EQ(added->second.DeviceType, DBT_DEVTYP_PORT);
  EXPECT_EQ(added->second.Name, "COM35");
  auto removed = DeviceChangeOfUdevEvent(Tty("remove", "/dev/ttyS0"));
  ASSERT_TRUE(removed);
  EXPECT_EQ(removed->first, DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(removed->second.Name, "COM1");
  EXPECT_EQ(DeviceChangeOfUdevEvent(Tty("add", "/dev/ttyACM31"))->second.Name, "COM96");
}

TEST_F(DeviceChangeTest, TtyOutsideThePortMapOrOtherActionsGiveNothing) {
  EXPECT_FALSE(DeviceChangeOfUdevEvent(Tty("add", "/dev/ttyUSB32")));
  EXPECT_FALSE(DeviceChangeOfUdevEvent(Tty("add", "/dev/tty5")));
  EXPECT_FALSE(DeviceChangeOfUdevEvent(Tty("add", "")));
  EXPECT_FALSE(DeviceChangeOfUdevEvent(Tty("change", "/dev/ttyUSB0")));
  EXPECT_FALSE(DeviceChangeOfUdevEvent(Tty("bind", "/dev/ttyUSB0")));
}

TEST_F(DeviceChangeTest, PortMapEntriesMatchTheNodeOrOneOfItsLinks) {
  setenv("KVX_COMPORTS", "7=/dev/serial/by-id/usb-KVX_A1-if00;120=/dev/pts/7", 1);
  auto byLink = DeviceChangeOfUdevEvent(Tty(
      "remove", "/dev/ttyUSB4", "/dev/serial/by-path/pci-0:1.2 /dev/serial/by-id/usb-KVX_A1-if00"));
  ASSERT_TRUE(byLink);
  EXPECT_EQ(byLink->second.Name, "COM7");
  EXPECT_EQ(ComPortOfNode("/dev/pts/7", ""), 120);
  EXPECT_EQ(ComPortOfNode("/dev/ttyUSB6", ""), 39);  // the standard numbers stay
  EXPECT_EQ(ComPortOfNode("/dev/pts/8", ""), 0);
}

TEST_F(DeviceChangeTest, AdapterOfTheDriversVendorBecomesADeviceInterface) {
  auto added = DeviceChangeOfUdevEvent(Usb(
      "add", {{"ID_VENDOR_ID", "0403"}, {"ID_MODEL_ID", "6001"}, {"ID_USB_SERIAL_SHORT", "A5X"}}));
  ASSERT_TRUE(added);
  EXPECT_EQ(added->first, DBT_DEVICEARRIVAL);
  EXPECT_EQ(added->second.DeviceType, DBT_DEVTYP_DEVICEINTERFACE);
  EXPECT_EQ(added->second.ClassGuid, GUID_D2XX_DEVICE_CLASS);
  EXPECT_EQ(added->second.Name,
            "\\\\?\\USB#VID_0403&PID_6001#A5X#{219D0508-57A8-4FF5-97A1-BD86587C6C7E}");
}

TEST_F(DeviceChangeTest, SerialNumberFallsBackAndRemovalsWorkFromTheProductCode) {
  auto bySerialShort =
      DeviceChangeOfUdevEvent(Usb("add", {{"ID_VENDOR_ID", "0403"}, {"ID_SERIAL_SHORT", "B7"}}));
  ASSERT_TRUE(bySerialShort);
  EXPECT_NE(bySerialShort->second.Name.find("#B7#"), std::string::npos);

  TUdevEvent sysfs = Usb("add", {{"ID_VENDOR_ID", "0403"}});
  sysfs.SysfsSerial = "C9";
  auto bySysfs = DeviceChangeOfUdevEvent(sysfs);
  ASSERT_TRUE(bySysfs);
  EXPECT_NE(bySysfs->second.Name.find("#C9#"), std::string::npos);

  auto removed = DeviceChangeOfUdevEvent(
      Usb("remove", {{"PRODUCT", "403/6015/1000"}, {"ID_SERIAL_SHORT", "D1"}}));
  ASSERT_TRUE(removed);
  EXPECT_EQ(removed->first, DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(removed->second.Name,
            "\\\\?\\USB#VID_0403&PID_6015#D1#{219D0508-57A8-4FF5-97A1-BD86587C6C7E}");
}

TEST_F(DeviceChangeTest, OtherUsbDevicesGiveNothing) {
  EXPECT_FALSE(
      DeviceChangeOfUdevEvent(Usb("add", {{"ID_VENDOR_ID", "067b"}, {"ID_SERIAL_SHORT", "X"}})));
  EXPECT_FALSE(DeviceChangeOfUdevEvent(
      Usb("add", {{"PRODUCT", "1403/6001/600"}, {"ID_SERIAL_SHORT", "X"}})));
  EXPECT_FALSE(DeviceChangeOfUdevEvent(Usb("add", {{"ID_VENDOR_ID", "0403"}})));  // no serial
  TUdevEvent iface = Usb("add", {{"ID_VENDOR_ID", "0403"}, {"ID_SERIAL_SHORT", "X"}});
  iface.DevType = "usb_interface";
  EXPECT_FALSE(DeviceChangeOfUdevEvent(iface));
}

TEST(DeviceMonitor, PortAddedByTheKernelIsNotifiedWithoutADeviceManager) {
  // Writing an action into a device's uevent file makes the kernel announce it (as root).
  const char* kUevent = "/sys/class/tty/ttyS0/uevent";
  TTestMainThread main;
  std::vector<std::string> arrived;
  TDeviceMonitor monitor([&](std::uint32_t Event, const TDeviceBroadcast& Record) {
    if (Event == DBT_DEVICEARRIVAL) arrived.push_back(Record.Name);
  });
  unsetenv("KVX_COMPORTS");
  ASSERT_TRUE(monitor.Start());
  EXPECT_EQ(monitor.Source(), access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel");
  {
    std::ofstream uevent(kUevent);
    if (!(uevent << "add" << std::flush)) GTEST_SKIP() << "cannot write " << kUevent;
  }
  EXPECT_TRUE(main.PumpUntil(
      [&] { return std::find(arrived.begin(), arrived.end(), "COM1") != arrived.end(); }));
}

TEST_F(DeviceChangeTest, ManagerTakesTheAdapterFromTheDevicePath) {
  TFTDIManager manager;
  auto change = DeviceChangeOfUdevEvent(
      Usb("add", {{"ID_VENDOR_ID", "0403"}, {"ID_MODEL_ID", "6001"}, {"ID_SERIAL_SHORT", "FTX1"}}));
  ASSERT_TRUE(change);
  manager.DeviceChange(change->first, change->second);
  TIntfPtr<ICommunicationInterface> channel;
  manager.FindChannel("FTX1", channel);
  ASSERT_TRUE(channel);
  EXPECT_EQ(manager.ChannelCount(), 1);
}

}  // namespace
