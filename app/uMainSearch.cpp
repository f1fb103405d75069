// Testing a channel for a module, the search over every channel, and the found-modules list
// as channels come and go.
#include <chrono>
#include <exception>
#include <thread>

#include "app/uMain.h"
#include "app/uMainLayout.h"
#include "comm/uRefusedPort.h"
#include "support/uCodePage.h"
#include "support/uStringUtils.h"
#include "usb/uci_FTDIdirect.h"
#include "usb/uci_FTDImanager.h"

namespace {

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

// A result as the trace writes it.
std::string ResultDigit(bool Result) {
  return Result ? "1" : "0";
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

bool TfMain::TestChannel(const TKVXChannel& Channel, TKVXrec& Rec, bool KeepOpen) {
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
      DebugLog("CheckDevice (result=" + ResultDigit(answered) + ")", this, 0, point);
      if (answered) break;
    }
  }
  DebugLog("Open SP " + description + " (result=" + ResultDigit(answered) + ")", this, 0, 8);
  FLastTestAnswered = answered;
  if (!answered) return false;

  // The download talks through the current channel; a test that a callback starts while a
  // module is connected must leave that connection in place.
  const TKVXChannel previous = FCurrent;
  FCurrent = Channel;
  bool downloaded = false;
  try {
    downloaded = KvxDownloadParams(Rec, Bind<&TfMain::Transact>(this));
    DebugLog("KvxDownloadParams (result=" + ResultDigit(downloaded) + ")", this, 0, 9);
  } catch (const std::exception&) {
    downloaded = false;
  }
  FCurrent = previous;
  return downloaded;
}

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
        found = TestChannel(channel, scratch, false);
      } catch (const std::exception& error) {
        failure = error.what();
      }
      if (channel->GetOpenFailure() == TOpenFailure::Denied)
        refused += (refused.empty() ? "" : ", ") + RefusedPortText(*channel);
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
  if (!TestChannel(Channel, scratch, false)) return;
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
