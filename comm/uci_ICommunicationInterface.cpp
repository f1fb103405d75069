#include "comm/uci_ICommunicationInterface.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

#include "comm/uTraceMonitor.h"
#include "serial/AfSafeSync.h"
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

template <typename THandler>
void StoreHandler(std::mutex& Lock, THandler& Slot, const THandler& Handler) {
  std::lock_guard guard(Lock);
  Slot = Handler;
}

template <typename THandler>
THandler LoadHandler(std::mutex& Lock, const THandler& Slot) {
  std::lock_guard guard(Lock);
  return Slot;
}

// The list first, then the single handler (fetched only then); a failing listener never
// reaches the channel kind that raised the notification.
template <typename TList, typename THandlerOf, typename... TArgs>
void FireListThenHandler(TLazy<TList>& List, const THandlerOf& HandlerOf, const TArgs&... Args) {
  try {
    if (auto* list = List.IfCreated()) list->Fire(Args...);
    if (const auto handler = HandlerOf()) handler(Args...);
  } catch (...) {
  }
}

std::atomic<TTraceHook>& TraceHook() {
  static std::atomic<TTraceHook> hook{HookFromArguments()};
  return hook;
}

// Lock-free, so that a signal handler may set it.
std::atomic<bool> gExchangesStopped{false};
thread_local const std::atomic<bool>* gThreadStop = nullptr;
static_assert(std::atomic<bool>::is_always_lock_free);

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
  StoreHandler(FHandlerLock, FOnDataReceived, Handler);
}

TCiNotify TCommunicationInterface::GetOnDataReceived() {
  return LoadHandler(FHandlerLock, FOnDataReceived);
}

void TCommunicationInterface::SetOnOpened(const TCiNotify& Handler) {
  StoreHandler(FHandlerLock, FOnOpened, Handler);
}

TCiNotify TCommunicationInterface::GetOnOpened() {
  return LoadHandler(FHandlerLock, FOnOpened);
}

void TCommunicationInterface::SetOnClosed(const TCiNotify& Handler) {
  StoreHandler(FHandlerLock, FOnClosed, Handler);
}

TCiNotify TCommunicationInterface::GetOnClosed() {
  return LoadHandler(FHandlerLock, FOnClosed);
}

void TCommunicationInterface::SetOnModemLineChange(const TCiNotifyChangeEvent& Handler) {
  StoreHandler(FHandlerLock, FOnModemLineChange, Handler);
}

TCiNotifyChangeEvent TCommunicationInterface::GetOnModemLineChange() {
  return LoadHandler(FHandlerLock, FOnModemLineChange);
}

TeventerCiNotify& TCommunicationInterface::GetDataReceivedEvents() {
  return FDataReceivedEvents.Get();
}
TeventerCiNotify& TCommunicationInterface::GetOpenedEvents() {
  return FOpenedEvents.Get();
}
TeventerCiNotify& TCommunicationInterface::GetClosedEvents() {
  return FClosedEvents.Get();
}
TeventerCiNotify& TCommunicationInterface::GetSettingsChangedEvents() {
  return FSettingsChangedEvents.Get();
}
TeventerCiNotifyChangeEvent& TCommunicationInterface::GetModemLineEvents() {
  return FModemLineEvents.Get();
}

// --- notifications -------------------------------------------------------------------------

void TCommunicationInterface::DoDataReceived(const TIntfPtr<ICommunicationInterface>& Channel) {
  const TIntfPtr<ICommunicationInterface> channel = Channel ? Channel : SelfChannel();
  try {
    if (const TCiNotify handler = GetOnDataReceived()) handler(channel);
    if (auto* list = FDataReceivedEvents.IfCreated()) list->Fire(channel);
  } catch (...) {
  }
}

void TCommunicationInterface::DoOpened() {
  FireListThenHandler(
      FOpenedEvents, [this] { return GetOnOpened(); }, SelfChannel());
}

void TCommunicationInterface::DoClosed() {
  FireListThenHandler(
      FClosedEvents, [this] { return GetOnClosed(); }, SelfChannel());
}

void TCommunicationInterface::DoModemLineChange(std::int32_t Line, bool State) {
  FireListThenHandler(
      FModemLineEvents, [this] { return GetOnModemLineChange(); }, SelfChannel(), Line, State);
}

void TCommunicationInterface::DoSettingsChanged() {
  const auto channel = SelfChannel();
  try {
    if (auto* list = FSettingsChangedEvents.IfCreated()) list->Fire(channel);
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
  return FPresent.load();
}
void TCommunicationInterface::SetPresent(bool Value) {
  FPresent.store(Value);
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
  return FCharTime.load();
}
void TCommunicationInterface::SetCharTime(double Milliseconds) {
  FCharTime.store(Milliseconds);
}
std::string TCommunicationInterface::GetDeviceNode() {
  return {};
}

TChannelProblem TCommunicationInterface::GetProblem() {
  std::lock_guard guard(FProblemLock);
  return FProblem;
}
bool TCommunicationInterface::SetProblem(const TChannelProblem& Problem) {
  std::lock_guard guard(FProblemLock);
  return std::exchange(FProblem, Problem) != Problem;
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

TQueryTimeLimits TCommunicationInterface::QueryTimeLimits(std::int32_t Timeout,
                                                          std::size_t RequestSize,
                                                          std::size_t ReplyLimit) {
  const double charTime = GetCharTime();
  const auto link = std::chrono::milliseconds(GetLinkDelay());
  TQueryTimeLimits limits;
  limits.FirstReply = std::chrono::milliseconds(std::max(Timeout, 0)) + link +
                      WholeMilliseconds((static_cast<double>(RequestSize) + 5) * charTime);
  limits.Quiet = WholeMilliseconds(charTime * 10) + std::chrono::milliseconds(50) + link;
  limits.Whole = limits.FirstReply + WholeMilliseconds(static_cast<double>(ReplyLimit) * charTime) +
                 limits.Quiet;
  return limits;
}

void TCommunicationInterface::Query(const std::string& Request, std::int32_t Timeout,
                                    std::string& Reply, const TIsCompleteFunc& IsComplete,
                                    std::size_t ReplyLimit) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kPoll = std::chrono::milliseconds(1);
  Reply.clear();
  TChannelLock guard(*this);
  if (!GetActive() || ExchangesStopped()) return;
  PurgeInput();
  PurgeOutput();
  std::this_thread::sleep_for(kPoll);
  Write(Request);
  const TQueryTimeLimits limits = QueryTimeLimits(Timeout, Request.size(), ReplyLimit);
  const auto written = Clock::now();
  // A talker that never stops restarts the quiet time for ever: the whole reply has its cap.
  const auto end = written + limits.Whole;
  auto deadline = written + limits.FirstReply;
  // A wait on the window's thread that outlasts a healthy reply lets the window draw itself.
  constexpr auto kDrawAfter = std::chrono::milliseconds(100);
  constexpr auto kDrawEvery = std::chrono::milliseconds(25);
  auto nextDrawing = written + kDrawAfter;
  while (!ExchangesStopped()) {
    std::this_thread::sleep_for(kPoll);
    AfPumpOwnEvents();
    if (Clock::now() >= nextDrawing) {
      AfKeepWindowDrawn();
      nextDrawing = Clock::now() + kDrawEvery;
    }
    const std::int32_t waiting = InputCount();
    if (waiting < 0) break;  // the device went away: nothing more will come
    if (waiting > 0) {
      std::string chunk;
      Read(chunk);
      // An empty read does not count as a chunk, so the wait still ends.
      if (!chunk.empty()) {
        Reply += chunk;
        deadline = Clock::now() + limits.Quiet;
      }
    }
    if (Reply.size() >= ReplyLimit) {
      Reply.resize(ReplyLimit);
      break;
    }
    const auto now = Clock::now();
    if (now > deadline || now > end) break;
    if (IsComplete) {
      const std::uint16_t verdict = IsComplete(Reply);
      if (verdict == 0 || verdict == kReplyCannotComplete) break;
    }
  }
}

void StopExchanges() {
  gExchangesStopped = true;
}

bool ExchangesStopped() {
  return gExchangesStopped || (gThreadStop && gThreadStop->load());
}

TThreadStopScope::TThreadStopScope(const std::atomic<bool>& Stop) : FPrevious(gThreadStop) {
  gThreadStop = &Stop;
}

TThreadStopScope::~TThreadStopScope() {
  gThreadStop = FPrevious;
}

bool IsDeviceGone(ICommunicationInterface& Channel) {
  return !Channel.GetActive() && Channel.InputCount() < 0;
}

// --- buffered reads ------------------------------------------------------------------------

void TCommunicationInterface::Fetch() {
  if (InputCount() <= 0) return;
  std::string chunk;
  Read(chunk);
  std::lock_guard guard(FBufferLock);
  FReceiveBuffer += chunk;
}

std::int32_t TCommunicationInterface::BufferedCount(bool DoFetch) {
  if (DoFetch) Fetch();
  std::lock_guard guard(FBufferLock);
  return static_cast<std::int32_t>(FReceiveBuffer.size());
}

void TCommunicationInterface::ReadBuffered(std::int32_t Count, std::string& Data) {
  Data.clear();
  Fetch();
  std::lock_guard guard(FBufferLock);
  if (Count >= 0 && static_cast<std::size_t>(Count) < FReceiveBuffer.size()) {
    Data = FReceiveBuffer.substr(0, Count);
    FReceiveBuffer.erase(0, Count);
  } else {
    Data = std::exchange(FReceiveBuffer, {});
  }
}

void TCommunicationInterface::PeekBuffered(std::int32_t Count, std::string& Data) {
  Data.clear();
  Fetch();
  std::lock_guard guard(FBufferLock);
  if (Count < 0 || static_cast<std::size_t>(Count) >= FReceiveBuffer.size())
    Data = FReceiveBuffer;
  else
    Data = FReceiveBuffer.substr(0, Count);
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
