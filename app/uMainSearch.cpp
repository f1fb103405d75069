// Testing a channel for a module, the search over every channel, and the found-modules list
// as channels come and go.
#include <algorithm>
#include <chrono>

#include "app/uMain.h"
#include "app/uMainLayout.h"
#include "protocol/uModuleAddress.h"
#include "serial/AfSafeSync.h"
#include "support/uCodePage.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"
#include "usb/uci_FTDIdirect.h"
#include "usb/uci_FTDImanager.h"

namespace {

// How often the window looks at a running search's progress between handling its events.
constexpr auto kProgressStep = std::chrono::milliseconds(20);

bool IsUsbChannel(const TKVXChannel& Channel) {
  return static_cast<bool>(Channel.Query<IFTDISerialPortInterface>());
}

// Names the running search to the window for a scope, so that "Zrušit" and device changes
// find it.
class TRunningSearch {
 public:
  TRunningSearch(TModuleSearch*& Running, TModuleSearch& Search) : FRunning(Running) {
    FRunning = &Search;
  }
  ~TRunningSearch() { FRunning = nullptr; }
  TRunningSearch(const TRunningSearch&) = delete;
  TRunningSearch& operator=(const TRunningSearch&) = delete;

 private:
  TModuleSearch*& FRunning;
};

// A row of the found modules: model | port (and address on a scanned line) | serial number.
std::string FoundRowText(const TFoundModule& Found) {
  std::string port = IsUsbChannel(Found.Channel) ? "USB" : Found.Channel->GetPortName();
  if (Found.Address != kUniversalAddress) port = PortWithAddress(port, Found.Address);
  return std::string(ModelName(Found.Rec.ModuleType)) + "|" + Cp1250ToUtf8(port) + "|" +
         Format("%.4d", Found.Rec.Ident.Production.SerialNumber);
}

}  // namespace

TChannelTestSetup TfMain::TestSetup() {
  return {FExtraSpeed, &FSpeeds, nullptr, kUniversalAddress, {}};
}

bool TfMain::TestChannel(const TKVXChannel& Channel, TKVXrec& Rec, bool KeepOpen) {
  FLastTestAnswered = false;
  TChannelTestSetup setup = TestSetup();
  setup.Address = FAddress;
  const TChannelTestResult result = TestChannelForModule(
      Channel, Rec, KeepOpen, setup,
      [this](const std::string& Text, int Point) { DebugLog(Text, this, 0, Point); });
  FLastTestAnswered = result.Answered;
  return result.Found;
}

void TfMain::ScanCIs() {
  ShowChannelGone({});
  ShowPermissionRefused({});
  ShowPortHeld({}, {});
  ShowCollisions({});
  TChannelTestSetup setup = TestSetup();
  if (Element("cbSearchAddresses").GetBool("Checked")) {
    const auto addresses = ParseAddressRange(Element("eAddressRange").GetText("Text"));
    if (!addresses || addresses->empty()) {
      ShowMessage(Element("lAddressRangeBad").GetText("Caption"));
      return;
    }
    setup.ScanAddresses = *addresses;
  }
  std::string refused;
  std::pair<std::string, std::string> held;
  TChannelProblem problem;
  std::vector<std::string> collisions;
  TViewElement& searching = Element("pSearching");
  ShowPage(searching);
  FServices.Repaint(searching);
  try {
    TChannelListLock lock(FManager);
    FManager.RebuildChannels();
    TViewElement& progress = Element("ProgressBar1");
    Element("lbFoundedModules").ClearItems();
    progress.Set("Max", 10 * FManager.ChannelCount());
    progress.Set("Position", 0);
    FFound.clear();
    FFoundAddresses.clear();
    UpdateFoundSection();
    std::vector<TKVXChannel> channels;
    TKVXChannel channel;
    for (FManager.FirstChannel(channel); channel; FManager.NextChannel(channel))
      channels.push_back(channel);
    TModuleSearch search(std::move(channels), setup, this, true);
    const TRunningSearch running(FSearch, search);
    search.WaitToEnd(kProgressStep, [&] {
      ShowSearchProgress(search);
      FServices.ProcessMessages();
    });
    ShowSearchProgress(search);
    for (const TFoundModule& found : search.Found()) AddFoundModule(found);
    refused = search.Refused();
    held = search.Held();
    problem = search.Problem();
    collisions = search.Collisions();
  } catch (...) {
    ShowPage(Element("pSearch"));
    throw;
  }
  ShowPage(Element("pSearch"));
  // A port our service holds is the likeliest reason that nothing was found there.
  if (FFound.empty() && refused.empty() && !held.first.empty())
    ShowPortHeld(held.first, held.second);
  else if (FFound.empty() && refused.empty())
    ShowChannelProblem(problem);
  if (FFound.empty()) ShowPermissionRefused(refused);
  ShowCollisions(collisions);
  ReplayDeferredChanges();
}

void TfMain::ShowSearchProgress(const TModuleSearch& Search) {
  TViewElement& progress = Element("ProgressBar1");
  const int position = 10 * static_cast<int>(Search.Finished());
  if (progress.GetInt("Position") != position) {
    progress.Set("Position", position);
    FServices.Repaint(progress);
  }
  const std::string trying = Search.Trying();
  TViewElement& description = Element("lConnectionDesc");
  if (trying.empty() || description.GetText("Caption") == Cp1250ToUtf8(trying)) return;
  description.Set("Caption", Cp1250ToUtf8(trying));
  FServices.Repaint(description);
}

void TfMain::CancelSearch() {
  if (FSearch) FSearch->Cancel();
}

void TfMain::ReplayDeferredChanges() {
  const auto changes = std::exchange(FDeferred, {});
  for (const auto& [arrived, channel] : changes)
    arrived ? ChannelArrived(channel) : ChannelRemoved(channel);
}

void TfMain::AddFoundModule(const TFoundModule& Found) {
  const TKVXChannel& channel = Found.Channel;
  Element("lbFoundedModules").AddItem(FoundRowText(Found));
  FFound.push_back(channel);
  FFoundAddresses.push_back(Found.Address);
  UpdateFoundSection();
}

void TfMain::MoveFoundRow(std::uint8_t Before, const TKVXrec& Rec) {
  TViewElement& list = Element("lbFoundedModules");
  for (std::size_t row = 0; row < FFound.size(); ++row) {
    if (!SameObject(FFound[row], FCurrent) || FFoundAddresses[row] != Before) continue;
    FFoundAddresses[row] = FAddress;
    std::vector<std::string> rows = list.Items();
    if (row >= rows.size()) return;
    rows[row] = FoundRowText({FCurrent, Rec, FAddress});
    list.SetItems(std::move(rows));
    list.Set("ItemIndex", static_cast<int>(row));
    return;
  }
}

void TfMain::UpdateFoundSection() {
  TViewElement& list = Element("lbFoundedModules");
  list.Set("ItemIndex", static_cast<int>(list.ItemCount()) - 1);
  for (const char* name : kFoundSection) Element(name).Set("Visible", !FFound.empty());
}

void TfMain::lConnectClick() {
  const int row = Element("lbFoundedModules").GetInt("ItemIndex");
  if (row >= 0 && row < static_cast<int>(FFound.size()))
    Connect(FFound[static_cast<std::size_t>(row)], FFoundAddresses[static_cast<std::size_t>(row)]);
}

void TfMain::ChannelArrived(const TKVXChannel& Channel) {
  if (FSearch) {
    FDeferred.emplace_back(true, Channel);
    return;
  }
  auto ended = [self = std::weak_ptr<TfMain*>(FSelf)] {
    AfMainThreadDispatcher()->Post([self] {
      if (const auto form = self.lock()) (*form)->ArrivalsTested();
    });
  };
  FArrivals.push_back(
      std::make_unique<TModuleSearch>(std::vector{Channel}, TestSetup(), this, false, ended));
}

void TfMain::ArrivalsTested() {
  for (auto arrival = FArrivals.begin(); arrival != FArrivals.end();) {
    if (!(*arrival)->Wait(std::chrono::milliseconds(0))) {
      ++arrival;
      continue;
    }
    for (const TFoundModule& found : (*arrival)->Found()) {
      if (auto usb = found.Channel.Query<IFTDISerialPortInterface>()) usb->ResetDevice();
      AddFoundModule(found);
    }
    arrival = FArrivals.erase(arrival);
  }
}

void TfMain::ChannelRemoved(const TKVXChannel& Channel) {
  if (FSearch) {
    FDeferred.emplace_back(false, Channel);
    return;
  }
  // A test of the channel still under way ends here, without a row.
  std::erase_if(FArrivals, [&](const auto& Arrival) { return Channel && Arrival->Tests(Channel); });
  if (Channel && SameObject(Channel, FCurrent)) {
    Connect(nullptr);
    if (Channel->GetActive()) Channel->Close(true);
    ShowChannelGone(Channel->GetPortName(), Channel->GetProblem());
  }
  TViewElement& list = Element("lbFoundedModules");
  for (std::size_t row = FFound.size(); row-- > 0;) {
    if (!SameObject(FFound[row], Channel)) continue;
    FFound.erase(FFound.begin() + static_cast<std::ptrdiff_t>(row));
    FFoundAddresses.erase(FFoundAddresses.begin() + static_cast<std::ptrdiff_t>(row));
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

void TfMain::ShowChannelGone(const std::string& Port, const TChannelProblem& Problem) {
  FChannelGone = Port;
  ShowPortMessage("lChannelGone", "lChannelGoneText", Port);
  if (!Port.empty()) DebugLog("Channel gone " + Port, this);
  if (Problem.Empty())
    FChannelProblem = {};
  else
    ShowChannelProblem(Problem);
}

void TfMain::ShowChannelProblem(const TChannelProblem& Problem) {
  FChannelProblem = Problem;
  TViewElement& message = Element("lChannelGone");
  message.Set("Visible", !Problem.Empty());
  const auto text =
      std::find_if(kProblemTexts.begin(), kProblemTexts.end(),
                   [&](const TProblemText& Entry) { return Entry.Kind == Problem.Kind; });
  if (text == kProblemTexts.end()) return;
  std::vector<std::string> values;
  for (const std::string& value : Problem.Values) values.push_back(Cp1250ToUtf8(value));
  message.Set("Caption", FillIn(Text(text->Label), values));
}

void TfMain::ShowCollisions(const std::vector<std::string>& Ports) {
  FCollisions = Ports;
  std::string text;
  for (const std::string& port : Ports)
    text += (text.empty() ? "" : "\n") + FillIn(Text("lCollisionText"), {Cp1250ToUtf8(port)});
  TViewElement& message = Element("lCollision");
  message.Set("Visible", !text.empty());
  message.Set("Caption", text);
}

void TfMain::ShowPortHeld(const std::string& Port, const std::string& Holder) {
  TViewElement& message = Element("lPortHeld");
  message.Set("Visible", !Port.empty());
  if (!Port.empty())
    message.Set("Caption", FillIn(Text("lPortHeldText"), {Cp1250ToUtf8(Port), Holder}));
}

void TfMain::ShowPermissionRefused(const std::string& Port) {
  FPermissionRefused = Port;
  ShowPortMessage("lNoPermission", "lNoPermissionText", Port);
}
