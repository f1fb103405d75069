#include "service/uLinePoller.h"

#include <algorithm>

#include "app/uModuleSearch.h"
#include "serial/AfSafeSync.h"
#include "support/uCodePage.h"
#include "support/uStringUtils.h"

namespace {

constexpr std::chrono::seconds kFirstReopenPause{1};
// The longest wait without a heartbeat, so that the watchdog hears from a waiting worker too.
constexpr std::chrono::milliseconds kLongestWait{500};

TServedReadFailure FailureOf(bool ChannelActive, bool Garbled) {
  if (!ChannelActive) return TServedReadFailure::ChannelGone;
  return Garbled ? TServedReadFailure::Garbled : TServedReadFailure::NoAnswer;
}

std::string SecondsText(std::chrono::duration<double> Time) {
  return Format("%.2f s", Time.count());
}

}  // namespace

TLineModule LineModuleOf(const TKVXChannel& Channel, const TKVXrec& Rec, std::uint8_t Address) {
  TLineModule module;
  module.Address = Address;
  TServedModule& served = module.Served;
  served.Model = ModelName(Rec.ModuleType);
  served.Serial = Format("%.4d", Rec.Ident.Production.SerialNumber);
  served.Port = Cp1250ToUtf8(Channel->GetPortName());
  if (Address != kUniversalAddress) served.Address = Address;
  served.UserName = Trim(Cp1250ToUtf8(Rec.Ident.UserData));
  served.Up = true;
  for (int channel = 1; channel <= kChannelCount; ++channel) {
    served.Channels[channel - 1].Name = Trim(Cp1250ToUtf8(Rec.Setup[channel].Name));
    served.Channels[channel - 1].Unit = Trim(Cp1250ToUtf8(Rec.Setup[channel].Unit));
  }
  return module;
}

TLinePoller::TLinePoller(TKVXChannel Channel, std::vector<TLineModule> Modules, TLineSetup Setup)
    : FSetup(std::move(Setup)),
      FPort(Cp1250ToUtf8(Channel->GetPortName())),
      FChannel(std::move(Channel)),
      FReopenPause(kFirstReopenPause) {
  std::sort(Modules.begin(), Modules.end(),
            [](const TLineModule& A, const TLineModule& B) { return A.Address < B.Address; });
  for (TLineModule& module : Modules) {
    FIdentities.push_back(module.Served);
    FModules.push_back({std::move(module), 0, {}});
  }
  for (const std::uint8_t address : FSetup.ScanAddresses)
    if (std::none_of(FModules.begin(), FModules.end(),
                     [&](const TPolled& Polled) { return Polled.Module.Address == address; }))
      FUnanswered.push_back(address);
  Beat();
  FWorker = std::thread([this] { Run(); });
}

TLinePoller::~TLinePoller() {
  {
    std::lock_guard lock(FLock);
    FStop = true;
  }
  FWake.notify_all();
  FWorker.join();
}

void TLinePoller::Reattach(TKVXChannel Channel) {
  {
    std::lock_guard lock(FLock);
    FReattached = std::move(Channel);
  }
  FWake.notify_all();
}

void TLinePoller::Run() {
  // The events of the port this worker opens come to it, and its exchanges end when it stops.
  const TAfOwnEventsScope events;
  const TKVXStopScope stop(FStop);
  while (!FStop) {
    Beat();
    if (!LineOpen()) continue;
    const Clock::time_point start = Clock::now();
    for (TPolled& polled : FModules) {
      if (FStop || !FChannel->GetActive()) break;
      if (polled.Module.Served.Up || start >= polled.NextTry) Read(polled);
      Beat();
    }
    if (FStop) break;
    // A line with time to spare looks every round, a full one now and then.
    const bool spare = Clock::now() - start + std::chrono::milliseconds(kScanCheckTimeout) +
                           std::chrono::milliseconds(kTransactPause) <
                       FSetup.Period;
    if (!FUnanswered.empty() && FChannel->GetActive() &&
        (spare || ++FRound % kLookEveryRounds == 0))
      LookForNewModule();
    const Clock::time_point end = Clock::now();
    const Clock::time_point next = std::max(end, start + FSetup.Period);
    if (FChannel->GetActive()) ReportCycle(end - start, next - start);
    WaitUntil(next);
  }
  if (FChannel && FChannel->GetActive()) FChannel->Close(true);
}

bool TLinePoller::LineOpen() {
  if (FChannel->GetActive()) return true;
  if (FState == TLineState::Open) LineGone();
  if (Clock::now() < FNextOpen) {
    WaitUntil(FNextOpen);
    return false;
  }
  {
    std::lock_guard lock(FLock);
    if (FReattached) FChannel = std::move(FReattached);
  }
  if (FChannel->Open() && FChannel->GetActive()) {
    FindSpeed();
    if (FState == TLineState::Gone) FSetup.Log(FPort + ": the line is back");
    FState = TLineState::Open;
    FReopenPause = kFirstReopenPause;
    return true;
  }
  if (FState == TLineState::Starting) LineGone();
  FNextOpen = Clock::now() + FReopenPause;
  FReopenPause = std::min<Clock::duration>(2 * FReopenPause, kLongestReopenPause);
  return false;
}

// Every module of a line that went away is down at once, as the window leaves a pulled module.
void TLinePoller::LineGone() {
  const bool wasOpen = FState == TLineState::Open;
  FState = TLineState::Gone;
  FSetup.Log(FPort + (wasOpen ? ": the line is gone" : ": the line cannot be opened"));
  for (TPolled& polled : FModules) {
    TServedModule& served = polled.Module.Served;
    if (served.Up) FSetup.Log(Place(polled) + ": down (the line is gone)");
    served.Up = false;
    polled.FailuresInRow = kFailuresForDown;
    Publish(served);
  }
}

void TLinePoller::FindSpeed() {
  for (const std::string& speed : FSetup.Speeds) {
    FChannel->SetConnectionString(speed);
    for (const TPolled& polled : FModules)
      if (CheckDevice(FChannel, polled.Module.Address)) return;
    if (FStop) return;
  }
  // No module answers at any speed: they are read at the likeliest one and count as failing.
  if (!FSetup.Speeds.empty()) FChannel->SetConnectionString(FSetup.Speeds.front());
}

std::vector<TServedModule> TLinePoller::Modules() const {
  std::lock_guard lock(FLock);
  return FIdentities;
}

void TLinePoller::LookForNewModule() {
  FNextLook %= FUnanswered.size();
  const std::uint8_t address = FUnanswered[FNextLook];
  if (!CheckDevice(FChannel, address, kScanCheckTimeout)) {
    ++FNextLook;
    return;
  }
  TKVXrec rec;
  struct TLineTransact {
    const TKVXChannel& Channel;
    bool Transact(std::uint8_t Instruction, const std::string& Data, std::uint8_t To,
                  std::int32_t Timeout, std::string& Reply) {
      return ::Transact(Channel, Instruction, Data, To, Timeout, Reply);
    }
  } transact{FChannel};
  try {
    if (!KvxDownloadParams(rec, Bind<&TLineTransact::Transact>(&transact), address)) return;
  } catch (const std::exception&) {
    return;  // asked again when its turn comes round
  }
  TLineModule module = LineModuleOf(FChannel, rec, address);
  FSetup.Log(module.Served.Model + " " + module.Served.Serial + " found on " + FPort + "@" +
             std::to_string(address));
  {
    std::lock_guard lock(FLock);
    FIdentities.push_back(module.Served);
  }
  FUnanswered.erase(FUnanswered.begin() + static_cast<std::ptrdiff_t>(FNextLook));
  const auto place = std::find_if(FModules.begin(), FModules.end(), [&](const TPolled& Polled) {
    return Polled.Module.Address > address;
  });
  FModules.insert(place, {std::move(module), 0, {}});
}

void TLinePoller::Read(TPolled& Polled) {
  TServedModule& served = Polled.Module.Served;
  std::string reply;
  bool garbled = false;
  bool answered = false;
  try {
    answered = ReadMeasurementsOnce(FChannel, Polled.Module.Address, reply, garbled,
                                    served.Up ? kMeasureTimeout : kDownRetryTimeout);
  } catch (const std::exception&) {
    garbled = true;  // a frame that passed its checksum but could not be parsed
  }
  AfPumpOwnEvents();
  if (FStop) return;  // cut short by the stop, not by the module
  ++served.Reads;
  if (answered) {
    const auto values = DecodeMeasurements(reply);
    for (int index = 0; index < kChannelCount; ++index) {
      const TKVXChannelRecountedValue& value = values[index];
      TServedChannel& channel = served.Channels[index];
      channel.Status = !value.Valid     ? TServedChannelStatus::None
                       : value.Overflow ? TServedChannelStatus::Overflow
                                        : TServedChannelStatus::Value;
      channel.Value = value.Value;
      channel.Text = Trim(Cp1250ToUtf8(value.Text));
    }
    served.LastRead = std::chrono::system_clock::now();
    if (!served.Up) FSetup.Log(Place(Polled) + ": up");
    served.Up = true;
    Polled.FailuresInRow = 0;
  } else {
    ++served.Failures[static_cast<std::size_t>(FailureOf(FChannel->GetActive(), garbled))];
    if (++Polled.FailuresInRow >= kFailuresForDown && served.Up) {
      served.Up = false;
      FSetup.Log(Place(Polled) + ": down (no answer to " + std::to_string(kFailuresForDown) +
                 " reads)");
    }
    if (!served.Up) Polled.NextTry = Clock::now() + kDownRetryPeriods * FSetup.Period;
  }
  Publish(served);
}

void TLinePoller::Publish(const TServedModule& Module) {
  for (IServedModuleSink* sink : FSetup.Sinks) sink->Update(Module);
}

void TLinePoller::ReportCycle(Clock::duration Reading, Clock::duration Cycle) {
  if (FSetup.OnCycle) FSetup.OnCycle(FPort, Cycle);
  const bool stretched = Reading > FSetup.Period;
  if (stretched == FStretched) return;
  FStretched = stretched;
  FSetup.Log(stretched ? FPort + ": reading its modules takes " + SecondsText(Reading) +
                             ", longer than the period of " + SecondsText(FSetup.Period) +
                             "; each module is read less often"
                       : FPort + ": its modules are read within the period again");
}

void TLinePoller::WaitUntil(Clock::time_point Time) {
  std::unique_lock lock(FLock);
  // A line that is gone is opened at once when its device comes back.
  while (!FStop && Clock::now() < Time && !(FReattached && FState == TLineState::Gone)) {
    FWake.wait_until(lock, std::min(Time, Clock::now() + kLongestWait));
    Beat();
  }
}

std::string TLinePoller::Place(const TPolled& Polled) const {
  const TServedModule& served = Polled.Module.Served;
  const std::string at = served.Address ? FPort + "@" + std::to_string(*served.Address) : FPort;
  return served.Model + " " + served.Serial + " on " + at;
}
