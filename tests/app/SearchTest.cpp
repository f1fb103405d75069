// The search for modules, its trace and the manager's callbacks, against simulated modules
// on pseudo-terminals and behind fake USB adapters.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <grp.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include "sim/uScriptedPeer.h"
#include "tests/app/AppRig.h"
#include "tests/usb/fake_ftd2xx/FakeFtdi.h"

using ::testing::ElementsAre;

namespace {

std::vector<int> Points(const std::vector<TTraceLine>& Lines) {
  std::vector<int> points;
  for (const TTraceLine& line : Lines) points.push_back(line.Point);
  return points;
}

std::vector<std::string> Texts(const std::vector<TTraceLine>& Lines) {
  std::vector<std::string> texts;
  for (const TTraceLine& line : Lines) texts.push_back(line.Text);
  return texts;
}

TKvxSimState ModuleAt(TKVXModuleType Model, std::uint16_t Serial, std::uint8_t SpeedCode) {
  TKvxSimState state = KvxSimFactoryState(Model, Serial);
  state.SpeedCode = SpeedCode;
  return state;
}

constexpr std::uint8_t k9600 = 6;
constexpr std::uint8_t k19200 = 7;

// Whether another thread can take the manager's list lock (the search left it unlocked).
bool ListUnlocked(TFTDIManager& Manager) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread([&Manager, done] {
    TChannelListLock lock(Manager);
    *done = true;
  }).detach();
  return WaitUntil([&] { return done->load(); }, std::chrono::seconds(5));
}

TEST(SearchTest, FindsExactlyThePresentModulesInChannelOrder) {
  TAppRig rig;
  rig.AddComModule(3, ModuleAt(mtRS, 4711, k9600));
  rig.AddComPeer(5, std::make_shared<TScriptedPeer>());  // a port without a module
  rig.AddUsbModule("KVX0042", "KVX DAZAZE", ModuleAt(mtUSB, 42, k9600));
  EXPECT_EQ(rig.PageShown(), "pSearch");
  EXPECT_FALSE(rig["sConnect"].GetBool("Visible"));

  rig["sSearch"].Click();

  EXPECT_THAT(rig["lbFoundedModules"].Items(), ElementsAre("VIROD|COM3|4711", "DAZAZE|USB|0042"));
  ASSERT_EQ(rig.Form().FoundChannels().size(), 2u);
  EXPECT_EQ(rig.Form().FoundChannels()[0]->GetPortName(), "COM3");
  EXPECT_EQ(rig["lbFoundedModules"].GetInt("ItemIndex"), 1);
  EXPECT_EQ(rig.PageShown(), "pSearch");
  for (const char* name : {"lFoundedModules", "sFoundedModules", "lColumn1", "lColumn2", "lColumn3",
                           "lbFoundedModules", "sConnect"})
    EXPECT_TRUE(rig[name].GetBool("Visible")) << name;
  EXPECT_EQ(rig["ProgressBar1"].GetInt("Max"), 30);
  EXPECT_EQ(rig["ProgressBar1"].GetInt("Position"), 30);
  EXPECT_EQ(rig["lConnectionDesc"].GetText("Caption"), "KVX DAZAZE");
  EXPECT_GE(rig.Services.Repaints(), 7);  // the page, then bar and text per channel

  // The USB module answers only at 9600: found at its second speed.
  const auto usb = rig.TraceOfTest("KVX DAZAZE");
  EXPECT_THAT(Points(usb), ElementsAre(10, 1, 2, 4, 5, 8, 9, 11));
  EXPECT_THAT(Texts(usb), ElementsAre("TestCI KVX DAZAZE", "Assigned CI KVX DAZAZE",
                                      "Open CI KVX DAZAZE OK", "CheckDevice (result=0)",
                                      "CheckDevice (result=1)", "Open SP KVX DAZAZE (result=1)",
                                      "KvxDownloadParams (result=1)", "TestCI (result=1)"));
  // The COM port module needs one check at 9600; the empty port is tried at both speeds.
  std::vector<std::vector<int>> tests;
  for (const TTraceLine& line : rig.Trace()) {
    if (line.Point == 10) tests.emplace_back();
    if (!tests.empty()) tests.back().push_back(line.Point);
  }
  ASSERT_EQ(tests.size(), 3u);
  EXPECT_THAT(tests[0], ElementsAre(10, 1, 2, 6, 8, 9, 11));
  EXPECT_THAT(tests[1], ElementsAre(10, 1, 2, 6, 7, 8, 12));
  EXPECT_EQ(tests[2], Points(usb));

  // Every tested channel is left as it was: closed.
  EXPECT_FALSE(FakeFtdi_IsOpen("KVX0042"));
  for (const TKVXChannel& channel : rig.Form().FoundChannels()) EXPECT_FALSE(channel->GetActive());
  EXPECT_TRUE(ListUnlocked(rig.Manager()));
}

TEST(SearchTest, WithoutChannelsTheSearchPageComesBackAfterASecond) {
  TAppRig rig;
  rig.Form();
  const auto start = std::chrono::steady_clock::now();
  rig["sSearch"].Click();
  EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(rig["ProgressBar1"].GetInt("Max"), 0);
  EXPECT_EQ(rig.PageShown(), "pSearch");
  EXPECT_FALSE(rig["lFoundedModules"].GetBool("Visible"));
  EXPECT_EQ(rig["lbFoundedModules"].ItemCount(), 0u);
  for (const TTraceLine& line : rig.Trace()) EXPECT_NE(line.Point, 10) << line.Text;
}

TEST(SearchTest, TheExtraSpeedFindsAModuleAtThatSpeed) {
  {
    TAppRig rig;
    rig.AddComModule(4, ModuleAt(mtRS, 77, k19200));
    rig["sSearch"].Click();
    EXPECT_EQ(rig["lbFoundedModules"].ItemCount(), 0u);
  }
  TAppRig rig({"baudrate=9600", "baudrate=19200"});
  rig.AddComModule(4, ModuleAt(mtRS, 12345, k19200));
  EXPECT_EQ(rig.Form().ExtraSpeed(), "baudrate=19200");
  rig["sSearch"].Click();
  EXPECT_THAT(rig["lbFoundedModules"].Items(), ElementsAre("VIROD|COM4|12345"));
  const auto trace = rig.Trace();
  EXPECT_THAT(Points(trace), ElementsAre(10, 1, 2, 6, 7, 7, 8, 9, 11));
  EXPECT_EQ(trace[5].Text, "CheckDevice (result=1)");
}

// A channel that fails while it is tested (here: a speed it cannot take) counts as no module;
// the search goes on and ends on the search page with the list unlocked.
TEST(SearchTest, AChannelErrorDoesNotEndTheSearch) {
  TAppRig rig({"baudrate=fast"});
  rig.AddComPeer(2, std::make_shared<TScriptedPeer>());
  rig.AddComModule(6, ModuleAt(mtRS, 31, k9600));
  rig["sSearch"].Click();

  EXPECT_THAT(rig["lbFoundedModules"].Items(), ElementsAre("VIROD|COM6|0031"));
  EXPECT_EQ(rig.PageShown(), "pSearch");
  EXPECT_TRUE(rig.Services.Errors().empty());
  std::vector<TTraceLine> failed;
  for (const TTraceLine& line : rig.Trace())
    if (line.Point == 12) failed.push_back(line);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_THAT(failed[0].Text, ::testing::StartsWith("TestCI (result=0) "));
  EXPECT_THAT(failed[0].Text, ::testing::HasSubstr("fast"));
  // The failed channel got its state and settings back.
  TKVXChannel port;
  {
    TChannelListLock lock(rig.Manager());
    rig.Manager().FindChannel("COM2", port);
  }
  ASSERT_TRUE(port);
  EXPECT_FALSE(port->GetActive());
  EXPECT_THAT(port->GetConnectionString(), ::testing::HasSubstr("9600"));
  EXPECT_TRUE(ListUnlocked(rig.Manager()));
}

TEST(SearchTest, PullingTheConnectedAdapterReturnsToTheSearchPage) {
  TAppRig rig;
  rig.AddComModule(3, ModuleAt(mtRS, 5, k9600));
  rig.AddUsbModule("KVX0042", "KVX DAZAZE", ModuleAt(mtUSB, 42, k9600));
  rig["sSearch"].Click();
  ASSERT_EQ(rig["lbFoundedModules"].ItemCount(), 2u);
  rig["sConnect"].Click();  // the last row is selected: the USB module
  ASSERT_EQ(rig.PageShown(), "pMeasure");
  EXPECT_TRUE(FakeFtdi_IsOpen("KVX0042"));

  rig.UnplugUsb("KVX0042");

  EXPECT_EQ(rig.PageShown(), "pSearch");
  EXPECT_FALSE(rig.Form().CurrentChannel());
  EXPECT_THAT(rig["lbFoundedModules"].Items(), ElementsAre("VIROD|COM3|0005"));
  EXPECT_EQ(rig.Form().FoundChannels().size(), 1u);
  EXPECT_EQ(rig["lbFoundedModules"].GetInt("ItemIndex"), 0);
  EXPECT_TRUE(rig["imgXX"].GetBool("Visible"));
  EXPECT_FALSE(rig["imgUSB"].GetBool("Visible"));
}

// The group a file of this test gets: the one the message must name for the nodes made here.
std::string OwnGroup() {
  const group* entry = ::getgrgid(::getegid());
  return entry ? entry->gr_name : std::to_string(::getegid());
}

TEST(SearchTest, TheRefusedPortsAreNamedWithTheirNodesAndTheGroupsOwningThem) {
  TTempDir nodes;
  for (const char* node : {"ttyUSB0", "ttyUSB1"}) std::ofstream(nodes.File(node)).put('\n');
  const std::string usb0 = nodes.File("ttyUSB0") + ", group " + OwnGroup();
  const std::string usb1 = nodes.File("ttyUSB1") + ", group " + OwnGroup();
  const struct {
    const char* Name;
    std::vector<int> Refused;
    std::string Expected;
  } cases[] = {
      {"one refused port", {7}, "COM7 (" + usb0 + ")"},
      {"every refused port, in the search's order",
       {9, 7},
       "COM7 (" + usb0 + "), COM9 (" + usb1 + ")"},
      {"a node that cannot be looked at", {8}, "COM8 (" + nodes.File("gone") + ")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TAppRig rig;
    // The rig takes the variable away again.
    const std::string map =
        "7=" + nodes.File("ttyUSB0") + ";9=" + nodes.File("ttyUSB1") + ";8=" + nodes.File("gone");
    ::setenv("KVX_COMPORTS", map.c_str(), 1);
    std::map<std::int32_t, std::shared_ptr<TAfSimLine>> lines;
    for (int port : {7, 8, 9}) lines[port] = std::make_shared<TAfSimLine>();
    for (int port : c.Refused) lines[port]->SetDenied(true);
    TTestLines installed(lines);
    rig["sSearch"].Click();
    EXPECT_EQ(rig["lNoPermission"].GetText("Caption").rfind(c.Expected + " nelze otevřít", 0), 0u)
        << rig["lNoPermission"].GetText("Caption");
    EXPECT_EQ(rig.Form().PermissionRefused(), c.Expected) << "what kvxctl reports";
  }
}

TEST(SearchTest, SearchThatFindsNothingNamesAPortTheUserMayNotOpen) {
  TAppRig rig;
  auto refused = std::make_shared<TAfSimLine>();
  refused->SetDenied(true);
  TTestLines lines({{7, refused}, {8, std::make_shared<TAfSimLine>()}});
  rig["sSearch"].Click();
  EXPECT_TRUE(rig.Form().FoundChannels().empty());
  EXPECT_TRUE(rig["lNoPermission"].GetBool("Visible"));
  EXPECT_EQ(rig["lNoPermission"].GetText("Caption").rfind("COM7 (", 0), 0u)
      << rig["lNoPermission"].GetText("Caption");
  // Once the user may open it, the next search says nothing of it.
  refused->SetDenied(false);
  rig["sSearch"].Click();
  EXPECT_FALSE(rig["lNoPermission"].GetBool("Visible"));
}

TEST(SearchTest, AnArrivingChannelWithAModuleAddsItsRow) {
  TAppRig rig;
  rig.AddUsbModule("KVX0001", "KVX DAZAZE", ModuleAt(mtUSB, 1, k9600));
  rig["sSearch"].Click();
  EXPECT_EQ(rig["lbFoundedModules"].ItemCount(), 1u);

  rig.AddUsbModule("KVX0777", "KVX DAZAZE", ModuleAt(mtUSB, 777, k9600));
  TDeviceBroadcast record;
  record.DeviceType = DBT_DEVTYP_DEVICEINTERFACE;
  record.ClassGuid = GUID_D2XX_DEVICE_CLASS;
  record.Name = "\\\\?\\USB#VID_0403&PID_6001#KVX0777#" + GUIDToString(GUID_D2XX_DEVICE_CLASS);
  rig.Manager().DeviceChange(DBT_DEVICEARRIVAL, record);
  EXPECT_THAT(rig["lbFoundedModules"].Items(), ElementsAre("DAZAZE|USB|0001", "DAZAZE|USB|0777"));
  EXPECT_EQ(rig["lbFoundedModules"].GetInt("ItemIndex"), 1);
  EXPECT_TRUE(rig["sConnect"].GetBool("Visible"));
  EXPECT_FALSE(FakeFtdi_IsOpen("KVX0777"));  // tested, then left closed
}

TEST(SearchTest, ASearchThatFindsNothingHidesTheFoundModules) {
  TAppRig rig;
  auto module = rig.AddComModule(3, ModuleAt(mtRS, 4711, k9600));
  rig["sSearch"].Click();
  ASSERT_TRUE(rig["sConnect"].GetBool("Visible"));

  TKvxSimFaults silent;
  silent.NoAnswer = true;
  module->SetFaults(silent);
  rig["sSearch"].Click();
  EXPECT_EQ(rig["lbFoundedModules"].ItemCount(), 0u);
  for (const char* name : {"lFoundedModules", "sFoundedModules", "lColumn1", "lColumn2", "lColumn3",
                           "lbFoundedModules", "sConnect"})
    EXPECT_FALSE(rig[name].GetBool("Visible")) << name;
}

}  // namespace
