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
// The places of the line that tells how a search ended, on the search page: below the list
// of modules, or (nothing found, the list hidden) where the list would begin, below the
// ports' problems. A problem takes a line of its own.
constexpr int kUnderTheList = 396;
constexpr int kBelowTheProblems = 100;
constexpr int kLabelHeight = 16;

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
  TChannelTestSetup setup;
  setup.ExtraSpeed = FExtraSpeed;
  setup.Speeds = &FSpeeds;
  return setup;
}

bool TfMain::TestChannel(const TKVXChannel& Channel, TKVXrec& Rec, bool KeepOpen) {
  FLastTestAnswered = false;
  TChannelTestSetup setup = TestSetup();
  setup.Address = FAddress;
  const TChannelTestResult result = TestChannelForModule(
      Channel, Rec, KeepOpen, setup,
      [this](const std::string& Text, int Point) { DebugLog(Text, this, 0, Point); });
  FLastTestAnswered = result.Answered;
  FLastTestCollided = result.Collided;
  return result.Found;
}

void TfMain::ScanCIs() {
  ShowChannelGone({});
  ShowPermissionRefused({});
  ShowPortHeld({}, {});
  ShowCollisions({});
  ShowSearchResult({}, kUnderTheList);
  FSearchProblems.clear();
  if (FClosing) return;
  TChannelTestSetup setup = TestSetup();
  if (Element("cbSearchAddresses").GetBool("Checked")) {
    const auto addresses = ParseAddressRange(Element("eAddressRange").GetText("Text"));
    if (!addresses || addresses->empty()) {
      ShowMessage(Element("lAddressRangeBad").GetText("Caption"));
      return;
    }
    setup.ScanAddresses = *addresses;
  }
  // The search tests every channel: a hot-plug test still under way would test one of its
  // lines at once (as "another program"), and its row would land out of order.
  FArrivals.clear();
  std::string refused;
  std::vector<TChannelProblem> problems;
  std::pair<std::string, std::string> held;
  std::vector<std::string> collisions;
  TViewElement& searching = Element("pSearching");
  Element("lbSearchingFound").ClearItems();
  Element("lConnectionDesc").Set("Caption", "");
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
      ShowFoundSoFar(search);
      FServices.ProcessMessages();
    });
    ShowSearchProgress(search);
    ShowFoundSoFar(search);
    refused = search.Refused();
    problems = search.Problems();
    held = search.Held();
    collisions = search.Collisions();
    FLastSearch = {search.Count(), search.Completed(), search.Done(), search.Cancelled()};
  } catch (...) {
    ShowPage(Element("pSearch"));
    throw;
  }
  FSpeeds.SaveFile();
  ShowPage(Element("pSearch"));
  // A port our service holds is the likeliest reason that nothing was found there.
  if (FFound.empty() && refused.empty() && !held.first.empty())
    ShowPortHeld(held.first, held.second);
  else if (FFound.empty() && refused.empty())
    ShowChannelProblems(problems);
  if (FFound.empty()) ShowPermissionRefused(refused);
  ShowCollisions(collisions);
  if (FLastSearch.Cancelled)
    ShowSearchResult(
        FillIn(Text("lSearchCancelledText"),
               {std::to_string(FLastSearch.Finished), std::to_string(FLastSearch.Channels),
                std::to_string(static_cast<int>(FLastSearch.Done * 100))}),
        kUnderTheList);
  else if (FFound.empty())
    ShowSearchResult(FillIn(Text("lNothingFoundText"), {std::to_string(FLastSearch.Channels)}),
                     kBelowTheProblems);
  ReplayDeferredChanges();
}

void TfMain::ShowFoundSoFar(const TModuleSearch& Search) {
  const std::vector<TFoundModule> found = Search.Found();
  if (found.size() == FFound.size()) return;
  // Rebuilt whole: a module read on an earlier channel goes before those of later ones.
  Element("lbFoundedModules").ClearItems();
  FFound.clear();
  FFoundAddresses.clear();
  for (const TFoundModule& module : found) AddFoundModule(module);
  TViewElement& list = Element("lbSearchingFound");
  list.SetItems(Element("lbFoundedModules").Items());
  FServices.Repaint(list);
}

void TfMain::ShowSearchResult(const std::string& Text, int Top) {
  TViewElement& result = Element("lSearchResult");
  // Nothing found: in the place of the list, below what was wrong with the ports.
  if (Top == kBelowTheProblems) {
    const TViewElement& problems = Element("lChannelGone");
    Top = std::max(Top, problems.GetBool("Visible")
                            ? problems.GetInt("Top") + problems.GetInt("Height") + 8
                            : 0);
  }
  result.Set("Top", Top);
  result.Set("Visible", !Text.empty());
  result.Set("Caption", Text);
}

void TfMain::ShowSearchProgress(const TModuleSearch& Search) {
  TViewElement& progress = Element("ProgressBar1");
  const int position =
      static_cast<int>(10 * static_cast<double>(Search.Count()) * Search.Done() + 0.5);
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
  if (FClosing || !Channel) return;
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
      PlaceFoundModule(found);
    }
    arrival = FArrivals.erase(arrival);
  }
  FSpeeds.SaveFile();
}

namespace {

// The place of Port among the manager's channels; past the end when it is not listed.
std::size_t ListIndex(TFTDIManager& Manager, const std::string& Port) {
  TChannelListLock lock(Manager);
  std::size_t index = 0;
  TKVXChannel channel;
  for (Manager.FirstChannel(channel); channel; Manager.NextChannel(channel), ++index)
    if (channel->GetPortName() == Port) return index;
  return index;
}

}  // namespace

void TfMain::PlaceFoundModule(const TFoundModule& Found) {
  const std::string port = Found.Channel->GetPortName();
  // The row binds the channel the manager lists for the port now, not an object it replaced
  // (an adapter pulled meanwhile has its test dropped, so it gets no row).
  TFoundModule module = Found;
  {
    TChannelListLock lock(FManager);
    TKVXChannel current;
    FManager.FindChannel(port, current);
    if (!current) return;
    module.Channel = current;
  }
  TViewElement& list = Element("lbFoundedModules");
  std::vector<std::string> rows = list.Items();
  // A row of the same module (its port and address) is replaced, not repeated.
  for (std::size_t row = FFound.size(); row-- > 0;) {
    if (FFound[row]->GetPortName() != port || FFoundAddresses[row] != module.Address) continue;
    FFound.erase(FFound.begin() + static_cast<std::ptrdiff_t>(row));
    FFoundAddresses.erase(FFoundAddresses.begin() + static_cast<std::ptrdiff_t>(row));
    if (row < rows.size()) rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(row));
  }
  const std::size_t index = ListIndex(FManager, port);
  std::size_t at = 0;
  while (at < FFound.size()) {
    const std::size_t other = ListIndex(FManager, FFound[at]->GetPortName());
    if (other > index || (other == index && FFoundAddresses[at] > module.Address)) break;
    ++at;
  }
  rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(std::min(at, rows.size())),
              FoundRowText(module));
  FFound.insert(FFound.begin() + static_cast<std::ptrdiff_t>(at), module.Channel);
  FFoundAddresses.insert(FFoundAddresses.begin() + static_cast<std::ptrdiff_t>(at), module.Address);
  list.SetItems(std::move(rows));
  for (const char* name : kFoundSection) Element(name).Set("Visible", true);
  list.Set("ItemIndex", static_cast<int>(at));
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
  // Every row of the port goes, whichever object of it the row was bound to.
  const std::string port = Channel ? Channel->GetPortName() : std::string();
  TViewElement& list = Element("lbFoundedModules");
  for (std::size_t row = FFound.size(); row-- > 0;) {
    if (!SameObject(FFound[row], Channel) && (port.empty() || FFound[row]->GetPortName() != port))
      continue;
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
  Element("lChannelGone").Set("Height", kLabelHeight);
  ShowPortMessage("lChannelGone", "lChannelGoneText", Port);
  if (!Port.empty()) DebugLog("Channel gone " + Port, this);
  if (Problem.Empty())
    FChannelProblem = {};
  else
    ShowChannelProblem(Problem);
}

std::string TfMain::ProblemCaption(const TChannelProblem& Problem) {
  const auto text =
      std::find_if(kProblemTexts.begin(), kProblemTexts.end(),
                   [&](const TProblemText& Entry) { return Entry.Kind == Problem.Kind; });
  if (text == kProblemTexts.end()) return {};
  std::vector<std::string> values;
  for (const std::string& value : Problem.Values) values.push_back(Cp1250ToUtf8(value));
  return FillIn(Text(text->Label), values);
}

void TfMain::ShowChannelProblem(const TChannelProblem& Problem) {
  FChannelProblem = Problem;
  TViewElement& message = Element("lChannelGone");
  message.Set("Height", kLabelHeight);
  message.Set("Visible", !Problem.Empty());
  if (const std::string caption = ProblemCaption(Problem); !caption.empty())
    message.Set("Caption", caption);
}

void TfMain::ShowChannelProblems(const std::vector<TChannelProblem>& Problems) {
  FSearchProblems = Problems;
  if (Problems.empty()) return;
  // Each channel's own cause, one a line; the first is kept as the channel problem.
  ShowChannelProblem(Problems.front());
  std::string text;
  for (const TChannelProblem& problem : Problems)
    if (const std::string caption = ProblemCaption(problem); !caption.empty())
      text += (text.empty() ? "" : "\n") + caption;
  TViewElement& message = Element("lChannelGone");
  message.Set("Caption", text);
  const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
  message.Set("Height", kLabelHeight * static_cast<int>(lines));
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
