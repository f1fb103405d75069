#include "comm/uci_ICommunicationInterface.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "comm/uTraceMonitor.h"
#include "support/uProgramArgs.h"
#include "support/uXmlUtils.h"

namespace {

using TTraceHook = void (*)(TCommunicationInterface& Channel, const std::string& Data,
                            std::uint8_t Direction);

void MonitorSender(TCommunicationInterface&, const std::string& Data, std::uint8_t Direction) {
  SendToTraceMonitor(Direction, Data);
}

TTraceHook HookFromArguments() {
  return HasSwitch("DST") || HasSwitch("STD") ? &MonitorSender : nullptr;
}

std::atomic<TTraceHook>& TraceHook() {
  static std::atomic<TTraceHook> hook{HookFromArguments()};
  return hook;
}

std::chrono::milliseconds WholeMilliseconds(double ms) {
  return std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(ms)));
}

}  // namespace

bool InitTraceMonitor() {
  const TTraceHook hook = HookFromArguments();
  TraceHook().store(hook);
  return hook != nullptr;
}

TCommunicationInterface::TCommunicationInterface(std::string ConnectionString) : TNodedInterface() {
  FPending.ConnectionString = std::move(ConnectionString);
}

TCommunicationInterface::TCommunicationInterface(const TXMLNode& Element,
                                                 TIntfPtr<IInterface> Parent)
    : TNodedInterface() {
  FPending.FromXML = true;
  FPending.Element = Element;
  FPending.Parent = std::move(Parent);
}

TCommunicationInterface::~TCommunicationInterface() = default;

void TCommunicationInterface::AfterConstruction() {
  TNodedInterface::AfterConstruction();
  const TPendingCreation pending = std::exchange(FPending, {});
  if (!pending.ConnectionString.empty()) SetConnectionString(pending.ConnectionString);
  if (pending.FromXML) {
    LoadFromXML(pending.Element, true, true);
    SetParent(pending.Parent);
  }
}

void* TCommunicationInterface::FindInterface(const TGUID& iid) {
  if (iid == ICommunicationInterface::IID) return static_cast<ICommunicationInterface*>(this);
  if (iid == ICommunicationInterfaceCore::IID)
    return static_cast<ICommunicationInterfaceCore*>(this);
  return TNodedInterface::FindInterface(iid);
}

void TCommunicationInterface::LoadFromXML(const TXMLNode& Element, bool Attach, bool ReloadGUID) {
  TNodedInterface::LoadFromXML(Element, Attach, ReloadGUID);
  std::string text;
  if (Element && TryReadAttr(Element, text, "connectionstring")) SetConnectionString(text);
}

void TCommunicationInterface::SaveToXML() {
  TNodedInterface::SaveToXML();
  if (TXMLNode element = GetXMLNode())
    element.SetAttribute("connectionstring", GetConnectionString());
}

// --- handlers and lists --------------------------------------------------------------------

void TCommunicationInterface::SetOnDataReceived(const TCiNotify& Handler) {
  std::lock_guard guard(FHandlerLock);
  OnDataReceived = Handler;
}

TCiNotify TCommunicationInterface::GetOnDataReceived() {
  std::lock_guard guard(FHandlerLock);
  return OnDataReceived;
}

void TCommunicationInterface::SetOnOpened(const TCiNotify& Handler) {
  std::lock_guard guard(FHandlerLock);
  OnOpened = Handler;
}

TCiNotify TCommunicationInterface::GetOnOpened() {
  std::lock_guard guard(FHandlerLock);
  return OnOpened;
}

void TCommunicationInterface::SetOnClosed(const TCiNotify& Handler) {
  std::lock_guard guard(FHandlerLock);
  OnClosed = Handler;
}

TCiNotify TCommunicationInterface::GetOnClosed() {
  std::lock_guard guard(FHandlerLock);
  return OnClosed;
}

void TCommunicationInterface::SetOnModemLineChange(const TCiNotifyChangeEvent& Handler) {
  std::lock_guard guard(FHandlerLock);
  OnModemLineChange = Handler;
}

TCiNotifyChangeEvent TCommunicationInterface::GetOnModemLineChange() {
  std::lock_guard guard(FHandlerLock);
  return OnModemLineChange;
}

TeventerCiNotify& TCommunicationInterface::GetDataReceivedEvents() {
  return DataReceivedEvents.Get();
}
TeventerCiNotify& TCommunicationInterface::GetOpenedEvents() {
  return OpenedEvents.Get();
}
TeventerCiNotify& TCommunicationInterface::GetClosedEvents() {
  return ClosedEvents.Get();
}
TeventerCiNotify& TCommunicationInterface::GetSettingsChangedEvents() {
  return SettingsChangedEvents.Get();
}
TeventerCiNotifyChangeEvent& TCommunicationInterface::GetModemLineEvents() {
  return ModemLineEvents.Get();
}

// --- notifications -------------------------------------------------------------------------

void TCommunicationInterface::DoDataReceived(const TIntfPtr<ICommunicationInterface>& Channel) {
  const TIntfPtr<ICommunicationInterface> channel = Channel ? Channel : SelfChannel();
  try {
    if (const TCiNotify handler = GetOnDataReceived()) handler(channel);
    if (auto* list = DataReceivedEvents.IfCreated()) list->Fire(channel);
  } catch (...) {
  }
}

void TCommunicationInterface::DoOpened() {
  const auto channel = SelfChannel();
  try {
    if (auto* list = OpenedEvents.IfCreated()) list->Fire(channel);
    if (const TCiNotify handler = GetOnOpened()) handler(channel);
  } catch (...) {
  }
}

void TCommunicationInterface::DoClosed() {
  const auto channel = SelfChannel();
  try {
    if (auto* list = ClosedEvents.IfCreated()) list->Fire(channel);
    if (const TCiNotify handler = GetOnClosed()) handler(channel);
  } catch (...) {
  }
}

void TCommunicationInterface::DoModemLineChange(std::int32_t Line, bool State) {
  const auto channel = SelfChannel();
  try {
    if (auto* list = ModemLineEvents.IfCreated()) list->Fire(channel, Line, State);
    if (const TCiNotifyChangeEvent handler = GetOnModemLineChange()) handler(channel, Line, State);
  } catch (...) {
  }
}

void TCommunicationInterface::DoSettingsChanged() {
  const auto channel = SelfChannel();
  try {
    if (auto* list = SettingsChangedEvents.IfCreated()) list->Fire(channel);
  } catch (...) {
  }
}

// --- base behaviour of the channel operations ------------------------------------------------

bool TCommunicationInterface::SetActive(bool Value) {
  const bool current = GetActive();
  if (Value == current) return current;
  return Value ? Open() : Close(false);
}

bool TCommunicationInterface::Open() {
  SetCharTime(10.0);
  return false;
}

bool TCommunicationInterface::Close(bool) {
  return false;
}
void TCommunicationInterface::Read(std::string& Data) {
  Data.clear();
}
bool TCommunicationInterface::GetPresent() {
  return Present.load();
}
void TCommunicationInterface::SetPresent(bool Value) {
  Present.store(Value);
}
std::string TCommunicationInterface::GetDescription() {
  return GetPortName();
}
bool TCommunicationInterface::ShowSettingsDialog() {
  return false;
}
bool TCommunicationInterface::HasSettingsDialog() {
  return false;
}
std::string TCommunicationInterface::GetConnectionString() {
  return {};
}
void TCommunicationInterface::SetConnectionString(const std::string&) {
  DoSettingsChanged();
}
double TCommunicationInterface::GetCharTime() {
  return CharTime.load();
}
void TCommunicationInterface::SetCharTime(double Milliseconds) {
  CharTime.store(Milliseconds);
}
std::int32_t TCommunicationInterface::GetLinkDelay() {
  return 0;
}
void TCommunicationInterface::PurgeInput() {}
void TCommunicationInterface::PurgeOutput() {}
bool TCommunicationInterface::TryLock() {
  return FLock.try_lock();
}
void TCommunicationInterface::Lock() {
  FLock.lock();
}
void TCommunicationInterface::Unlock() {
  FLock.unlock();
}

void TCommunicationInterface::Trace(std::uint8_t Direction, const std::string& Data) {
  const TTraceHook hook = TraceHook().load();
  if (!hook) return;
  try {
    hook(*this, Data, Direction);
  } catch (...) {
  }
}

// --- the exchange --------------------------------------------------------------------------

void TCommunicationInterface::Query(const std::string& Request, std::int32_t Timeout,
                                    std::string& Reply, const TIsCompleteFunc& IsComplete) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kPoll = std::chrono::milliseconds(1);
  Reply.clear();
  TChannelLock guard(*this);
  if (!GetActive()) return;
  PurgeInput();
  PurgeOutput();
  std::this_thread::sleep_for(kPoll);
  Write(Request);
  const double charTime = GetCharTime();
  const auto link = std::chrono::milliseconds(GetLinkDelay());
  auto deadline = Clock::now() + std::chrono::milliseconds(Timeout) + link +
                  WholeMilliseconds((static_cast<double>(Request.size()) + 5) * charTime);
  const auto quietTime = WholeMilliseconds(charTime * 10) + std::chrono::milliseconds(50) + link;
  for (;;) {
    std::this_thread::sleep_for(kPoll);
    // A kind reports -1 when its device went away: nothing more can come. An empty read
    // does not count as a chunk, so the wait still ends.
    const std::int32_t waiting = InputCount();
    if (waiting < 0) break;
    if (waiting > 0) {
      std::string chunk;
      Read(chunk);
      if (!chunk.empty()) {
        Reply += chunk;
        deadline = Clock::now() + quietTime;
      }
    }
    if (Clock::now() > deadline) break;
    if (IsComplete && IsComplete(Reply) == 0) break;
  }
}

// --- buffered reads ------------------------------------------------------------------------

void TCommunicationInterface::Fetch() {
  if (InputCount() <= 0) return;
  std::string chunk;
  Read(chunk);
  std::lock_guard guard(FBufferLock);
  ReceiveBuffer += chunk;
}

std::int32_t TCommunicationInterface::BufferedCount(bool DoFetch) {
  if (DoFetch) Fetch();
  std::lock_guard guard(FBufferLock);
  return static_cast<std::int32_t>(ReceiveBuffer.size());
}

void TCommunicationInterface::ReadBuffered(std::int32_t Count, std::string& Data) {
  Data.clear();
  Fetch();
  std::lock_guard guard(FBufferLock);
  if (Count >= 0 && static_cast<std::size_t>(Count) < ReceiveBuffer.size()) {
    Data = ReceiveBuffer.substr(0, Count);
    ReceiveBuffer.erase(0, Count);
  } else {
    Data = std::exchange(ReceiveBuffer, {});
  }
}

void TCommunicationInterface::PeekBuffered(std::int32_t Count, std::string& Data) {
  Data.clear();
  Fetch();
  std::lock_guard guard(FBufferLock);
  if (Count < 0 || static_cast<std::size_t>(Count) >= ReceiveBuffer.size())
    Data = ReceiveBuffer;
  else
    Data = ReceiveBuffer.substr(0, Count);
}

// --- channel class registry ----------------------------------------------------------------

namespace {
struct TChannelClassRegistry {
  std::mutex Lock;
  std::vector<std::pair<std::string, TChannelClass>> Classes;
};

TChannelClassRegistry& ChannelClassRegistry() {
  static TChannelClassRegistry registry;
  return registry;
}
}  // namespace

bool RegisterChannelClass(TChannelClass Class, const std::string& Tag) {
  auto& registry = ChannelClassRegistry();
  std::lock_guard guard(registry.Lock);
  registry.Classes.emplace_back(Tag, Class);
  return true;
}

bool UnregisterChannelClass(TChannelClass Class) {
  auto& registry = ChannelClassRegistry();
  std::lock_guard guard(registry.Lock);
  for (auto it = registry.Classes.begin(); it != registry.Classes.end(); ++it) {
    if (it->second == Class) {
      registry.Classes.erase(it);
      return true;
    }
  }
  return false;
}

std::vector<std::pair<std::string, TChannelClass>> RegisteredChannelClasses() {
  auto& registry = ChannelClassRegistry();
  std::lock_guard guard(registry.Lock);
  return registry.Classes;
}
