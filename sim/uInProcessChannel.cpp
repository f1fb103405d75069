#include "sim/uInProcessChannel.h"

#include <optional>

#include "support/uErrors.h"
#include "support/uNumberText.h"
#include "support/uStringUtils.h"

namespace {
constexpr std::uint32_t kMaxBaudRate = 10'000'000;

std::uint32_t ParseBaudRate(const std::string& text) {
  const std::optional<std::uint64_t> rate = ParseDigits(Trim(text));
  if (!rate || *rate > kMaxBaudRate) throw Exception("'" + text + "' is not a valid baud rate");
  return static_cast<std::uint32_t>(*rate);
}
}  // namespace

TInProcessChannel::TInProcessChannel(std::string PortName, std::shared_ptr<ISimPeer> Peer,
                                     std::string ConnectionString)
    : TCommunicationInterface(std::move(ConnectionString)),
      FPortName(std::move(PortName)),
      FPeer(std::move(Peer)) {
  if (!FPeer) throw Exception("An in-process channel needs a peer");
}

TInProcessChannel::TInProcessChannel(std::string PortName, std::shared_ptr<ISimPeer> Peer,
                                     const TXMLNode& Element, TIntfPtr<IInterface> Parent)
    : TCommunicationInterface(Element, std::move(Parent)),
      FPortName(std::move(PortName)),
      FPeer(std::move(Peer)) {
  if (!FPeer) throw Exception("An in-process channel needs a peer");
}

TInProcessChannel::~TInProcessChannel() {
  Close(true);
}

bool TInProcessChannel::GetActive() {
  return FActive.load();
}

bool TInProcessChannel::Open() {
  bool opened;
  {
    TChannelLock channel(*this);
    opened = !FActive.exchange(true);
  }
  if (opened) DoOpened();
  return true;
}

bool TInProcessChannel::Close(bool) {
  bool closed;
  {
    TChannelLock channel(*this);
    closed = FActive.exchange(false);
  }
  if (closed) DoClosed();
  return closed;
}

std::int32_t TInProcessChannel::Write(const std::string& Data) {
  TChannelLock channel(*this);
  if (!FActive) return 0;
  Trace(TRACE_WRITTEN, Data);
  std::lock_guard peer(FPeerLock);
  FPeer->Write(Data, FBaudRate.load(), ISimPeer::Clock::now());
  return static_cast<std::int32_t>(Data.size());
}

void TInProcessChannel::Read(std::string& Data) {
  TChannelLock channel(*this);
  Data.clear();
  if (!FActive) return;
  {
    std::lock_guard peer(FPeerLock);
    Data = FPeer->Read(ISimPeer::Clock::now());
  }
  Trace(TRACE_READ, Data);
}

std::int32_t TInProcessChannel::InputCount() {
  if (!FActive) return 0;
  std::lock_guard peer(FPeerLock);
  return static_cast<std::int32_t>(FPeer->Available(ISimPeer::Clock::now()));
}

std::string TInProcessChannel::GetPortName() {
  return FPortName;
}

void TInProcessChannel::PurgeInput() {
  // Bytes still on their way (not yet due) arrive later, as on a real line.
  TChannelLock channel(*this);
  if (!FActive) return;
  std::lock_guard peer(FPeerLock);
  FPeer->Read(ISimPeer::Clock::now());
}

// Written bytes reach the peer at once; nothing waits in an output buffer.
void TInProcessChannel::PurgeOutput() {}

std::string TInProcessChannel::GetConnectionString() {
  return "baudrate=" + std::to_string(GetBaudRate());
}

void TInProcessChannel::SetConnectionString(const std::string& Text) {
  std::optional<std::uint32_t> baudRate;  // applied only when the whole text is valid
  std::string_view rest = Text;
  while (!rest.empty()) {
    const auto end = rest.find(';');
    const std::string_view item = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const auto equals = item.find('=');
    if (equals == std::string_view::npos) continue;
    if (SameText(Trim(item.substr(0, equals)), "baudrate"))
      baudRate = ParseBaudRate(std::string(item.substr(equals + 1)));
  }
  if (baudRate) ApplyBaudRate(*baudRate);
  TCommunicationInterface::SetConnectionString(Text);
}

std::uint32_t TInProcessChannel::GetBaudRate() {
  return FBaudRate.load();
}

void TInProcessChannel::SetBaudRate(std::uint32_t Value) {
  ApplyBaudRate(Value);
  DoSettingsChanged();
}

void TInProcessChannel::ApplyBaudRate(std::uint32_t Value) {
  FBaudRate.store(Value);
  SetCharTime(Value > 0 ? 10'000.0 / Value : 0.0);
}
