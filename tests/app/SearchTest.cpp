// The search for modules, its trace and the manager's callbacks, against simulated modules
// on pseudo-terminals and behind fake USB adapters.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include "sim/uScriptedPeer.h"
#include "tests/app/AppRig.h"
#include "tests/net/HostileServer.h"
#include "tests/serial/KernelHangUp.h"
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
constexpr std::uint8_t k115200 = 10;

// The channels of the manager's list, with their settings.
std::vector<std::pair<TKVXChannel, std::string>> Listed(TFTDIManager& Manager) {
  TChannelListLock lock(Manager);
  std::vector<std::pair<TKVXChannel, std::string>> listed;
  TKVXChannel channel;
  for (Manager.FirstChannel(channel); channel; Manager.NextChannel(channel))
    listed.emplace_back(channel, channel->GetConnectionString());
  return listed;
}

// The points of the last test of the channel described as Description.
std::vector<int> LastTestOf(const TAppRig& Rig, const std::string& Description) {
  std::vector<int> points;
  for (const TTraceLine& line : Rig.TraceOfTest(Description)) {
    if (line.Point == 10) points.clear();
    points.push_back(line.Point);
  }
  return points;
}

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
  EXPECT_THAT(rig["lConnectionDesc"].GetText("Caption"),
              ::testing::AnyOf("COM3", "COM5", "KVX DAZAZE"));

  // The USB module answers only at 9600: found at its second speed.
  const auto usb = rig.TraceOfTest("KVX DAZAZE");
  EXPECT_THAT(Points(usb), ElementsAre(10, 1, 2, 4, 5, 8, 9, 11));
  EXPECT_THAT(Texts(usb), ElementsAre("TestCI KVX DAZAZE", "Assigned CI KVX DAZAZE",
                                      "Open CI KVX DAZAZE OK", "CheckDevice (result=0)",
                                      "CheckDevice (result=1)", "Open SP KVX DAZAZE (result=1)",
                                      "KvxDownloadParams (result=1)", "TestCI (result=1)"));
  // The COM port module needs one check at 9600; the empty port is tried at both speeds.
  EXPECT_THAT(Points(rig.TraceOfTest("COM3")), ElementsAre(10, 1, 2, 6, 8, 9, 11));
  EXPECT_THAT(Points(rig.TraceOfTest("COM5")), ElementsAre(10, 1, 2, 6, 7, 8, 12));

  // Every tested channel is left as it was: closed.
  EXPECT_FALSE(FakeFtdi_IsOpen("KVX0042"));
  for (const TKVXChannel& channel : rig.Form().FoundChannels()) EXPECT_FALSE(channel->GetActive());
  EXPECT_TRUE(ListUnlocked(rig.Manager()));
}

TEST(SearchTest, WithoutChannelsTheSearchPageComesBackWithNothingFound) {
  TAppRig rig;
  rig["sSearch"].Click();
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

TEST(SearchTest, SearchThatFindsNothingNamesTheProgramHoldingAPort) {
  TAppRig rig;
  rig.AddComModule(7, ModuleAt(mtRS, 1, k9600));
  // This test holds the port's lock as a running service would.
  const int held = ::open(rig.ComPath(7).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  rig["sSearch"].Click();
  ::close(held);
  EXPECT_EQ(rig["lPortHeld"].GetText("Caption"),
            "COM7 používá " + std::string(program_invocation_short_name) + ", pid " +
                std::to_string(::getpid()) + "; před nastavováním modulů jej ukončete.");
}

TEST(SearchTest, ADeviceServerThatKeepsItsLineSpeedIsTriedOnceAndSaysSo) {
  struct TCase {
    const char* Name;
    THostileServer::TBehaviour Behaviour;
    const char* Shown;
  };
  const TCase cases[] = {
      {"refused COM port option", hostile::RefusedComPort,
       "COM9: sériový server nenastavuje rychlost linky"},
      {"another speed confirmed", hostile::WrongSpeed,
       "COM9: sériový server nastavil 19200 Bd místo požadovaných 115200 Bd"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Name);
    TAppRig rig;
    THostileServer server(test.Behaviour);
    rig.AddComEntry(9, server.Url());
    rig["sSearch"].Click();
    EXPECT_TRUE(rig.Form().FoundChannels().empty());
    std::vector<std::string> checks;
    for (const std::string& text : Texts(rig.TraceOfTest(server.Url())))
      if (text.starts_with("CheckDevice") || text.ends_with("speed only")) checks.push_back(text);
    EXPECT_THAT(checks, ElementsAre("CheckDevice (result=0)",
                                    "COM9: the device server does not set the line speed; tried "
                                    "at its own speed only"));
    EXPECT_TRUE(rig["lChannelGone"].GetBool("Visible"));
    EXPECT_EQ(rig["lChannelGone"].GetText("Caption"), test.Shown);
  }
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
  // The channel is tested while the window goes on handling its events.
  EXPECT_EQ(rig["lbFoundedModules"].ItemCount(), 1u);
  rig.Main.PumpUntil([&] { return rig["lbFoundedModules"].ItemCount() == 2; });
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

TEST(SearchTest, RowsKeepTheManagersOrderWhateverAnswersFirst) {
  struct TCase {
    const char* Name;
    std::array<int, 3> DelayMs;  // COM3, then the adapters as listed: KVX0043, KVX0042
  };
  const TCase cases[] = {{"the first answers last", {60, 0, 0}},
                         {"the last answers first", {60, 60, 0}},
                         {"the middle answers last", {0, 60, 0}}};
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Name);
    TAppRig rig;
    auto port = rig.AddComModule(3, ModuleAt(mtRS, 3, k9600));
    auto second = rig.AddUsbModule("KVX0042", "KVX DAZAZE", ModuleAt(mtUSB, 42, k9600));
    auto first = rig.AddUsbModule("KVX0043", "KVX DAZAZE", ModuleAt(mtUSB, 43, k9600));
    const std::array<std::shared_ptr<TKvxSimModule>, 3> listed = {port, first, second};
    for (std::size_t n = 0; n < listed.size(); ++n) {
      TKvxSimFaults late;
      late.ExtraDelay = std::chrono::milliseconds(test.DelayMs[n]);
      listed[n]->SetFaults(late);
    }
    rig["sSearch"].Click();
    EXPECT_THAT(rig["lbFoundedModules"].Items(),
                ElementsAre("VIROD|COM3|0003", "DAZAZE|USB|0043", "DAZAZE|USB|0042"));
  }
}

TEST(SearchTest, EachChannelsTraceStaysTogetherAndInOrder) {
  struct TCase {
    const char* Description;
    std::vector<int> Points;
  };
  TAppRig rig;
  rig.AddComModule(3, ModuleAt(mtRS, 3, k9600));
  rig.AddComPeer(5, std::make_shared<TScriptedPeer>());
  rig.AddComPeer(6, std::make_shared<TScriptedPeer>());
  rig.AddUsbModule("KVX0042", "KVX DAZAZE", ModuleAt(mtUSB, 42, k9600));
  rig["sSearch"].Click();
  const TCase cases[] = {{"COM3", {10, 1, 2, 6, 8, 9, 11}},
                         {"COM5", {10, 1, 2, 6, 7, 8, 12}},
                         {"COM6", {10, 1, 2, 6, 7, 8, 12}},
                         {"KVX DAZAZE", {10, 1, 2, 4, 5, 8, 9, 11}}};
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Description);
    const std::vector<TTraceLine> lines = rig.TraceOfTest(test.Description);
    EXPECT_EQ(Points(lines), test.Points);
    for (const TTraceLine& line : lines) {
      if (line.Point != 1 && line.Point != 2 && line.Point != 8) continue;
      EXPECT_THAT(line.Text, ::testing::HasSubstr(test.Description));
    }
  }
}

TEST(SearchTest, AModuleIsAskedFirstAtTheSpeedItAnsweredAtLastTime) {
  struct TCase {
    const char* Description;
    std::vector<int> FirstSearch;
    std::vector<int> SecondSearch;
  };
  TAppRig rig;
  rig.AddComModule(4, ModuleAt(mtRS, 4, k115200));
  rig.AddUsbModule("KVX0042", "KVX DAZAZE", ModuleAt(mtUSB, 42, k9600));
  const TCase cases[] = {
      {"COM4", {10, 1, 2, 6, 7, 8, 9, 11}, {10, 1, 2, 7, 8, 9, 11}},
      {"KVX DAZAZE", {10, 1, 2, 4, 5, 8, 9, 11}, {10, 1, 2, 5, 8, 9, 11}},
  };
  rig["sSearch"].Click();
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Description);
    EXPECT_EQ(LastTestOf(rig, test.Description), test.FirstSearch);
  }
  rig["sSearch"].Click();
  EXPECT_EQ(rig["lbFoundedModules"].ItemCount(), 2u);
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Description);
    EXPECT_EQ(LastTestOf(rig, test.Description), test.SecondSearch);
  }
}

// "Zrušit" ends the search: the modules found by then stay listed, and every channel is closed
// with the settings it had before its test.
TEST(SearchTest, CancelKeepsTheRowsFoundAndLeavesEveryChannelAsItWas) {
  struct TCase {
    const char* Name;
    int CancelAt;  // the progress bar's position
    std::vector<std::string> Rows;
  };
  const TCase cases[] = {
      {"while every channel is under test", 0, {}},
      {"once the port module and the empty port are done", 20, {"VIROD|COM3|0003"}}};
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Name);
    TAppRig rig;
    rig.AddComModule(3, ModuleAt(mtRS, 3, k9600));
    rig.AddComPeer(5, std::make_shared<TScriptedPeer>());
    // Slow enough that its download is still under way when the others are done.
    auto slow = rig.AddUsbModule("KVX0042", "KVX DAZAZE", ModuleAt(mtUSB, 42, k9600));
    TKvxSimFaults late;
    late.ExtraDelay = std::chrono::milliseconds(200);
    slow->SetFaults(late);
    rig.Services.WhileBusy = [&] {
      if (rig["ProgressBar1"].GetInt("Position") >= test.CancelAt) rig["sCancelSearch"].Click();
    };
    rig["sSearch"].Click();
    rig.Services.WhileBusy = {};

    EXPECT_EQ(rig.PageShown(), "pSearch");
    EXPECT_EQ(rig["lbFoundedModules"].Items(), test.Rows);
    const auto searched = Listed(rig.Manager());
    rig.Manager().RebuildChannels();
    const auto untouched = Listed(rig.Manager());
    ASSERT_EQ(searched.size(), untouched.size());
    for (std::size_t n = 0; n < searched.size(); ++n) {
      SCOPED_TRACE(searched[n].first->GetPortName());
      EXPECT_FALSE(searched[n].first->GetActive());
      EXPECT_EQ(searched[n].first->GetConnectionString(), untouched[n].second);
    }
    EXPECT_FALSE(FakeFtdi_IsOpen("KVX0042"));
  }
}

// A port hung up in the middle of a search ends its own test; the other channels' tests go on
// and the search ends by itself.
TEST(SearchTest, AHangUpDuringTheSearchEndsOnlyThatPortsTest) {
  TAppRig rig;
  rig.AddComPeer(3, std::make_shared<TScriptedPeer>());
  auto hungUp = std::make_shared<TScriptedPeer>();
  rig.AddComPeer(5, hungUp);
  rig.AddUsbModule("KVX0042", "KVX DAZAZE", ModuleAt(mtUSB, 42, k9600));
  std::string why = "the port was never asked";
  rig.Services.WhileBusy = [&] {
    if (hungUp->RequestCount() == 0 || why != "the port was never asked") return;
    why = KernelHangUp(rig.ComPath(5));
  };
  rig["sSearch"].Click();
  rig.Services.WhileBusy = {};
  if (!why.empty()) GTEST_SKIP() << why;

  EXPECT_EQ(rig.PageShown(), "pSearch");
  EXPECT_THAT(rig["lbFoundedModules"].Items(), ElementsAre("DAZAZE|USB|0042"));
  EXPECT_THAT(Points(rig.TraceOfTest("COM3")), ElementsAre(10, 1, 2, 6, 7, 8, 12));
  const std::vector<int> points = Points(rig.TraceOfTest("COM5"));
  ASSERT_FALSE(points.empty());
  EXPECT_EQ(points.front(), 10);
  EXPECT_EQ(points.back(), 12);
  TKVXChannel port;
  {
    TChannelListLock lock(rig.Manager());
    rig.Manager().FindChannel("COM5", port);
  }
  ASSERT_TRUE(port);
  EXPECT_FALSE(port->GetActive());
}

}  // namespace
