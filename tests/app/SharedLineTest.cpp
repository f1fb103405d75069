// Three modules on one RS-485 line (addresses 7, 12 and 200 on COM5): the plain search names
// the collision, the address scan finds each module, and a module of the scan is reached at
// its own address, also when that address changes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "protocol/uKVXInstructions.h"
#include "sim/uKvxSimLineRig.h"
#include "support/uMessages.h"
#include "tests/app/AppRig.h"

namespace {

struct TLineRig {
  TLineRig() { App.AddComPeer(5, Line); }
  // The search as the operator starts it, with the tick box and range given.
  std::vector<std::string> Search(bool ByAddress, const std::string& Range) {
    App["cbSearchAddresses"].Edit("Checked", ByAddress);
    App["eAddressRange"].Edit("Text", Range);
    App["sSearch"].Click();
    return App["lbFoundedModules"].Items();
  }
  // Every frame any module heard since the last call, by address.
  std::vector<std::uint8_t> AddressesHeard() {
    std::vector<std::uint8_t> addresses;
    for (const TKvxSimRequest& request : Line->Modules().front()->Requests())
      addresses.push_back(request.Address);
    for (const auto& module : Line->Modules()) module->ClearRequests();
    return addresses;
  }

  std::shared_ptr<TKvxSimLine> Line = MakeSimLineOfThree();
  TAppRig App;
};

TEST(SharedLineTest, ThePlainSearchNamesTheCollisionAndTheAddressScanFindsEachModuleInRange) {
  struct TCase {
    bool ByAddress;
    std::string Range;
    std::vector<std::string> Rows;
    bool Collision;
  };
  const TCase cases[] = {
      {false, "0-253", {}, true},
      {true,
       "1-15,199-201",
       {"VIROD|COM5@7|4007", "VIROD|COM5@12|4012", "VIROD|COM5@200|4200"},
       false},
      {true, " 8-13 , 195 - 199 ", {"VIROD|COM5@12|4012"}, false},  // blanks as people type them
  };
  TLineRig rig;
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Range + (test.ByAddress ? " by address" : " plain"));
    EXPECT_EQ(rig.Search(test.ByAddress, test.Range), test.Rows);
    EXPECT_EQ(rig.App["lCollision"].GetBool("Visible"), test.Collision);
    if (test.Collision) {
      EXPECT_NE(rig.App["lCollision"].GetText("Caption").find("COM5:"), std::string::npos);
    }
  }
}

TEST(SharedLineTest, AnAddressChangeOntoAnOccupiedAddressIsRefusedAndOntoAFreeOneFollowed) {
  struct TCase {
    int NewAddress;
    bool Written;
    std::string Row;
    bool Ignored = false;  // the module acknowledges the write and keeps its address
  };
  const TCase cases[] = {
      {7, false, "VIROD|COM5@12|4012"},
      {30, true, "VIROD|COM5@30|4012"},
      {30, true, "VIROD|COM5@12|4012", true},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(std::to_string(test.NewAddress) + (test.Ignored ? " ignored" : ""));
    TLineRig rig;
    if (test.Ignored) {
      TKvxSimFaults ignore;
      ignore.OnlyInstruction = kiWriteCommParams;
      ignore.IgnoreWrites = true;
      rig.Line->Modules()[1]->SetFaults(ignore);
    }
    ASSERT_EQ(rig.Search(true, "12").size(), 1u);
    rig.AddressesHeard();
    rig.App["sConnect"].Click();
    rig.App["Timer1"].Fire("OnTimer");
    // The check, the download and the measured values went to the module's own address.
    for (const std::uint8_t address : rig.AddressesHeard()) EXPECT_EQ(address, 12);
    std::vector<std::string> messages;
    const TMessageHandler previous =
        SetMessageHandler([&](const std::string& Text) { messages.push_back(Text); });
    rig.App["cbADR"].Edit("ItemIndex", test.NewAddress);
    rig.App["sSaveChanges1"].Click();
    SetMessageHandler(previous);
    bool commWritten = false;
    for (const TKvxSimRequest& request : rig.Line->Modules()[1]->Requests())
      commWritten = commWritten || request.Instruction == kiWriteCommParams;
    EXPECT_EQ(commWritten, test.Written);
    EXPECT_EQ(rig.Line->Modules()[1]->State().Address,
              test.Written && !test.Ignored ? test.NewAddress : 12);
    EXPECT_EQ(rig.Line->Modules()[0]->State().Address, 7);
    EXPECT_EQ(rig.App["lbFoundedModules"].Items(), std::vector<std::string>{test.Row});
    ASSERT_EQ(messages.size(), test.Written && !test.Ignored ? 0u : 1u);
    if (!test.Written) {
      EXPECT_NE(messages.front().find(" 7 "), std::string::npos) << messages.front();
    }
    if (test.Ignored) {
      EXPECT_NE(messages.front().find(rig.App["lChangesNotTaken"].GetText("Caption")),
                std::string::npos)
          << messages.front();
    }
    // The module keeps answering where the window now talks to it.
    rig.App["Timer1"].Fire("OnTimer");
    EXPECT_EQ(rig.App.PageShown(), "pMeasure");
  }
}

// The scan finds a module that starts answering after the scan's first-reply limit (its late
// reply names its address: that address is asked again with the full limits), never takes one
// module's reply for another's, and asks a line whose modules answered at one speed at that
// speed only; an empty line is asked at every search speed. Meanwhile it shows the line and
// address asked, the share done, and each module's row as soon as it is read.
TEST(SharedLineTest, TheScanFindsLateModulesAsksAtOneSpeedAndShowsItsProgress) {
  struct TCase {
    const char* Name;
    int DelayMs;  // added to module 12's turnaround
    std::vector<std::string> Rows;
    std::size_t Speeds = 1;  // scanned at 9600 bit/s, then at 115200
  };
  const std::vector<std::string> all = {"VIROD|COM5@7|4007", "VIROD|COM5@12|4012",
                                        "VIROD|COM5@200|4200"};
  const TCase cases[] = {
      {"in time", 0, all}, {"30 ms late", 30, all}, {"45 ms late", 45, all}, {"empty", 0, {}, 2}};
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Name);
    TLineRig rig;
    TKvxSimFaults late;
    late.ExtraDelay = std::chrono::milliseconds(test.DelayMs);
    late.NoAnswer = test.Rows.empty();
    for (const auto& module : rig.Line->Modules()) module->SetFaults(late);
    std::set<std::string> asked;
    bool partWay = false, rowBeforeTheEnd = false;
    rig.App.Services.WhileBusy = [&] {
      asked.insert(rig.App["lConnectionDesc"].GetText("Caption"));
      const int position = rig.App["ProgressBar1"].GetInt("Position");
      partWay = partWay || (position > 0 && position < 10);
      rowBeforeTheEnd = rowBeforeTheEnd || (rig.App["lbSearchingFound"].ItemCount() > 0 &&
                                            position < rig.App["ProgressBar1"].GetInt("Max"));
    };
    EXPECT_EQ(rig.Search(true, "1-15,199-201"), test.Rows);
    rig.App.Services.WhileBusy = {};
    EXPECT_EQ(rowBeforeTheEnd, !test.Rows.empty());
    std::vector<std::string> speeds;
    for (const TTraceLine& line : rig.App.Trace())
      if (line.Text.starts_with("Scan ")) speeds.push_back(line.Text);
    const std::vector<std::string> both = {"Scan COM5 baudrate=9600", "Scan COM5 baudrate=115200"};
    EXPECT_EQ(speeds, std::vector<std::string>(both.begin(), both.begin() + test.Speeds));
    EXPECT_TRUE(asked.contains("COM5@12")) << testing::PrintToString(asked);
    EXPECT_TRUE(partWay);
  }
}

// "Opakovat" after a failed connect to a scanned row connects that row's module at its own
// address again, never whichever module answers the universal one.
TEST(SharedLineTest, RetryAfterAFailedConnectReachesTheRowsOwnModule) {
  TLineRig rig;
  ASSERT_EQ(rig.Search(true, "12"), std::vector<std::string>{"VIROD|COM5@12|4012"});
  TKvxSimFaults silent;
  silent.NoAnswer = true;
  rig.Line->Modules()[1]->SetFaults(silent);
  rig.Line->Modules()[2]->SetFaults(silent);  // module 7 alone answers the universal address
  rig.App["sConnect"].Click();
  ASSERT_EQ(rig.App.PageShown(), "pError");
  rig.Line->Modules()[1]->SetFaults({});
  rig.AddressesHeard();
  rig.App["ShapeEx5"].Click();
  EXPECT_EQ(rig.App.PageShown(), "pMeasure");
  EXPECT_EQ(rig.App.Form().ReadCopy().Ident.Production.SerialNumber, 4012);
  EXPECT_EQ(rig.App.Form().CurrentAddress(), 12);
  for (const std::uint8_t address : rig.AddressesHeard()) EXPECT_EQ(address, 12);
}

}  // namespace
