#include "service/uKvxService.h"

#include <algorithm>

#include "serial/AfSafeSync.h"
#include "service/uSystemdNotify.h"
#include "support/uCodePage.h"
#include "support/uStringUtils.h"

namespace {

constexpr std::chrono::milliseconds kSearchStep{50};

}  // namespace

TKvxService::TKvxService(TServeSetup Setup) : FSetup(std::move(Setup)) {
  FManager.OnChannelArrived = Bind<&TKvxService::ChannelArrived>(this);
  FManager.OnChannelRemoved = Bind<&TKvxService::ChannelRemoved>(this);
}

TKvxService::~TKvxService() {
  FPollers.clear();
  FManager.OnChannelArrived = {};
  FManager.OnChannelRemoved = {};
}

void TKvxService::Search(std::vector<TServedModule> Plant) {
  // Modules a line found by itself are known too: forgotten below unless found again.
  for (const auto& poller : FPollers)
    for (const TServedModule& module : poller->Modules()) FKnown.try_emplace(module.Key(), module);
  FPollers.clear();
  FPlant.clear();
  for (TServedModule& module : Plant) {
    module.Up = false;
    FPlant.insert_or_assign(module.Key(), std::move(module));
  }
  std::vector<TKVXChannel> channels;
  {
    TChannelListLock lock(FManager);
    FManager.RebuildChannels();
    TKVXChannel channel;
    for (FManager.FirstChannel(channel); channel; FManager.NextChannel(channel))
      channels.push_back(channel);
  }
  FArrived.clear();
  Serve(std::move(channels));
  for (auto known = FKnown.begin(); known != FKnown.end();) {
    if (Served(known->first) || FPlant.contains(known->first)) {
      ++known;
      continue;
    }
    FSetup.Log(known->second.Model + " " + known->second.Serial +
               ": no longer found nor in the plant, forgotten");
    for (IServedModuleSink* sink : FSetup.Sinks) sink->Forget(known->second);
    known = FKnown.erase(known);
  }
  FNextSearch = Clock::now() + FSetup.SearchAgain;
}

void TKvxService::Tick() {
  AfMainThreadDispatcher()->ProcessPending();  // device changes: the callbacks below
  const bool due = Clock::now() >= FNextSearch;
  if (due || !FArrived.empty()) {
    // An arrival is searched alone; the periodic search takes every channel without a module.
    std::vector<TKVXChannel> channels = due ? Unserved() : std::move(FArrived);
    FArrived.clear();
    Serve(std::move(channels));
    if (due) FNextSearch = Clock::now() + FSetup.SearchAgain;
  }
  FeedWatchdog();
}

std::size_t TKvxService::Modules() const {
  std::size_t modules = 0;
  for (const auto& poller : FPollers) modules += poller->Modules().size();
  return modules;
}

bool TKvxService::WorkersAlive(Clock::duration Time) const {
  const Clock::time_point now = Clock::now();
  return std::all_of(FPollers.begin(), FPollers.end(),
                     [&](const auto& Poller) { return now - Poller->Heartbeat() < Time; });
}

void TKvxService::ChannelArrived(const TKVXChannel& Channel) {
  if (!Channel) return;
  const std::string port = Cp1250ToUtf8(Channel->GetPortName());
  for (const auto& poller : FPollers)
    if (poller->Port() == port) return poller->Reattach(Channel);
  FArrived.push_back(Channel);
}

void TKvxService::ChannelRemoved(const TKVXChannel& Channel) {
  // A poller notices by itself that its line went away; a channel not yet searched is dropped.
  std::erase_if(FArrived, [&](const TKVXChannel& Arrived) { return SameObject(Arrived, Channel); });
}

void TKvxService::Serve(std::vector<TKVXChannel> Channels) {
  if (!Channels.empty()) {
    TChannelTestSetup setup;
    setup.ExtraSpeed = FSetup.ExtraSpeed;
    setup.Speeds = &FSpeeds;
    setup.ScanAddresses = FSetup.ScanAddresses;
    TModuleSearch search(std::move(Channels), setup, nullptr, false);
    search.WaitToEnd(kSearchStep, [this] { FeedWatchdog(); });
    if (ExchangesStopped()) return;
    std::vector<TFoundModule> found = search.Found();
    while (!found.empty()) {
      const TKVXChannel channel = found.front().Channel;
      std::vector<TLineModule> line;
      for (auto module = found.begin(); module != found.end();) {
        if (!SameObject(module->Channel, channel)) {
          ++module;
          continue;
        }
        TLineModule served = LineModuleOf(module->Channel, module->Rec, module->Address);
        // A module that answers on two lines is served on the first only.
        if (!Served(served.Served.Key())) line.push_back(std::move(served));
        module = found.erase(module);
      }
      if (!line.empty()) StartPoller(channel, std::move(line));
    }
  }
  PublishMissing();
}

void TKvxService::StartPoller(const TKVXChannel& Channel, std::vector<TLineModule> Modules) {
  TLineSetup setup;
  setup.Period = FSetup.Period;
  const std::string port = Channel->GetPortName();
  for (const TSpeedMemory::TSpeed& speed :
       FSpeeds.Order(port, SearchSpeeds(Channel, FSetup.ExtraSpeed)))
    setup.Speeds.push_back(speed.Text);
  setup.ScanAddresses = FSetup.ScanAddresses;
  setup.Sinks = FSetup.Sinks;
  setup.OnCycle = FSetup.OnCycle;
  setup.Log = FSetup.Log;
  for (const TLineModule& module : Modules) {
    FKnown.insert_or_assign(module.Served.Key(), module.Served);
    FSetup.Log(module.Served.Model + " " + module.Served.Serial + " found on " +
               module.Served.Port +
               (module.Served.Address ? "@" + std::to_string(*module.Served.Address) : ""));
  }
  FPollers.push_back(std::make_unique<TLinePoller>(Channel, std::move(Modules), std::move(setup)));
}

std::vector<TKVXChannel> TKvxService::Unserved() {
  std::vector<TKVXChannel> channels;
  TChannelListLock lock(FManager);
  FManager.RebuildChannels();
  TKVXChannel channel;
  for (FManager.FirstChannel(channel); channel; FManager.NextChannel(channel)) {
    const std::string port = Cp1250ToUtf8(channel->GetPortName());
    if (std::none_of(FPollers.begin(), FPollers.end(),
                     [&](const auto& Poller) { return Poller->Port() == port; }))
      channels.push_back(channel);
  }
  return channels;
}

bool TKvxService::Served(const std::string& Key) const {
  return std::any_of(FPollers.begin(), FPollers.end(), [&](const auto& Poller) {
    const std::vector<TServedModule> modules = Poller->Modules();
    return std::any_of(modules.begin(), modules.end(),
                       [&](const TServedModule& Module) { return Module.Key() == Key; });
  });
}

void TKvxService::PublishMissing() {
  for (const auto& [key, module] : FPlant) {
    if (Served(key)) continue;
    TServedModule missing = module;
    const auto known = FKnown.find(key);
    // Shown where it was last served, if it was.
    if (known != FKnown.end() && !known->second.Port.empty()) {
      missing.Port = known->second.Port;
      missing.Address = known->second.Address;
    }
    if (known == FKnown.end() || known->second.Up)
      FSetup.Log(module.Model + " " + module.Serial + ": in the plant but not found");
    FKnown.insert_or_assign(key, missing);
    for (IServedModuleSink* sink : FSetup.Sinks) sink->Update(missing);
  }
}

void TKvxService::FeedWatchdog() {
  const std::optional<std::chrono::milliseconds> pace = WatchdogPace();
  const Clock::time_point now = Clock::now();
  if (!pace || now < FNextWatchdog) return;
  // A worker that hangs stops the feeding: the service manager then restarts the service.
  if (!WorkersAlive(2 * *pace)) return;
  NotifyWatchdog();
  FNextWatchdog = now + *pace;
}
