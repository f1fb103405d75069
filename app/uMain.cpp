#include "app/uMain.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>
#include <thread>

#include "app/uMainLayout.h"
#include "app/uWindowColors.h"
#include "support/uCodePage.h"
#include "support/uConversionUtils.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"
#include "usb/uci_FTDIdirect.h"
#include "usb/uci_FTDImanager.h"

namespace {

constexpr std::uint8_t kTestAddress = 254;
constexpr double kRangeSpan = 10000;
constexpr std::uint8_t kWatchingBit = 0x80;

const char* const kPages[] = {"pSearch",  "pSearching",  "pError",
                              "pMeasure", "pConnection", "pChannel"};
const char* const kNumberFields[] = {"deValueRangeMax", "deValueRangeMin", "ieDecimals",
                                     "deMaxValue",      "deMinValue",      "deHystValue"};
const char* const kChannelButtons[] = {"sbChannel1", "sbChannel2", "ShapeEx3", "ShapeEx4"};
// Every element of the found-modules section.
const char* const kFoundSection[] = {"lFoundedModules", "sFoundedModules",  "lColumn1", "lColumn2",
                                     "lColumn3",        "lbFoundedModules", "sConnect"};

bool IsUsbChannel(const TKVXChannel& Channel) {
  return static_cast<bool>(Channel.Query<IFTDISerialPortInterface>());
}

// Why the channel could not be opened, for the trace.
std::string OpenFailureText(ICommunicationInterface& Channel) {
  switch (Channel.GetOpenFailure()) {
    case TOpenFailure::InUse:
      return " (in use by another program)";
    case TOpenFailure::Denied:
      return " (permission denied)";
    default:
      return {};
  }
}

std::string Flag(bool Value) {
  return Value ? "1" : "0";
}

// Gives a channel back its state and settings when a test ends, also by an error.
class TChannelRestore {
 public:
  TChannelRestore(const TKVXChannel& Channel, bool Skip)
      : FChannel(Channel),
        FSkip(Skip),
        FConnection(Channel->GetConnectionString()),
        FActive(Channel->GetActive()) {}
  ~TChannelRestore() {
    if (FSkip) return;
    // Runs while an error may be on its way out: a failure here must not end the program.
    try {
      FChannel->SetActive(FActive);
      FChannel->SetConnectionString(FConnection);
    } catch (const std::exception& error) {
      DebugLog(std::string("Restore CI ") + error.what());
    }
  }
  TChannelRestore(const TChannelRestore&) = delete;
  TChannelRestore& operator=(const TChannelRestore&) = delete;

 private:
  const TKVXChannel& FChannel;
  bool FSkip;
  std::string FConnection;
  bool FActive;
};

}  // namespace

TfMain::TfMain(TFTDIManager& Manager, IMainServices& Services, std::vector<std::string> Args,
               const TLanguageInit& InitializeLanguages)
    : FManager(Manager), FServices(Services) {
  CreateMainWindowElements(FView);
  ConnectHandlers();
  ApplyFieldTexts();
  // A language file changes the texts; what the window filled in from them follows.
  FTextListener = FView.AddListener([this](TViewElement& Changed, const std::string& Property) {
    if (Property != "Caption" || Changed.ClassName() != "TLanguageText") return;
    ApplyFieldTexts();
    if (Element("pChannel").GetBool("Visible")) ShowChannelHeading(PageChannel());
  });
  if (InitializeLanguages) {
    try {
      InitializeLanguages(*this);
    } catch (const std::exception& error) {
      FServices.ShowError(error.what());
    }
  }
  ReadCommandLine(Args);
  FManager.OnChannelArrived = Bind<&TfMain::ChannelArrived>(this);
  FManager.OnChannelRemoved = Bind<&TfMain::ChannelRemoved>(this);
  std::vector<std::string> addresses;
  for (int address = 0; address <= 253; ++address) addresses.push_back(Format("%d", address));
  Element("cbADR").SetItems(std::move(addresses));
  FView.Set("Caption", Format("KVX setup %d.%d", KVX_VERSION_MAJOR, KVX_VERSION_MINOR));
}

TfMain::~TfMain() {
  FView.RemoveListener(FTextListener);
  FManager.OnChannelArrived = {};
  FManager.OnChannelRemoved = {};
}

void TfMain::ReadCommandLine(const std::vector<std::string>& Args) {
  for (const std::string& arg : Args) {
    if (arg.find("itp") != std::string::npos) FShow420Always = true;
    if (arg.starts_with("baudrate")) FExtraSpeed = arg;
  }
}

void TfMain::OnClick(std::string_view Name, void (TfMain::*Handler)()) {
  Element(Name).SetHandler("OnClick", [this, Handler](TViewElement&) { (this->*Handler)(); });
}

void TfMain::OnChange(std::string_view Name, void (TfMain::*Handler)(TViewElement&)) {
  Element(Name).SetHandler("OnChange",
                           [this, Handler](TViewElement& Sender) { (this->*Handler)(Sender); });
}

void TfMain::ConnectHandlers() {
  OnClick("sbMeasuring", &TfMain::ShowMeasurePage);
  OnClick("pMeasure", &TfMain::ShowMeasurePage);
  OnClick("sTrend", &TfMain::ShowTrend);
  OnClick("sbCommunication", &TfMain::ShowCommunicationPage);
  for (const char* name : kChannelButtons)
    Element(name).SetHandler("OnClick", [this](TViewElement& b) { ChannelButtonClick(b); });
  OnClick("sSaveChanges1", &TfMain::SaveChanges);
  OnClick("ShapeEx2", &TfMain::Disconnect);
  OnClick("ShapeEx6", &TfMain::Disconnect);
  OnClick("Image5", &TfMain::Disconnect);
  OnClick("ShapeEx5", &TfMain::Retry);
  OnClick("sSearch", &TfMain::ScanCIs);
  OnClick("sConnect", &TfMain::lConnectClick);
  Element("Timer1").SetHandler("OnTimer", [this](TViewElement&) { MeasureTick(); });

  OnChange("cbCommunicationSpeed", &TfMain::SpeedChange);
  OnChange("cbADR", &TfMain::AddressChange);
  OnChange("mUserData", &TfMain::UserDataChange);
  OnChange("eChannelName", &TfMain::NameChange);
  OnChange("eChannelUnit", &TfMain::UnitChange);
  OnChange("deValueRangeMin", &TfMain::RangeChange);
  OnChange("deValueRangeMax", &TfMain::RangeChange);
  OnChange("ieDecimals", &TfMain::DecimalsChange);
  OnChange("cb4_20mA", &TfMain::LoopChange);
  OnChange("cbbChannelGain", &TfMain::GainChange);
  OnChange("CheckBox2", &TfMain::WatchingChange);
  OnChange("deMaxValue", &TfMain::LimitChange);
  OnChange("deMinValue", &TfMain::LimitChange);
  OnChange("deHystValue", &TfMain::LimitChange);
}

void TfMain::FormShow() {
  Connect(nullptr);
  Element("cbbLanguage").Set("ItemIndex", 0);
}

void TfMain::ShowPage(TViewElement& Page) {
  for (const char* name : kPages)
    if (TViewElement& page = Element(name); &page != &Page) page.Set("Visible", false);
  Page.Set("Visible", true);
  Page.BringToFront();
  FView.Set("ActiveControl", Page.Name());
  Element("Timer1").Set("Enabled", &Page == &Element("pMeasure"));
}

bool TfMain::TestChannel(const TKVXChannel& Channel, TKVXrec& Rec, bool KeepOpen,
                         std::uint8_t /*Address: always the universal one*/) {
  if (!Channel) return false;
  FLastTestAnswered = false;
  const std::string description = Channel->GetDescription();
  DebugLog("Assigned CI " + description, this, 0, 1);
  TChannelRestore restore(Channel, KeepOpen);

  const bool opened = Channel->Open();
  DebugLog("Open CI " + description + (opened ? " OK" : " fail") + OpenFailureText(*Channel), this,
           0, 2);
  bool answered = false;
  if (Channel->GetActive()) {
    const bool usb = IsUsbChannel(Channel);
    std::vector<std::pair<std::string, int>> speeds;
    if (usb)
      speeds = {{"baudrate=115200", 4}, {"baudrate=9600", 5}};
    else
      speeds = {{"baudrate=9600", 6}, {"baudrate=115200", 7}};
    if (!FExtraSpeed.empty()) speeds.emplace_back(FExtraSpeed, usb ? 5 : 7);
    for (const auto& [speed, point] : speeds) {
      Channel->SetConnectionString(speed);
      answered = CheckDevice(Channel);
      DebugLog("CheckDevice (result=" + Flag(answered) + ")", this, 0, point);
      if (answered) break;
    }
  }
  DebugLog("Open SP " + description + " (result=" + Flag(answered) + ")", this, 0, 8);
  FLastTestAnswered = answered;
  if (!answered) return false;

  // The download talks through the current channel; a test that a callback starts while a
  // module is connected must leave that connection in place.
  const TKVXChannel previous = FCurrent;
  FCurrent = Channel;
  bool downloaded = false;
  try {
    downloaded = KvxDownloadParams(Rec, Bind<&TfMain::Transact>(this));
    DebugLog("KvxDownloadParams (result=" + Flag(downloaded) + ")", this, 0, 9);
  } catch (const std::exception&) {
    downloaded = false;
  }
  FCurrent = previous;
  return downloaded;
}

bool TfMain::Connect(const TKVXChannel& Channel) {
  ShowChannelGone({});
  if (FCurrent && !SameObject(FCurrent, Channel) && FCurrent->GetActive())
    FCurrent->SetActive(false);
  FCurrent = Channel;
  FTrend.Clear();
  TBusyCursor busy(FServices);
  if (Channel) {
    FConnected = TestChannel(Channel, FRead, true, kTestAddress);
    if (FConnected) {
      Channel->Open();
      Refresh(false);
      PressMeasuring();
      ShowPage(Element("pMeasure"));
    } else {
      // What the pages hold now belongs to another module, or to a download that stopped
      // half way; saving from there would write it over this line.
      ForgetModule();
      ShowPage(Element("pError"));
    }
    ShowModulePicture();
  } else {
    FConnected = false;
    for (const char* name : {"imgUSB", "imgRS", "imgNovra"}) Element(name).Set("Visible", false);
    Element("imgXX").Set("Visible", true);
    ShowPage(Element("pSearch"));
  }
  return FConnected;
}

void TfMain::ShowModulePicture() {
  Element("imgUSB").Set("Visible", FRead.ModuleType == mtUSB);
  Element("imgRS").Set("Visible", FRead.ModuleType == mtRS);
  Element("imgNovra").Set("Visible", FRead.ModuleType == mtNOVRA);
  const bool known =
      FRead.ModuleType == mtUSB || FRead.ModuleType == mtRS || FRead.ModuleType == mtNOVRA;
  Element("imgXX").Set("Visible", !known);
}

bool TfMain::Refresh(bool Download) {
  TBusyCursor busy(FServices);
  if (Download && !DownloadReadCopy()) {
    ShowPage(Element("pError"));
    return false;
  }
  FEdited.Setup = FRead.Setup;
  FEdited.Watch = FRead.Watch;
  FEdited.Ident.UserData = FRead.Ident.UserData;
  FEdited.Ident.SpeedCode = FRead.Ident.SpeedCode;
  FEdited.Ident.Address = FRead.Ident.Address;
  FillCommunicationPage();
  FillMeasurementNames();
  UpdateSaveButton();
  return true;
}

bool TfMain::DownloadReadCopy() {
  try {
    return KvxDownloadParams(FRead, Bind<&TfMain::Transact>(this));
  } catch (const std::exception&) {
    // Every download error looks the same to the operator.
    return false;
  }
}

void TfMain::ForgetModule() {
  FRead = {};
  FEdited = {};
  FillCommunicationPage();
  FillChannelPage(FEdited, PageChannel());
  ShowChannelHeading(PageChannel());
  Element("cbbChannelGain").Set("ItemIndex", -1);
  ShowMeasurements({});
}

bool TfMain::Transact(std::uint8_t Instruction, const std::string& Data, std::uint8_t Address,
                      std::int32_t Timeout, std::string& Reply) {
  return ::Transact(FCurrent, Instruction, Data, Address, Timeout, Reply);
}

void TfMain::PressMeasuring() {
  Element("sbMeasuring").Set("Down", true);
}

void TfMain::ShowMeasurePage() {
  ShowPage(Element("pMeasure"));
}

void TfMain::ShowTrend() {
  FServices.ShowTrend();
}

void TfMain::ShowCommunicationPage() {
  FillCommunicationPage();
  ShowPage(Element("pConnection"));
}

void TfMain::ChannelButtonClick(TViewElement& Button) {
  ShowPage(Element(ShowChannelPage(Button.GetInt("Tag")) ? "pChannel" : "pError"));
}

void TfMain::Disconnect() {
  Connect(nullptr);
}

void TfMain::Retry() {
  if (!FConnected) {
    const TKVXChannel channel = FCurrent;
    Connect(channel);
    return;
  }
  if (!Refresh(true)) return;
  PressMeasuring();
  ShowPage(Element("pMeasure"));
}

// ---- search ----

void TfMain::ScanCIs() {
  ShowChannelGone({});
  ShowPermissionRefused({});
  std::string refused;
  TViewElement& searching = Element("pSearching");
  ShowPage(searching);
  FServices.Repaint(searching);
  try {
    TChannelListLock lock(FManager);
    FManager.RebuildChannels();
    TViewElement& list = Element("lbFoundedModules");
    TViewElement& progress = Element("ProgressBar1");
    TViewElement& description = Element("lConnectionDesc");
    list.ClearItems();
    progress.Set("Max", 10 * FManager.ChannelCount());
    progress.Set("Position", 0);
    FFound.clear();
    UpdateFoundSection();
    TKVXrec scratch;
    TKVXChannel channel;
    for (FManager.FirstChannel(channel); channel; FManager.NextChannel(channel)) {
      progress.Set("Position", progress.GetInt("Position") + 10);
      FServices.Repaint(progress);
      const std::string text = channel->GetDescription();
      description.Set("Caption", Cp1250ToUtf8(text));
      FServices.Repaint(description);
      DebugLog("TestCI " + text, this, 0, 10);
      // A channel that fails while it is tested has no module for the search; the search
      // goes on with the next one.
      std::string failure;
      bool found = false;
      try {
        found = TestChannel(channel, scratch, false, kTestAddress);
      } catch (const std::exception& error) {
        failure = error.what();
      }
      if (channel->GetOpenFailure() == TOpenFailure::Denied && refused.empty())
        refused = channel->GetPortName();
      if (found) {
        DebugLog("TestCI (result=1)", this, 0, 11);
        AddFoundModule(channel, scratch);
      } else {
        DebugLog(failure.empty() ? "TestCI (result=0)" : "TestCI (result=0) " + failure, this, 0,
                 12);
      }
    }
  } catch (...) {
    ShowPage(Element("pSearch"));
    throw;
  }
  const auto unlocked = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - unlocked <= std::chrono::milliseconds(1000)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    FServices.ProcessMessages();
  }
  ShowPage(Element("pSearch"));
  if (FFound.empty()) ShowPermissionRefused(refused);
}

void TfMain::AddFoundModule(const TKVXChannel& Channel, const TKVXrec& Rec) {
  const std::string port = IsUsbChannel(Channel) ? "USB" : Channel->GetPortName();
  Element("lbFoundedModules")
      .AddItem(std::string(ModelName(Rec.ModuleType)) + "|" + Cp1250ToUtf8(port) + "|" +
               Format("%.4d", Rec.Ident.Production.SerialNumber));
  FFound.push_back(Channel);
  UpdateFoundSection();
}

void TfMain::UpdateFoundSection() {
  TViewElement& list = Element("lbFoundedModules");
  list.Set("ItemIndex", static_cast<int>(list.ItemCount()) - 1);
  for (const char* name : kFoundSection) Element(name).Set("Visible", !FFound.empty());
}

void TfMain::lConnectClick() {
  const int row = Element("lbFoundedModules").GetInt("ItemIndex");
  if (row >= 0 && row < static_cast<int>(FFound.size())) Connect(FFound[row]);
}

void TfMain::ChannelArrived(const TKVXChannel& Channel) {
  TKVXrec scratch;
  if (!TestChannel(Channel, scratch, false, kTestAddress)) return;
  if (auto usb = Channel.Query<IFTDISerialPortInterface>()) usb->ResetDevice();
  AddFoundModule(Channel, scratch);
}

void TfMain::ChannelRemoved(const TKVXChannel& Channel) {
  if (Channel && SameObject(Channel, FCurrent)) {
    Connect(nullptr);
    if (Channel->GetActive()) Channel->Close(true);
    ShowChannelGone(Channel->GetPortName());
  }
  TViewElement& list = Element("lbFoundedModules");
  for (std::size_t row = FFound.size(); row-- > 0;) {
    if (!SameObject(FFound[row], Channel)) continue;
    FFound.erase(FFound.begin() + static_cast<std::ptrdiff_t>(row));
    if (row < list.ItemCount()) list.DeleteItem(row);
  }
  UpdateFoundSection();
}

void TfMain::ShowPortMessage(const char* Label, const char* Template, const std::string& Port) {
  TViewElement& message = Element(Label);
  message.Set("Visible", !Port.empty());
  if (Port.empty()) return;
  message.Set("Caption", FillIn(Text(Template), {Cp1250ToUtf8(Port)}));
}

void TfMain::ShowChannelGone(const std::string& Port) {
  FChannelGone = Port;
  ShowPortMessage("lChannelGone", "lChannelGoneText", Port);
  if (!Port.empty()) DebugLog("Channel gone " + Port, this);
}

void TfMain::ShowPermissionRefused(const std::string& Port) {
  FPermissionRefused = Port;
  ShowPortMessage("lNoPermission", "lNoPermissionText", Port);
}

// ---- configuration pages ----

void TfMain::FillCommunicationPage() {
  const TKVXTirmel& ident = FRead.Ident;
  Element("cbCommunicationSpeed").Set("ItemIndex", ident.SpeedCode);
  Element("cbADR").Set("ItemIndex", ident.Address);
  Element("eNameAndVersion").Set("Text", " " + Cp1250ToUtf8(ident.TypeText));
  Element("mUserData").Set("Text", Cp1250ToUtf8(ident.UserData));
  // Filling the user data field takes the read text back: a pending user data change is
  // dropped, pending speed and address changes stay.
  FEdited.Ident.UserData = ident.UserData;
  Element("ePidPis").Set("Text", " " + Cp1250ToUtf8(ident.Production.Text));
  const bool editable = FRead.ModuleType == mtRS;
  for (const char* name : {"cbCommunicationSpeed", "cbADR"}) {
    Element(name).Set("Enabled", editable);
    Element(name).Set("Color", editable ? clWhite : kPageColor);
  }
  UpdateSaveButton();
}

std::string TfMain::Text(std::string_view Name) const {
  return Element(Name).GetText("Caption");
}

void TfMain::ApplyFieldTexts() {
  for (const char* name : kNumberFields) {
    Element(name).Set("ShowName", Text("txValueName"));
    Element(name).Set("RangeMessage", Text("txRangeMessage"));
  }
}

void TfMain::ShowChannelHeading(int Channel) {
  Element("lChannel").Set("Caption", FillIn(Text("txChannelHeading"), {Format("%d", Channel)}));
  // The input range is the module's: blank when no module's record is held.
  const bool known = Channel >= 1 && Channel <= kChannelCount;
  const std::string range = known ? Cp1250ToUtf8(Trim(FEdited.Setup[Channel].InputRange)) : "";
  Element("Label4").Set("Caption", FillIn(Text("txInputRange"), {range}));
}

bool TfMain::ShowChannelPage(int Channel) {
  Element("pChannel").Set("Tag", Channel);
  ShowChannelHeading(Channel);
  if (Channel < 1 || Channel > kChannelCount || FEdited.Setup[Channel].Channel != Channel)
    return false;
  FillChannelPage(FEdited, Channel);
  return true;
}

void TfMain::FillChannelPage(const TKVXrec& Rec, int Channel) {
  const TChannelSetup& setup = Rec.Setup[Channel];
  const TChannelWatch& watch = Rec.Watch[Channel];
  Element("eChannelUnit").Set("Text", Cp1250ToUtf8(Trim(setup.Unit)));
  Element("deMaxValue").Set("Value", ShortestDecimal(watch.UpperLimit));
  Element("deMinValue").Set("Value", ShortestDecimal(watch.LowerLimit));
  Element("deHystValue").Set("Value", ShortestDecimal(watch.Hysteresis));
  Element("CheckBox2").Set("Checked", (watch.Flags & kWatchingBit) != 0);
  const TRange range = ScaleToRange(setup.Offset, setup.Scale, kRangeSpan);
  Element("deValueRangeMin").Set("Value", ShortestDecimal(range.Min));
  Element("deValueRangeMax").Set("Value", ShortestDecimal(range.Max));
  Element("ieDecimals").Set("Value", setup.Decimals);
  Element("eChannelName").Set("Text", Cp1250ToUtf8(Trim(setup.Name)));
  Element("cb4_20mA").Set("Checked", setup.Loop == 1);

  TViewElement& loopRow = Element("p4_20mA");
  const bool showLoop = setup.Loop != 0 || FShow420Always;
  if (showLoop != loopRow.GetBool("Visible")) {
    loopRow.Set("Visible", showLoop);
    const int shift = (loopRow.GetInt("Height") + 1) * (showLoop ? 1 : -1);
    for (const char* name : kRowsBelow420) {
      TViewElement& row = Element(name);
      row.Set("Top", row.GetInt("Top") + shift);
    }
  }
  if (setup.GainPresent) {
    Element("pChannelGain").Set("Visible", true);
    Element("cbbChannelGain").Set("ItemIndex", setup.GainIndex);
  }
}

void TfMain::UpdateSaveButton() {
  bool changed = FEdited.Ident.UserData != FRead.Ident.UserData ||
                 FEdited.Ident.SpeedCode != FRead.Ident.SpeedCode ||
                 FEdited.Ident.Address != FRead.Ident.Address;
  for (int ch = 1; ch <= kChannelCount; ++ch)
    changed =
        changed || FEdited.Setup[ch] != FRead.Setup[ch] || FEdited.Watch[ch] != FRead.Watch[ch];
  Element("sSaveChanges1").Set("Visible", changed);
}

void TfMain::SaveChanges() {
  if (!FServices.AcceptPendingEntry()) return;
  const TKVXrec saved = FEdited;
  bool readBack = false;
  {
    TBusyCursor busy(FServices);
    readBack = UploadAndReadBack();
  }
  if (!readBack) {
    ShowPage(Element("pError"));
    Element("sSaveChanges1").Set("Visible", false);
    return;
  }
  Refresh(false);
  const std::vector<TPageField> notTaken = KeepFieldsNotTaken(saved, FRead, FEdited);
  if (Element("pChannel").GetBool("Visible")) FillChannelPage(FRead, PageChannel());
  UpdateSaveButton();
  if (!notTaken.empty()) ReportFieldsNotTaken(notTaken);
}

bool TfMain::UploadAndReadBack() {
  const bool newSpeed = SpeedChanged(FRead, FEdited);
  const std::uint8_t speedCode = FEdited.Ident.SpeedCode;
  UploadChanges(FCurrent, FRead, FEdited);
  if (newSpeed && FCurrent) {
    const std::string before = FCurrent->GetConnectionString();
    FCurrent->SetConnectionString(Format("baudrate=%u", kSpeedCodes[speedCode]));
    if (DownloadReadCopy()) return true;
    FCurrent->SetConnectionString(before);
  }
  return DownloadReadCopy();
}

void TfMain::ReportFieldsNotTaken(const std::vector<TPageField>& Fields) {
  std::string text = Element("lChangesNotTaken").GetText("Caption");
  for (const TPageField& field : Fields) {
    text += "\n";
    if (field.Channel != 0)
      text += Element(kChannelButtons[field.Channel - 1]).GetText("Caption") + ": ";
    text += Element(field.Label).GetText("Caption");
  }
  ShowMessage(text);
}

int TfMain::PageChannel() const {
  return std::clamp(Element("pChannel").GetInt("Tag"), 1, kChannelCount);
}

void TfMain::SpeedChange(TViewElement& Sender) {
  const int index = Sender.GetInt("ItemIndex");
  if (index >= 0) FEdited.Ident.SpeedCode = static_cast<std::uint8_t>(index);
  UpdateSaveButton();
}

void TfMain::AddressChange(TViewElement& Sender) {
  const int index = Sender.GetInt("ItemIndex");
  if (index >= 0) FEdited.Ident.Address = static_cast<std::uint8_t>(index);
  UpdateSaveButton();
}

void TfMain::UserDataChange(TViewElement& Sender) {
  // The module keeps 16 characters; longer text would be cut there anyway.
  FEdited.Ident.UserData = Utf8ToCp1250(Sender.GetText("Text")).substr(0, 16);
  UpdateSaveButton();
}

void TfMain::NameChange(TViewElement& Sender) {
  FEdited.Setup[PageChannel()].Name = PadRight(Trim(Utf8ToCp1250(Sender.GetText("Text"))), 21);
  UpdateSaveButton();
}

void TfMain::UnitChange(TViewElement& Sender) {
  FEdited.Setup[PageChannel()].Unit = PadRight(Trim(Utf8ToCp1250(Sender.GetText("Text"))), 5);
  UpdateSaveButton();
}

void TfMain::RangeChange(TViewElement&) {
  TChannelSetup& setup = FEdited.Setup[PageChannel()];
  RangeToScale(Element("deValueRangeMin").GetReal("Value"),
               Element("deValueRangeMax").GetReal("Value"), kRangeSpan, setup.Offset, setup.Scale);
  UpdateSaveButton();
}

void TfMain::DecimalsChange(TViewElement& Sender) {
  FEdited.Setup[PageChannel()].Decimals =
      static_cast<std::uint8_t>(std::clamp(Sender.GetInt("Value"), 0, 2));
  UpdateSaveButton();
}

void TfMain::LoopChange(TViewElement& Sender) {
  FEdited.Setup[PageChannel()].Loop = Sender.GetBool("Checked") ? 1 : 2;
  UpdateSaveButton();
}

void TfMain::GainChange(TViewElement& Sender) {
  const int index = Sender.GetInt("ItemIndex");
  if (index >= 0) FEdited.Setup[PageChannel()].GainIndex = static_cast<std::uint8_t>(index);
  UpdateSaveButton();
}

void TfMain::WatchingChange(TViewElement& Sender) {
  std::uint8_t& flags = FEdited.Watch[PageChannel()].Flags;
  flags = Sender.GetBool("Checked") ? (flags | kWatchingBit) : (flags & ~kWatchingBit);
  UpdateSaveButton();
}

void TfMain::LimitChange(TViewElement& Sender) {
  TChannelWatch& watch = FEdited.Watch[PageChannel()];
  const float value = static_cast<float>(Sender.GetReal("Value"));
  if (Sender.Name() == "deMaxValue")
    watch.UpperLimit = value;
  else if (Sender.Name() == "deMinValue")
    watch.LowerLimit = value;
  else
    watch.Hysteresis = value;
  UpdateSaveButton();
}

// ---- measurement ----

void TfMain::MeasureTick() {
  std::array<TKVXChannelRecountedValue, kChannelCount> values{};
  std::string reply;
  try {
    reply = ReadMeasurements(FCurrent);
  } catch (const std::exception& error) {
    // A reply that cannot be parsed counts as none; the next tick tries again.
    DebugLog(std::string("ReadMeasurements ") + error.what(), this);
  }
  if (!reply.empty()) {
    for (TKVXChannelRecountedValue& value : values) {
      if (reply.size() >= kMeasuredBlockSize) {
        try {
          DecodeMeasuredValue(std::string_view(reply).substr(0, kMeasuredBlockSize), value);
        } catch (const std::exception&) {
          value.Valid = false;
        }
      }
      reply.erase(0, std::min(reply.size(), kMeasuredBlockSize));
    }
  }
  ShowMeasurements(values);
  AddToTrend(values);
}

void TfMain::ShowMeasurements(const std::array<TKVXChannelRecountedValue, kChannelCount>& Values) {
  for (int n = 1; n <= kChannelCount; ++n) {
    const TKVXChannelRecountedValue& value = Values[n - 1];
    TViewElement& text = Element(Format("lMeasuringChannel%dValue", n));
    TViewElement& frame = Element(Format("sMeasuringChannel%dPanel", n));
    const bool overflow = value.Valid && value.Overflow;
    text.Set("Caption", !value.Valid ? "-" : overflow ? "OVR " : Cp1250ToUtf8(value.Text));
    text.Set("FontColor", overflow ? clRed : kTextColor);
    frame.Set("PenColor", overflow ? clRed : kTextColor);
  }
  FillMeasurementNames();
}

void TfMain::FillMeasurementNames() {
  for (int n = 1; n <= kChannelCount; ++n) {
    Element(Format("lChannel%dName", n)).Set("Caption", Cp1250ToUtf8(FRead.Setup[n].Name));
    Element(Format("lMeasuringChannel%dUnit", n)).Set("Caption", Cp1250ToUtf8(FRead.Setup[n].Unit));
  }
  const std::string user = Trim(FRead.Ident.UserData);
  Element("lModuleName").Set("Caption", user.empty() ? "" : " - " + Cp1250ToUtf8(user));
}

void TfMain::AddToTrend(const std::array<TKVXChannelRecountedValue, kChannelCount>& Values) {
  TTrendChannels channels;
  TTrendReading reading;
  reading.TimeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  for (int n = 1; n <= kChannelCount; ++n) {
    const TChannelSetup& setup = FRead.Setup[n];
    channels[n - 1] = {Cp1250ToUtf8(Trim(setup.Name)), Cp1250ToUtf8(Trim(setup.Unit)),
                       setup.Decimals};
    const TKVXChannelRecountedValue& value = Values[n - 1];
    TTrendValue& entry = reading.Values[n - 1];
    entry.State = !value.Valid     ? TReadingState::Missing
                  : value.Overflow ? TReadingState::Overflow
                                   : TReadingState::Valid;
    entry.Value = static_cast<float>(value.Value);
  }
  FTrend.SetChannels(channels);
  FTrend.Add(reading);
}
