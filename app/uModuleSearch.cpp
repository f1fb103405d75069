#include "app/uModuleSearch.h"

#include <algorithm>
#include <exception>
#include <set>
#include <sstream>
#include <utility>

#include "comm/uRefusedPort.h"
#include "comm/uci_ISerialPortInterface.h"
#include "serial/AfPortHolder.h"
#include "serial/AfSafeSync.h"
#include "support/uStringUtils.h"
#include "usb/uci_FTDIdirect.h"

namespace {

// Why the channel could not be opened, for the trace.
std::string OpenFailureText(ICommunicationInterface& Channel) {
  switch (Channel.GetOpenFailure()) {
    case TOpenFailure::InUse:
      return " (" + PortInUseText("it", Channel.GetDeviceNode()) + ")";
    case TOpenFailure::Denied:
      return " (permission denied)";
    default:
      return {};
  }
}

std::string ResultDigit(bool Result) {
  return Result ? "1" : "0";
}

}  // namespace

// The search speeds of a channel in its kind's order, each with the point of its check.
std::vector<TSpeedMemory::TSpeed> SearchSpeeds(const TKVXChannel& Channel,
                                               const std::string& Extra) {
  const bool usb = static_cast<bool>(Channel.Query<IFTDISerialPortInterface>());
  std::vector<TSpeedMemory::TSpeed> speeds;
  if (usb)
    speeds = {{"baudrate=115200", 4}, {"baudrate=9600", 5}};
  else
    speeds = {{"baudrate=9600", 6}, {"baudrate=115200", 7}};
  if (!Extra.empty()) speeds.push_back({Extra, usb ? 5 : 7});
  return speeds;
}

namespace {

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

// The channels under test in this process; a test waits until its channel is free.
class TChannelClaim {
 public:
  TChannelClaim(const TKVXChannel& Channel, const std::atomic<bool>* Stop)
      : FIdentity(Channel.Identity()) {
    std::unique_lock lock(Lock());
    while (Claimed().contains(FIdentity)) {
      if (Stop && Stop->load()) return;
      Released().wait_for(lock, std::chrono::milliseconds(10));
    }
    Claimed().insert(FIdentity);
    FHeld = true;
  }
  ~TChannelClaim() {
    if (!FHeld) return;
    {
      std::lock_guard lock(Lock());
      Claimed().erase(FIdentity);
    }
    Released().notify_all();
  }
  TChannelClaim(const TChannelClaim&) = delete;
  TChannelClaim& operator=(const TChannelClaim&) = delete;
  bool Held() const { return FHeld; }

 private:
  static std::mutex& Lock() {
    static std::mutex lock;
    return lock;
  }
  static std::condition_variable& Released() {
    static std::condition_variable released;
    return released;
  }
  static std::set<const void*>& Claimed() {
    static std::set<const void*> claimed;
    return claimed;
  }

  const void* FIdentity;
  bool FHeld = false;
};

// The download's transaction, bound to the channel under test.
struct TChannelTransact {
  TKVXChannel Channel;
  bool Transact(std::uint8_t Instruction, const std::string& Data, std::uint8_t Address,
                std::int32_t Timeout, std::string& Reply) {
    return ::Transact(Channel, Instruction, Data, Address, Timeout, Reply);
  }
};

// Keeps the lines of one channel's test together in the trace file.
std::mutex GTraceLock;

}  // namespace

std::vector<TSpeedMemory::TSpeed> TSpeedMemory::Order(const std::string& Port,
                                                      std::vector<TSpeed> Speeds) const {
  std::lock_guard lock(FLock);
  const auto known = FSpeeds.find(Port);
  if (known == FSpeeds.end()) return Speeds;
  const auto answered = std::find_if(Speeds.begin(), Speeds.end(), [&](const TSpeed& Speed) {
    return Speed.Text == known->second;
  });
  if (answered != Speeds.end()) std::rotate(Speeds.begin(), answered, answered + 1);
  return Speeds;
}

void TSpeedMemory::Answered(const std::string& Port, const std::string& Speed) {
  std::lock_guard lock(FLock);
  FSpeeds[Port] = Speed;
}

std::string TSpeedMemory::Save() const {
  std::lock_guard lock(FLock);
  std::string text;
  for (const auto& [port, speed] : FSpeeds) text += port + "\t" + speed + "\n";
  return text;
}

void TSpeedMemory::Load(const std::string& Text) {
  std::lock_guard lock(FLock);
  std::istringstream lines(Text);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos || tab == 0 || !line.substr(tab + 1).starts_with("baudrate="))
      continue;
    FSpeeds[line.substr(0, tab)] = line.substr(tab + 1);
  }
}

TChannelTestResult TestChannelForModule(const TKVXChannel& Channel, TKVXrec& Rec, bool KeepOpen,
                                        const TChannelTestSetup& Setup,
                                        const TChannelTraceWriter& Trace) {
  TChannelTestResult result;
  if (!Channel) return result;
  const TChannelClaim claim(Channel, Setup.Stop);
  if (!claim.Held()) return result;
  const std::string description = Channel->GetDescription();
  Trace("Assigned CI " + description, 1);
  TChannelRestore restore(Channel, KeepOpen);

  const bool opened = Channel->Open();
  const std::string problem = opened ? std::string() : ProblemText(Channel->GetProblem());
  Trace("Open CI " + description + (opened ? " OK" : " fail") + OpenFailureText(*Channel) +
            (problem.empty() ? std::string() : " (" + problem + ")"),
        2);
  if (Channel->GetActive()) {
    const std::string port = Channel->GetPortName();
    std::vector<TSpeedMemory::TSpeed> speeds = SearchSpeeds(Channel, Setup.ExtraSpeed);
    if (Setup.Speeds) speeds = Setup.Speeds->Order(port, std::move(speeds));
    // A line whose speed cannot be set (a device server that keeps its own) is tried once.
    std::set<std::int32_t> tried;
    bool named = false;
    const auto serial = Channel.Query<ISerialPortInterface>();
    for (const TSpeedMemory::TSpeed& speed : speeds) {
      Channel->SetConnectionString(speed.Text);
      const std::int32_t line = serial ? serial->GetBaudRate() : 0;
      if (Format("baudrate=%d", line) != speed.Text && tried.contains(line)) {
        if (!std::exchange(named, true))
          Trace(port +
                    ": the device server does not set the line speed; tried at its own speed "
                    "only",
                0);
        continue;
      }
      tried.insert(line);
      bool garbled = false;
      result.Answered = CheckDevice(Channel, Setup.Address, kCheckTimeout, &garbled);
      // One garbled reply may be noise; a second in a row is several modules answering.
      if (!result.Answered && garbled) {
        result.Answered = CheckDevice(Channel, Setup.Address, kCheckTimeout, &garbled);
        result.Collided = result.Collided || (!result.Answered && garbled);
      }
      Trace("CheckDevice (result=" + ResultDigit(result.Answered) + ")", speed.Point);
      if (!result.Answered) continue;
      if (Setup.Speeds) Setup.Speeds->Answered(port, speed.Text);
      break;
    }
  }
  Trace("Open SP " + description + " (result=" + ResultDigit(result.Answered) + ")", 8);
  if (!result.Answered) return result;

  TChannelTransact transact{Channel};
  try {
    result.Found =
        KvxDownloadParams(Rec, Bind<&TChannelTransact::Transact>(&transact), Setup.Address);
    Trace("KvxDownloadParams (result=" + ResultDigit(result.Found) + ")", 9);
  } catch (const std::exception&) {
    result.Found = false;
  }
  return result;
}

std::vector<TFoundModule> ScanChannelAddresses(const TKVXChannel& Channel,
                                               const TChannelTestSetup& Setup,
                                               const TChannelTraceWriter& Trace) {
  std::vector<TFoundModule> found;
  if (!Channel) return found;
  const TChannelClaim claim(Channel, Setup.Stop);
  if (!claim.Held()) return found;
  const std::string description = Channel->GetDescription();
  const TChannelRestore restore(Channel, false);
  const bool opened = Channel->Open();
  Trace("Open CI " + description + (opened ? " OK" : " fail") + OpenFailureText(*Channel), 2);
  if (!Channel->GetActive()) return found;
  std::set<std::uint8_t> answered;
  TChannelTransact transact{Channel};
  for (const TSpeedMemory::TSpeed& speed : SearchSpeeds(Channel, Setup.ExtraSpeed)) {
    Channel->SetConnectionString(speed.Text);
    for (const std::uint8_t address : Setup.ScanAddresses) {
      if (Setup.Stop && Setup.Stop->load()) return found;
      if (answered.contains(address) || !CheckDevice(Channel, address, kScanCheckTimeout)) continue;
      answered.insert(address);
      TFoundModule module{Channel, {}, address};
      bool downloaded = false;
      try {
        downloaded =
            KvxDownloadParams(module.Rec, Bind<&TChannelTransact::Transact>(&transact), address);
      } catch (const std::exception&) {
        downloaded = false;
      }
      Trace("KvxDownloadParams @" + std::to_string(address) +
                " (result=" + ResultDigit(downloaded) + ")",
            9);
      if (downloaded) found.push_back(std::move(module));
    }
  }
  return found;
}

TModuleSearch::TModuleSearch(std::vector<TKVXChannel> Channels, const TChannelTestSetup& Setup,
                             const TLogSender* Sender, bool SearchLines,
                             std::function<void()> OnEnd)
    : FSetup(Setup), FSender(Sender), FSearchLines(SearchLines), FOnEnd(std::move(OnEnd)) {
  FSetup.Stop = &FStop;
  for (TKVXChannel& channel : Channels) {
    TEntry entry;
    entry.Description = channel->GetDescription();
    entry.Channel = std::move(channel);
    FEntries.push_back(std::move(entry));
  }
  FRunning = std::min(FEntries.size(), kMaxChannelsInFlight);
  for (std::size_t worker = 0; worker < FRunning; ++worker)
    FWorkers.emplace_back([this] { Work(); });
}

TModuleSearch::~TModuleSearch() {
  Cancel();
  for (std::thread& worker : FWorkers) worker.join();
}

void TModuleSearch::Cancel() {
  FStop = true;
}

bool TModuleSearch::Wait(std::chrono::milliseconds Time) {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, Time, [this] { return FRunning == 0; });
}

void TModuleSearch::WaitToEnd(std::chrono::milliseconds Step,
                              const std::function<void()>& EachStep) {
  while (!Wait(Step)) {
    if (ExchangesStopped()) Cancel();
    if (EachStep) EachStep();
  }
}

std::size_t TModuleSearch::Finished() const {
  std::lock_guard lock(FLock);
  return FFinished;
}

std::string TModuleSearch::Trying() const {
  std::lock_guard lock(FLock);
  for (const TEntry& entry : FEntries)
    if (entry.State == TState::Testing) return entry.Description;
  return {};
}

bool TModuleSearch::Tests(const TKVXChannel& Channel) const {
  std::lock_guard lock(FLock);
  return std::any_of(FEntries.begin(), FEntries.end(),
                     [&](const TEntry& Entry) { return SameObject(Entry.Channel, Channel); });
}

std::vector<TFoundModule> TModuleSearch::Found() const {
  std::lock_guard lock(FLock);
  std::vector<TFoundModule> found;
  for (const TEntry& entry : FEntries) {
    if (entry.Found) found.push_back({entry.Channel, *entry.Found});
    found.insert(found.end(), entry.Scanned.begin(), entry.Scanned.end());
  }
  return found;
}

std::vector<std::string> TModuleSearch::Collisions() const {
  std::lock_guard lock(FLock);
  std::vector<std::string> ports;
  for (const TEntry& entry : FEntries)
    if (entry.Collided) ports.push_back(entry.Channel->GetPortName());
  return ports;
}

std::vector<TKVXChannel> TModuleSearch::Unread() const {
  std::lock_guard lock(FLock);
  std::vector<TKVXChannel> unread;
  for (const TEntry& entry : FEntries)
    if (entry.Unread) unread.push_back(entry.Channel);
  return unread;
}

std::string TModuleSearch::Refused() const {
  std::lock_guard lock(FLock);
  std::string refused;
  for (const TEntry& entry : FEntries)
    if (entry.Refused) refused += (refused.empty() ? "" : ", ") + RefusedPortText(*entry.Channel);
  return refused;
}

std::pair<std::string, std::string> TModuleSearch::Held() const {
  std::lock_guard lock(FLock);
  for (const TEntry& entry : FEntries)
    if (!entry.Holder.empty()) return {entry.Channel->GetPortName(), entry.Holder};
  return {};
}

TChannelProblem TModuleSearch::Problem() const {
  std::lock_guard lock(FLock);
  for (const TEntry& entry : FEntries)
    if (!entry.Problem.Empty()) return entry.Problem;
  return {};
}

void TModuleSearch::Work() {
  // The events of the ports this thread opens come to it, not to the window's thread.
  const TAfOwnEventsScope events;
  const TKVXStopScope stop(FStop);
  for (;;) {
    TEntry* entry = nullptr;
    {
      std::lock_guard lock(FLock);
      if (FStop || FNext == FEntries.size()) break;
      entry = &FEntries[FNext++];
      entry->State = TState::Testing;
    }
    Test(*entry);
  }
  bool last;
  {
    std::lock_guard lock(FLock);
    last = --FRunning == 0;
  }
  FChanged.notify_all();
  if (last && FOnEnd) FOnEnd();
}

void TModuleSearch::Test(TEntry& Entry) {
  std::vector<std::pair<std::string, int>> lines;
  const TChannelTraceWriter trace = [&lines](const std::string& Text, int Point) {
    lines.emplace_back(Text, Point);
  };
  if (FSearchLines) trace("TestCI " + Entry.Description, 10);
  TKVXrec rec;
  TChannelTestResult result;
  std::vector<TFoundModule> scanned;
  // A channel that fails while it is tested has no module for the search.
  std::string failure;
  try {
    if (FSetup.ScanAddresses.empty()) {
      result = TestChannelForModule(Entry.Channel, rec, false, FSetup, trace);
    } else {
      scanned = ScanChannelAddresses(Entry.Channel, FSetup, trace);
      result.Found = !scanned.empty();
    }
  } catch (const std::exception& error) {
    failure = error.what();
  }
  const bool found = result.Found;
  if (FSearchLines && found) trace("TestCI (result=1)", 11);
  if (FSearchLines && !found)
    trace(failure.empty() ? "TestCI (result=0)" : "TestCI (result=0) " + failure, 12);
  {
    std::lock_guard lock(GTraceLock);
    for (const auto& [text, point] : lines) DebugLog(text, FSender, 0, point);
  }
  const bool refused = Entry.Channel->GetOpenFailure() == TOpenFailure::Denied;
  const std::string holder = Entry.Channel->GetOpenFailure() == TOpenFailure::InUse
                                 ? PortHolder(Entry.Channel->GetDeviceNode())
                                 : std::string();
  const TChannelProblem problem = found ? TChannelProblem{} : Entry.Channel->GetProblem();
  {
    std::lock_guard lock(FLock);
    Entry.State = TState::Done;
    Entry.Refused = refused;
    Entry.Holder = holder;
    Entry.Problem = problem;
    Entry.Unread = result.Answered && !found;
    if (found && scanned.empty()) Entry.Found = rec;
    Entry.Scanned = std::move(scanned);
    Entry.Collided = result.Collided;
    ++FFinished;
  }
  FChanged.notify_all();
}
