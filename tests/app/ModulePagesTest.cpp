// Connecting, the configuration pages with saving, the measurement view and the error page,
// with a simulated module on a pseudo-terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <sstream>

#include "app/uMainLayout.h"
#include "app/uMeasurementCsv.h"
#include "app/uWindowColors.h"
#include "protocol/uTirmel97.h"
#include "sim/uKvxSimDevice.h"
#include "support/uCodePage.h"
#include "support/uConversionUtils.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"
#include "tests/app/AppRig.h"

using ::testing::ElementsAre;

namespace {

const int kNormal = RGBColor(135, 109, 98);

// A module whose measured-values answer can be replaced by any data.
class TMeasurePeer : public ISimPeer {
 public:
  explicit TMeasurePeer(std::shared_ptr<TKvxSimModule> Module) : FModule(std::move(Module)) {}
  void SetMeasuredData(std::string Data) {
    std::lock_guard lock(FLock);
    FData = std::move(Data);
  }
  void Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) override {
    std::lock_guard lock(FLock);
    if (FData && ValidateFrame(bytes) == 0) {
      TTirmelFormat97 frame;
      ParseFrame(bytes, frame);
      if (frame.Instruction == kiReadMeasuredValues) {
        FPending += BuildFrame(frame.Address, frame.Signature, kSimAck, *FData);
        return;
      }
    }
    FModule->Write(bytes, baud, now);
  }
  std::string Read(Clock::time_point now) override {
    std::lock_guard lock(FLock);
    return std::exchange(FPending, {}) + FModule->Read(now);
  }
  std::size_t Available(Clock::time_point now) const override {
    std::lock_guard lock(FLock);
    return FPending.size() + FModule->Available(now);
  }
  std::optional<Clock::time_point> NextDue() const override {
    std::lock_guard lock(FLock);
    if (!FPending.empty()) return Clock::now();
    return FModule->NextDue();
  }

 private:
  mutable std::mutex FLock;
  std::shared_ptr<TKvxSimModule> FModule;
  std::optional<std::string> FData;
  std::string FPending;
};

std::string Block(int Channel, std::uint8_t Status, const std::string& Text, float Value = 1.5f) {
  return std::string{static_cast<char>(Channel), static_cast<char>(Status), 0, 0} +
         FloatToStrBin(Value) + PadRight(Text, 10);
}

class ModulePagesTest : public ::testing::Test {
 protected:
  explicit ModulePagesTest(std::vector<std::string> Args = {}) : rig(std::move(Args)) {}

  void Connect(const TKvxSimState& State) {
    module = std::make_shared<TKvxSimModule>(State);
    peer = std::make_shared<TMeasurePeer>(module);
    rig.AddComPeer(3, peer);
    rig.Manager().RebuildChannels();
    TKVXChannel channel;
    rig.Manager().FindChannel("COM3", channel);
    ASSERT_TRUE(channel);
    rig.Form().Connect(channel);
  }
  // Enters Unit on the page of ChannelButton and saves it to the module behaving as Faults say.
  void SaveUnit(const char* ChannelButton, const char* Unit, const TKvxSimFaults& Faults) {
    Press(ChannelButton);
    rig["eChannelUnit"].Edit("Text", Unit);
    module->SetFaults(Faults);
    rig["sSaveChanges1"].Click();
  }
  // The operator presses a menu button: it goes down, then its handler runs.
  void Press(const char* Name) {
    rig[Name].Set("Down", true);
    rig[Name].Click();
  }
  std::vector<TKvxSimRequest> Writes() const {
    std::vector<TKvxSimRequest> writes;
    for (const TKvxSimRequest& request : module->Requests())
      if (IsSimWrite(request.Instruction) || request.Instruction == kiEnableConfig)
        writes.push_back(request);
    return writes;
  }

  static TKvxSimState FastModule(TKVXModuleType Model, std::uint16_t Serial) {
    TKvxSimState fast = KvxSimFactoryState(Model, Serial);
    fast.SpeedCode = kFast;  // short replies keep well inside the time limits on a busy machine
    return fast;
  }
  static constexpr std::uint8_t kFast = 10;  // 115200 bit/s

  TAppRig rig;
  TKvxSimState state = FastModule(mtRS, 4711);
  std::shared_ptr<TKvxSimModule> module;
  std::shared_ptr<TMeasurePeer> peer;
};

TEST_F(ModulePagesTest, ConnectShowsTheMeasurementPageWithItsTimer) {
  Connect(state);
  EXPECT_EQ(rig.PageShown(), "pMeasure");
  EXPECT_TRUE(rig["Timer1"].GetBool("Enabled"));
  EXPECT_TRUE(rig["sbMeasuring"].GetBool("Down"));
  EXPECT_TRUE(rig["imgRS"].GetBool("Visible"));
  for (const char* name : {"imgUSB", "imgNovra", "imgXX"})
    EXPECT_FALSE(rig[name].GetBool("Visible"));
  EXPECT_TRUE(rig.Form().CurrentChannel()->GetActive());
  EXPECT_EQ(rig.Form().ReadCopy().Ident.Production.SerialNumber, 4711);
  EXPECT_EQ(rig.Form().EditedCopy().Setup, rig.Form().ReadCopy().Setup);
  EXPECT_FALSE(rig["sSaveChanges1"].GetBool("Visible"));
  EXPECT_FALSE(rig.Services.BusyCursor());

  // The communication page of an RS module: lists enabled on white.
  Press("sbCommunication");
  EXPECT_EQ(rig.PageShown(), "pConnection");
  EXPECT_FALSE(rig["Timer1"].GetBool("Enabled"));
  EXPECT_FALSE(rig["sbMeasuring"].GetBool("Down"));
  EXPECT_EQ(rig["cbADR"].GetInt("ItemIndex"), state.Address);
  EXPECT_EQ(rig["cbCommunicationSpeed"].GetInt("ItemIndex"), kFast);
  EXPECT_TRUE(rig["cbADR"].GetBool("Enabled"));
  EXPECT_EQ(rig["cbADR"].GetInt("Color"), clWhite);
  EXPECT_EQ(rig["eNameAndVersion"].GetText("Text"), " " + state.TypeText);
  EXPECT_EQ(rig["ePidPis"].GetText("Text"), " " + rig.Form().ReadCopy().Ident.Production.Text);
  EXPECT_EQ(rig["mUserData"].GetText("Text"), Trim(state.UserData));

  rig["ShapeEx2"].Click();  // disconnect
  EXPECT_EQ(rig.PageShown(), "pSearch");
  EXPECT_TRUE(rig["imgXX"].GetBool("Visible"));
  EXPECT_FALSE(rig["imgRS"].GetBool("Visible"));
  EXPECT_FALSE(rig.Form().CurrentChannel());
}

TEST_F(ModulePagesTest, AnEthernetModuleShowsTheGeneralPicture) {
  Connect(FastModule(mtETH, 8));
  EXPECT_EQ(rig.Form().ReadCopy().ModuleType, mtETH);
  EXPECT_TRUE(rig["imgXX"].GetBool("Visible"));
  for (const char* name : {"imgUSB", "imgRS", "imgNovra"})
    EXPECT_FALSE(rig[name].GetBool("Visible"));
  EXPECT_FALSE(rig["cbCommunicationSpeed"].GetBool("Enabled"));
}

TEST_F(ModulePagesTest, MeasurementRowsShowTheModulesTexts) {
  state.Channels[2].Overflow = true;
  state.Channels[3].NotValid = true;
  Connect(state);
  rig["Timer1"].Fire("OnTimer");
  const std::string value = rig["lMeasuringChannel1Value"].GetText("Caption");
  EXPECT_EQ(value.size(), 10u);
  EXPECT_NO_THROW(std::stod(value)) << value;
  EXPECT_EQ(rig["lMeasuringChannel1Value"].GetInt("FontColor"), kNormal);
  EXPECT_EQ(rig["lMeasuringChannel2Value"].GetText("Caption"), "OVR ");
  EXPECT_EQ(rig["lMeasuringChannel2Value"].GetInt("FontColor"), clRed);
  EXPECT_EQ(rig["sMeasuringChannel2Panel"].GetInt("PenColor"), clRed);
  EXPECT_EQ(rig["lMeasuringChannel3Value"].GetText("Caption"), "-");
  EXPECT_EQ(rig["sMeasuringChannel3Panel"].GetInt("PenColor"), kNormal);
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(rig[Format("lChannel%dName", n)].GetText("Caption"),
              Cp1250ToUtf8(state.Channels[n].Setup.Name));
    EXPECT_EQ(rig[Format("lMeasuringChannel%dUnit", n)].GetText("Caption"),
              Cp1250ToUtf8(state.Channels[n].Setup.Unit));
  }
  EXPECT_EQ(rig["lModuleName"].GetText("Caption"), " - " + Trim(state.UserData));

  // Rows by position: a short reply fills the first rows; overflow without "valid" is "-".
  peer->SetMeasuredData(Block(1, 0x80, "    12.50") + Block(2, 0x04, "    99.99") + "0123");
  rig["Timer1"].Fire("OnTimer");
  EXPECT_EQ(rig["lMeasuringChannel1Value"].GetText("Caption"), "    12.50 ");
  EXPECT_EQ(rig["lMeasuringChannel2Value"].GetText("Caption"), "-");
  EXPECT_EQ(rig["sMeasuringChannel2Panel"].GetInt("PenColor"), kNormal);
  EXPECT_EQ(rig["lMeasuringChannel3Value"].GetText("Caption"), "-");
  EXPECT_EQ(rig["lMeasuringChannel4Value"].GetText("Caption"), "-");

  // No answer at all: every row "-", names and units stay.
  TKvxSimFaults silent;
  silent.NoAnswer = true;
  module->SetFaults(silent);
  peer->SetMeasuredData({});
  rig["Timer1"].Fire("OnTimer");
  for (int n = 1; n <= 4; ++n)
    EXPECT_EQ(rig[Format("lMeasuringChannel%dValue", n)].GetText("Caption"), "-");
  EXPECT_EQ(rig["lChannel4Name"].GetText("Caption"), Cp1250ToUtf8(state.Channels[4].Setup.Name));
  EXPECT_EQ(rig.PageShown(), "pMeasure");
}

TEST_F(ModulePagesTest, TheTrendTakesEachTickWithGapsAndForgetsTheModuleOnDisconnect) {
  state.Channels[2].Overflow = true;
  state.Channels[3].NotValid = true;
  Connect(state);
  EXPECT_TRUE(rig.Form().Trend().Readings().empty());
  for (int tick = 0; tick < 3; ++tick) rig["Timer1"].Fire("OnTimer");
  const TTrend& trend = rig.Form().Trend();
  ASSERT_EQ(trend.Readings().size(), 3u);
  const TTrendReading& last = trend.Readings().back();
  EXPECT_EQ(last.Values[0].State, TReadingState::Valid);
  EXPECT_NEAR(last.Values[0].Value, std::stod(rig["lMeasuringChannel1Value"].GetText("Caption")),
              0.06);  // the text is rounded to the channel's decimals
  EXPECT_EQ(last.Values[1].State, TReadingState::Overflow);
  EXPECT_EQ(last.Values[2].State, TReadingState::Missing);
  EXPECT_LE(trend.Readings()[0].TimeMs, last.TimeMs);
  EXPECT_EQ(trend.Channels()[0].Name, Trim(Cp1250ToUtf8(state.Channels[1].Setup.Name)));
  EXPECT_EQ(trend.Channels()[0].Unit, Trim(Cp1250ToUtf8(state.Channels[1].Setup.Unit)));

  rig["ShapeEx2"].Click();  // disconnect
  EXPECT_TRUE(rig.Form().Trend().Readings().empty());
}

TEST_F(ModulePagesTest, TheRecordingHoldsTheTextThePageShows) {
  // The module's own rounding, where the number's to the channel's decimals (1, 2, 0) differs.
  Connect(state);
  peer->SetMeasuredData(Block(1, 0x80, "0.3", 0.25f) + Block(2, 0x80, "0.13", 0.125f) +
                        Block(3, 0x80, "3", 2.5f) + Block(4, 0x84, "OVERFLOW"));
  rig["Timer1"].Fire("OnTimer");
  std::istringstream cells(CsvLine(rig.Form().Trend().Readings().back()));
  std::string cell;
  std::getline(cells, cell, ',');  // the time
  for (int n = 1; n <= kChannelCount; ++n) {
    std::getline(cells, cell, n < kChannelCount ? ',' : '\n');
    EXPECT_EQ(cell, Trim(rig[Format("lMeasuringChannel%dValue", n)].GetText("Caption"))) << n;
  }
}

TEST_F(ModulePagesTest, TheChannelHeadingAndNumberFieldMessagesComeFromTheLanguageItems) {
  Connect(state);
  Press("sbChannel2");
  // Without a language file: the texts as they always were.
  EXPECT_EQ(rig["lChannel"].GetText("Caption"), "Kanál 2");
  EXPECT_EQ(rig["Label4"].GetText("Caption"),
            "( Vstupní rozsah: " + Trim(state.Channels[2].Setup.InputRange) + " )");
  EXPECT_EQ(rig["deMaxValue"].GetText("ShowName"), "Horní mez");
  EXPECT_EQ(rig["ieDecimals"].GetText("RangeMessage"), "%1 musí být v rozmezí od %2 do %3!");

  // A language file sets the items; the page shown follows at once.
  rig["txChannelHeading"].Set("Caption", "Channel %1");
  rig["txInputRange"].Set("Caption", "( Input range: %1 )");
  rig["txValueName"].Set("Caption", "Value");
  rig["txRangeMessage"].Set("Caption", "%1 must be between %2 and %3!");
  for (const char* label : {"Label6", "Label21", "Label7"}) rig[label].Set("Caption", "Value");
  EXPECT_EQ(rig["lChannel"].GetText("Caption"), "Channel 2");
  EXPECT_EQ(rig["Label4"].GetText("Caption"),
            "( Input range: " + Trim(state.Channels[2].Setup.InputRange) + " )");
  for (const char* field : {"deValueRangeMin", "deHystValue", "ieDecimals"}) {
    EXPECT_EQ(rig[field].GetText("ShowName"), "Value") << field;
    EXPECT_EQ(rig[field].GetText("RangeMessage"), "%1 must be between %2 and %3!") << field;
  }
  Press("sbChannel1");
  EXPECT_EQ(rig["lChannel"].GetText("Caption"), "Channel 1");
}

TEST_F(ModulePagesTest, TheTrendButtonOfTheMeasurementPageOpensTheTrend) {
  Connect(state);
  EXPECT_TRUE(rig["sTrend"].GetBool("Visible"));
  rig["sTrend"].Click();
  EXPECT_EQ(rig.Services.TrendShown(), 1);
}

TEST_F(ModulePagesTest, BlankUserDataGivesAnEmptyModuleName) {
  state.UserData = std::string(16, ' ');
  Connect(state);
  rig["Timer1"].Fire("OnTimer");
  EXPECT_EQ(rig["lModuleName"].GetText("Caption"), "");
}

TEST_F(ModulePagesTest, ChannelPageShowsTheEditedCopyAndMovesRows) {
  state.Channels[1].Setup.Loop = 1;
  state.Channels[2].Setup.Loop = 0;
  state.Channels[1].Setup.Offset = 0;
  state.Channels[1].Setup.Scale = 0.01f;
  state.Channels[1].Setup.GainPresent = true;
  state.Channels[1].Setup.GainIndex = 2;
  state.Channels[2].Setup.GainPresent = false;
  Connect(state);
  std::map<std::string, int> tops;
  for (const char* row : kRowsBelow420) tops[row] = rig[row].GetInt("Top");
  const int nameTop = rig["pChannelName"].GetInt("Top");
  const int gainTop = rig["pChannelGain"].GetInt("Top");
  const int shift = rig["p4_20mA"].GetInt("Height") + 1;

  Press("sbChannel1");
  EXPECT_EQ(rig.PageShown(), "pChannel");
  EXPECT_EQ(rig["lChannel"].GetText("Caption"), "Kanál 1");
  EXPECT_TRUE(rig["p4_20mA"].GetBool("Visible"));
  EXPECT_TRUE(rig["cb4_20mA"].GetBool("Checked"));
  EXPECT_DOUBLE_EQ(rig["deValueRangeMin"].GetReal("Value"), 0);
  EXPECT_DOUBLE_EQ(rig["deValueRangeMax"].GetReal("Value"), 100);
  EXPECT_EQ(rig["eChannelName"].GetText("Text"), Trim(state.Channels[1].Setup.Name));
  EXPECT_TRUE(rig["pChannelGain"].GetBool("Visible"));
  EXPECT_EQ(rig["cbbChannelGain"].GetInt("ItemIndex"), 2);
  for (const auto& [row, top] : tops) EXPECT_EQ(rig[row].GetInt("Top"), top) << row;

  Press("sbChannel2");
  EXPECT_FALSE(rig["p4_20mA"].GetBool("Visible"));
  EXPECT_FALSE(rig["pChannelGain"].GetBool("Visible")) << "a channel without gain offers none";
  for (const auto& [row, top] : tops) EXPECT_EQ(rig[row].GetInt("Top"), top - shift) << row;
  EXPECT_EQ(rig["pChannelName"].GetInt("Top"), nameTop);
  EXPECT_EQ(rig["pChannelGain"].GetInt("Top"), gainTop);
  EXPECT_EQ(rig.Form().EditedCopy().Setup[2].Loop, 0);  // filling changes nothing
  EXPECT_FALSE(rig["sSaveChanges1"].GetBool("Visible"));

  Press("sbChannel1");  // shown again: rows back down
  for (const auto& [row, top] : tops) EXPECT_EQ(rig[row].GetInt("Top"), top) << row;
}

class ItpPagesTest : public ModulePagesTest {
 protected:
  ItpPagesTest() : ModulePagesTest({"xitpx"}) {}
};

TEST_F(ItpPagesTest, TheSwitchShowsThe420RowForEveryChannel) {
  state.Channels[2].Setup.Loop = 0;
  Connect(state);
  EXPECT_TRUE(rig.Form().Show420Always());
  Press("sbChannel2");
  EXPECT_TRUE(rig["p4_20mA"].GetBool("Visible"));
  EXPECT_FALSE(rig["cb4_20mA"].GetBool("Checked"));
}

TEST_F(ModulePagesTest, AChannelTheModuleLacksShowsTheErrorPage) {
  state.Channels[3].Setup.Channel = 0;
  state.Channels[3].Watch.Channel = 0;
  Connect(state);
  Press("ShapeEx3");
  EXPECT_EQ(rig.PageShown(), "pError");
  EXPECT_EQ(rig["lChannel"].GetText("Caption"), "Kanál 3");
  EXPECT_FALSE(rig["Timer1"].GetBool("Enabled"));
}

TEST_F(ModulePagesTest, EditsShowAndHideTheSaveButton) {
  state.Channels[1].Setup.Loop = 2;
  Connect(state);
  Press("sbChannel1");
  const std::string name = Trim(state.Channels[1].Setup.Name);
  TViewElement& save = rig["sSaveChanges1"];

  rig["eChannelName"].Edit("Text", " Teplota ");
  EXPECT_EQ(rig.Form().EditedCopy().Setup[1].Name, "Teplota" + std::string(14, ' '));
  EXPECT_TRUE(save.GetBool("Visible"));
  rig["eChannelName"].Edit("Text", name);
  EXPECT_FALSE(save.GetBool("Visible"));

  EXPECT_FALSE(rig["cb4_20mA"].GetBool("Checked"));
  rig["cb4_20mA"].Edit("Checked", true);
  EXPECT_EQ(rig.Form().EditedCopy().Setup[1].Loop, 1);
  EXPECT_TRUE(save.GetBool("Visible"));
  rig["cb4_20mA"].Edit("Checked", false);
  EXPECT_FALSE(save.GetBool("Visible"));

  rig["deValueRangeMin"].Edit("Value", 0);
  rig["deValueRangeMax"].Edit("Value", 100);
  EXPECT_FLOAT_EQ(rig.Form().EditedCopy().Setup[1].Offset, 0);
  EXPECT_FLOAT_EQ(rig.Form().EditedCopy().Setup[1].Scale, 0.01f);

  const std::uint8_t flags = rig.Form().EditedCopy().Watch[1].Flags;
  rig["CheckBox2"].Edit("Checked", !(flags & 0x80));
  EXPECT_EQ(rig.Form().EditedCopy().Watch[1].Flags, flags ^ 0x80);
  rig["CheckBox2"].Edit("Checked", (flags & 0x80) != 0);
  EXPECT_EQ(rig.Form().EditedCopy().Watch[1].Flags, flags);

  rig["ieDecimals"].Edit("Value", 7);  // corrected to the nearer bound
  EXPECT_EQ(rig.Form().EditedCopy().Setup[1].Decimals, 2);
  rig["deHystValue"].Edit("Value", 2.5);
  EXPECT_FLOAT_EQ(rig.Form().EditedCopy().Watch[1].Hysteresis, 2.5f);

  // A pending user data change is dropped when the page is filled again.
  Press("sbCommunication");
  rig["mUserData"].Edit("Text", "Hala 4");
  EXPECT_EQ(rig.Form().EditedCopy().Ident.UserData, "Hala 4");
  Press("sbCommunication");
  EXPECT_EQ(rig.Form().EditedCopy().Ident.UserData, rig.Form().ReadCopy().Ident.UserData);

  // Disconnecting with an edit not saved asks first; "Zpět" keeps the module and the edit.
  rig["CheckBox2"].Edit("Checked", !(flags & 0x80));
  for (const bool answer : {false, true}) {
    SCOPED_TRACE(answer);
    rig.Services.Answer = answer;
    rig["ShapeEx2"].Click();
    ASSERT_FALSE(rig.Services.Questions.empty());
    EXPECT_EQ(rig.Services.Questions.back(), "Změny nejsou uloženy. Odpojit a změny zahodit?");
    EXPECT_EQ(rig.PageShown(), answer ? "pSearch" : "pConnection");
  }
}

TEST_F(ModulePagesTest, SavingSendsOnlyTheChangesAndShowsTheNewState) {
  Connect(state);
  Press("sbCommunication");
  rig["cbADR"].Edit("ItemIndex", 7);
  EXPECT_EQ(rig.Form().EditedCopy().Ident.Address, 7);
  EXPECT_TRUE(rig["sSaveChanges1"].GetBool("Visible"));
  module->ClearRequests();
  rig["sSaveChanges1"].Click();

  auto writes = Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].Instruction, kiEnableConfig);
  EXPECT_EQ(writes[1].Instruction, kiWriteCommParams);
  EXPECT_EQ(writes[1].Data, std::string({7, kFast}));
  EXPECT_EQ(module->State().Address, 7);
  EXPECT_FALSE(rig["sSaveChanges1"].GetBool("Visible"));
  EXPECT_EQ(rig.Form().ReadCopy().Ident.Address, 7);
  EXPECT_EQ(rig["cbADR"].GetInt("ItemIndex"), 7);
  EXPECT_EQ(rig.PageShown(), "pConnection");  // the page shown stays

  Press("sbChannel2");
  rig["eChannelUnit"].Edit("Text", "kPa");
  module->ClearRequests();
  rig["sSaveChanges1"].Click();
  writes = Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].Instruction, kiEnableConfig);
  EXPECT_EQ(writes[1].Address, 7);
  EXPECT_EQ(module->State().Channels[2].Setup.Unit, "kPa  ");
  EXPECT_EQ(module->State().Channels[1], state.Channels[1]);
  EXPECT_EQ(rig.Form().ReadCopy().Setup[2].Unit, "kPa  ");
  EXPECT_EQ(rig["eChannelUnit"].GetText("Text"), "kPa");
  EXPECT_EQ(rig.PageShown(), "pChannel");
}

TEST_F(ModulePagesTest, ASilentModuleLeadsToTheErrorPageAndRetryRecovers) {
  Connect(state);
  TKvxSimFaults silent;
  silent.NoAnswer = true;
  SaveUnit("sbChannel1", "bar", silent);
  EXPECT_EQ(rig.PageShown(), "pError");
  EXPECT_EQ(rig["Label12"].GetText("Caption"), "Chyba při komunikaci s modulem KVX!");

  rig["ShapeEx5"].Click();  // still silent: stays
  EXPECT_EQ(rig.PageShown(), "pError");

  module->SetFaults({});
  rig["ShapeEx5"].Click();
  EXPECT_EQ(rig.PageShown(), "pMeasure");
  EXPECT_TRUE(rig["sbMeasuring"].GetBool("Down"));
  EXPECT_TRUE(rig["Timer1"].GetBool("Enabled"));
  EXPECT_EQ(rig.Form().EditedCopy().Setup, rig.Form().ReadCopy().Setup);
}

TEST_F(ModulePagesTest, AUsbModuleHasFixedCommunicationSettings) {
  rig.AddUsbModule("KVX0100", "KVX DAZAZE", FastModule(mtUSB, 100));
  rig.Manager().RebuildChannels();
  TKVXChannel channel;
  rig.Manager().FindChannel("KVX0100", channel);
  ASSERT_TRUE(channel);
  rig.Form().Connect(channel);
  EXPECT_TRUE(rig["imgUSB"].GetBool("Visible"));
  EXPECT_FALSE(rig["imgXX"].GetBool("Visible"));
  for (const char* list : {"cbADR", "cbCommunicationSpeed"}) {
    EXPECT_FALSE(rig[list].GetBool("Enabled"));
    EXPECT_EQ(rig[list].GetInt("Color"), RGBColor(239, 230, 230));
  }
}

TEST_F(ModulePagesTest, ASpeedTheModuleKeepsLeavesItConnectedAndIsNamed) {
  std::vector<std::string> messages;
  const TMessageHandler previous =
      SetMessageHandler([&](const std::string& text) { messages.push_back(text); });
  Connect(state);
  Press("sbCommunication");
  rig["cbCommunicationSpeed"].Edit("ItemIndex", 9);
  TKvxSimFaults keeping;
  keeping.OnlyInstruction = kiWriteCommParams;
  keeping.IgnoreWrites = true;
  module->SetFaults(keeping);
  rig["sSaveChanges1"].Click();
  SetMessageHandler(previous);

  EXPECT_EQ(module->State().SpeedCode, kFast);
  EXPECT_EQ(rig.PageShown(), "pConnection");
  EXPECT_EQ(rig["cbCommunicationSpeed"].GetInt("ItemIndex"), kFast);
  EXPECT_THAT(rig.Form().CurrentChannel()->GetConnectionString(), ::testing::HasSubstr("115200"));
  EXPECT_THAT(messages, ElementsAre("Modul nepřijal tyto hodnoty:\nKomunikační rychlost"));
  EXPECT_FALSE(rig["sSaveChanges1"].GetBool("Visible"));  // the list shows what the module holds
}

TEST_F(ModulePagesTest, WhatASaveDidNotChangeIsNamedUntilASaveTakesIt) {
  const TMessageHandler previous = SetMessageHandler([](const std::string&) {});
  Connect(state);
  TKvxSimFaults ignoring;
  ignoring.IgnoreWrites = true;
  SaveUnit("sbChannel2", "psi", ignoring);
  EXPECT_THAT(rig.Form().FieldsNotTaken(), ElementsAre(TPageField{"Label2", "eChannelUnit", 2}));

  SaveUnit("sbChannel2", "psi", {});  // typed again
  SetMessageHandler(previous);
  EXPECT_EQ(module->State().Channels[2].Setup.Unit, "psi  ");
  EXPECT_TRUE(rig.Form().FieldsNotTaken().empty());
}

TEST_F(ModulePagesTest, AValueTheModuleRefusedIsShownAsItHoldsItAndNotSentAgain) {
  // 500 typed into Refused goes in a write the module acknowledges and ignores; Taken, typed
  // in the same save and again in the next, goes in the other write.
  const struct {
    const char *Refused, *Label, *Taken;
    std::uint8_t Ignored, TakenWrite;
  } cases[] = {
      {"deMaxValue", "Horní mez", "ieDecimals", kiWriteChannelWatch, kiWriteChannelSetup},
      {"deValueRangeMax", "Horní hranice rozsahu", "deHystValue", kiWriteChannelSetup,
       kiWriteChannelWatch},
  };
  std::vector<std::string> messages;
  const TMessageHandler previous =
      SetMessageHandler([&](const std::string& text) { messages.push_back(text); });
  Connect(state);
  TViewElement& save = rig["sSaveChanges1"];
  for (const auto& each : cases) {
    SCOPED_TRACE(each.Refused);
    messages.clear();
    Press("sbChannel1");
    const double held = rig[each.Refused].GetReal("Value");
    rig[each.Refused].Edit("Value", 500);
    rig[each.Taken].Edit("Value", 2);
    TKvxSimFaults ignoring;
    ignoring.OnlyInstruction = each.Ignored;
    ignoring.IgnoreWrites = true;
    module->SetFaults(ignoring);
    save.Click();
    EXPECT_THAT(messages,
                ElementsAre(std::string("Modul nepřijal tyto hodnoty:\nKanál 1: ") + each.Label));
    EXPECT_FALSE(save.GetBool("Visible"));
    Press("sbChannel2");
    Press("sbChannel1");
    EXPECT_EQ(rig[each.Refused].GetReal("Value"), held);

    module->SetFaults({});
    module->ClearRequests();
    rig[each.Taken].Edit("Value", 1);
    save.Click();
    const std::vector<TKvxSimRequest> writes = Writes();
    ASSERT_EQ(writes.size(), 2u);  // the enabling instruction and the one write
    EXPECT_EQ(writes[1].Instruction, each.TakenWrite);
    EXPECT_EQ(rig[each.Refused].GetReal("Value"), held);
  }
  SetMessageHandler(previous);
}

TEST_F(ModulePagesTest, RangeEndsShowTheirShortestTextAndRetypingThemChangesNothing) {
  // Per channel: bottom, top, and what is typed for the bottom ("-0" where it is 0).
  const double cases[kChannelCount][3] = {
      {-10, 10, -10}, {0, 0.3, -0.0}, {75.7, 534.9, 75.7}, {0, 100, -0.0}};
  for (int n = 1; n <= kChannelCount; ++n)
    RangeToScale(cases[n - 1][0], cases[n - 1][1], 10000, state.Channels[n].Setup.Offset,
                 state.Channels[n].Setup.Scale);
  Connect(state);
  for (int n = 1; n <= kChannelCount; ++n) {
    SCOPED_TRACE(n);
    Press(kChannelButtons[n - 1]);
    EXPECT_EQ(rig["deValueRangeMin"].GetReal("Value"), cases[n - 1][0]);
    EXPECT_EQ(rig["deValueRangeMax"].GetReal("Value"), cases[n - 1][1]);
    rig["deValueRangeMin"].Edit("Value", cases[n - 1][2]);
    rig["deValueRangeMax"].Edit("Value", rig["deValueRangeMax"].GetReal("Value"));
    EXPECT_FALSE(rig["sSaveChanges1"].GetBool("Visible"));
  }
  module->ClearRequests();
  rig["sSaveChanges1"].Click();
  EXPECT_THAT(Writes(), ::testing::IsEmpty());
}

TEST(MainWindowTest, CreationAndCommandLine) {
  TAppRig rig({"baudrate=38400", "-itp", "baudrate=57600"});
  TfMain& form = rig.Form();
  EXPECT_EQ(form.ExtraSpeed(), "baudrate=57600");
  EXPECT_TRUE(form.Show420Always());
  EXPECT_EQ(form.View().GetText("Caption"),
            Format("KVX setup %d.%d", KVX_VERSION_MAJOR, KVX_VERSION_MINOR));
  EXPECT_EQ(rig["cbADR"].ItemCount(), 254u);
  EXPECT_EQ(rig["cbADR"].Items()[253], "253");
  EXPECT_EQ(rig["cbbLanguage"].GetInt("ItemIndex"), 0);
  EXPECT_EQ(rig.PageShown(), "pSearch");
  EXPECT_EQ(form.View().GetText("ActiveControl"), "pSearch");
  // An address the list does not have leaves it without a selection.
  rig["cbADR"].Set("ItemIndex", 254);
  EXPECT_EQ(rig["cbADR"].GetInt("ItemIndex"), -1);
  // Channel buttons carry their channel number.
  EXPECT_EQ(rig["ShapeEx4"].GetInt("Tag"), 4);
}

}  // namespace
