// The controller's construction, its event wiring, the page rule, connecting and
// disconnecting.
#include "app/uMain.h"

#include <algorithm>

#include "app/uMainLayout.h"
#include "protocol/uTirmel97.h"
#include "support/uStringUtils.h"
#include "usb/uci_FTDImanager.h"

namespace {

const char* const kPages[] = {"pSearch",  "pSearching",  "pError",
                              "pMeasure", "pConnection", "pChannel"};

}  // namespace

TfMain::TfMain(TFTDIManager& Manager, IMainServices& Services, std::vector<std::string> Args,
               const TLanguageInit& InitializeLanguages)
    : FManager(Manager), FServices(Services) {
  CreateMainWindowElements(FView);
  ConnectHandlers();
  ApplyFieldTexts();
  // A language file changes the texts; what the window filled in from them follows.
  FTextListener = FView.AddListener([this](TViewElement& Changed, const std::string& Property) {
    const bool numberLabel = std::any_of(
        kNumberFields.begin(), kNumberFields.end(),
        [&Changed](const TNumberField& Field) { return Changed.Name() == Field.Label; });
    if (Property != "Caption" || (Changed.ClassName() != "TLanguageText" && !numberLabel)) return;
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
  FSpeeds.LoadFile();
  FManager.OnChannelArrived = Bind<&TfMain::ChannelArrived>(this);
  FManager.OnChannelRemoved = Bind<&TfMain::ChannelRemoved>(this);
  std::vector<std::string> addresses;
  for (int address = 0; address <= kHighestModuleAddress; ++address)
    addresses.push_back(Format("%d", address));
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
    Element(name).SetHandler("OnClick",
                             [this](TViewElement& button) { ChannelButtonClick(button); });
  OnClick("sSaveChanges1", &TfMain::SaveChanges);
  OnClick("ShapeEx2", &TfMain::Disconnect);
  OnClick("ShapeEx6", &TfMain::Disconnect);
  OnClick("Image5", &TfMain::Disconnect);
  OnClick("ShapeEx5", &TfMain::Retry);
  OnClick("sSearch", &TfMain::ScanCIs);
  OnClick("sConnect", &TfMain::lConnectClick);
  OnClick("sCancelSearch", &TfMain::CancelSearch);
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
  // A language remembered from the last run is chosen already.
  if (TViewElement& languages = Element("cbbLanguage"); languages.GetInt("ItemIndex") < 0)
    languages.Set("ItemIndex", 0);
}

void TfMain::FormClose() {
  // A search under way ends now, letting go of its ports; so do the hot-plug tests.
  FClosing = true;
  CancelSearch();
  for (const auto& arrival : FArrivals) arrival->Cancel();
  Connect(nullptr);
}

void TfMain::ShowPage(TViewElement& Page) {
  for (const char* name : kPages)
    if (TViewElement& page = Element(name); &page != &Page) page.Set("Visible", false);
  Page.Set("Visible", true);
  Page.BringToFront();
  FView.Set("ActiveControl", Page.Name());
  Element("Timer1").Set("Enabled", &Page == &Element("pMeasure"));
}

bool TfMain::Connect(const TKVXChannel& Channel, std::uint8_t Address) {
  ShowChannelGone({});
  if (FCurrent && !SameObject(FCurrent, Channel) && FCurrent->GetActive())
    FCurrent->SetActive(false);
  FCurrent = Channel;
  FAddress = Address;
  FTrend.Clear();
  const TBusyLine busy(*this, Channel ? "txConnecting" : "");
  if (Channel) {
    FConnected = TestChannel(Channel, FRead, true);
    FSpeeds.SaveFile();
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

void TfMain::UseOwnAddress() {
  if (FRead.Ident.Address <= kHighestModuleAddress) FAddress = FRead.Ident.Address;
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
  const TBusyLine busy(*this, Download ? "txReading" : "");
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
    return KvxDownloadParams(FRead, Bind<&TfMain::Transact>(this), FAddress);
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

TfMain::TBusyLine::TBusyLine(TfMain& Form, std::string_view Text)
    : FForm(Form), FCursor(Form.FServices) {
  TViewElement& line = FForm.Element("lBusy");
  if (Text.empty() || line.GetBool("Visible")) return;
  line.Set("Caption", FForm.Text(Text));
  line.Set("Visible", true);
  FShown = true;
}

TfMain::TBusyLine::~TBusyLine() {
  if (FShown) FForm.Element("lBusy").Set("Visible", false);
}

void TfMain::Disconnect() {
  // Disconnecting drops what is not saved: the operator is asked first.
  if (Element("sSaveChanges1").GetBool("Visible") &&
      !FServices.Confirm(Text("txDisconnectUnsaved"), Text("txDisconnectYes"),
                         Text("txDisconnectNo")))
    return;
  Connect(nullptr);
}

void TfMain::Retry() {
  if (!FConnected) {
    // The row's own module: on a shared line the universal address would reach another.
    const TKVXChannel channel = FCurrent;
    Connect(channel, FAddress);
    return;
  }
  if (!Refresh(true)) return;
  PressMeasuring();
  ShowPage(Element("pMeasure"));
}
