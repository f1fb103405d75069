#include "net/uci_SerialServer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <typeindex>

#include "serial/AfPortMap.h"
#include "serial/uSerialServerUrl.h"
#include "support/uConversionUtils.h"
#include "support/uLogUtils.h"
#include "support/uStringUtils.h"

namespace {

using Clock = std::chrono::steady_clock;

// Device servers pass the line's bytes on in packets of up to about this many characters, so
// a reply may pause that long between packets.
constexpr double kForwardedChunkChars = 128;

std::int32_t WholeMs(Clock::duration Time) {
  return static_cast<std::int32_t>(
      std::ceil(std::chrono::duration<double, std::milli>(Time).count()));
}

// The line's speed until the first setting; both control lines start on, as on a COM port.
constexpr std::int32_t kServerBaudRate = 9600;

// A round trip longer than this is counted as this: such a link fails exchanges anyway.
constexpr std::chrono::milliseconds kLinkDelayLimit{1000};

struct TSerialServerRegistration {
  TSerialServerRegistration() {
    RegisterChannelClass(typeid(TSerialServerInterface), "SERIAL_SERVER");
  }
  ~TSerialServerRegistration() { UnregisterChannelClass(typeid(TSerialServerInterface)); }
} SerialServerRegistration;

}  // namespace

TSerialServerInterface::TSerialServerInterface(std::string ConnectionString)
    : TKeptSettingsSerialInterface(std::move(ConnectionString), kServerBaudRate, true) {}

TSerialServerInterface::TSerialServerInterface(const TXMLNode& Element, TIntfPtr<IInterface> Parent)
    : TKeptSettingsSerialInterface(Element, std::move(Parent), kServerBaudRate, true) {}

TSerialServerInterface::~TSerialServerInterface() = default;

TSerialServerInterface::TReader::~TReader() {
  if (Wake >= 0) close(Wake);
}

void TSerialServerInterface::BeforeDestruction() {
  TSerialPortCoreInterface::BeforeDestruction();
  // The reader raises notifications on this object: it stops before any part of it goes.
  ShutDownLink();
  // Left only when the last reference went in the reader's own notification, which holds
  // the channel lock: the reader is told to end without the channel, and its lock is given back.
  for (const auto& reader : std::exchange(FRetiredReaders, {})) {
    reader->ChannelGone = true;
    reader->Thread.detach();
    Unlock();
  }
}

void TSerialServerInterface::Log(const std::string& Text) {
  DebugLog(Format("COM%d ", static_cast<int>(FComNumber.load())) + Text);
}

// --- connection ----------------------------------------------------------------------------

bool TSerialServerInterface::GetActive() {
  return FOpen && !NoticeGone();
}

bool TSerialServerInterface::NoticeGone() {
  if (!FOpen || !DeviceGone()) return false;
  if (!FClosedReported.exchange(true)) DoClosed();
  return true;
}

bool TSerialServerInterface::Open() {
  TChannelLock guard(*this);
  if (GetActive()) return true;
  ShutDownLink();  // a connection found gone is replaced by a fresh one
  FOpen = false;
  SetProblem({});
  TSerialPortCoreInterface::SetBaudRate(FBaudRate);
  if (!Connect(AfComPortPath(FComNumber))) {
    ShutDownLink();
    return false;
  }
  FOpen = true;
  FClosedReported = false;
  DoOpened();
  return true;
}

bool TSerialServerInterface::Connect(const std::string& Url) {
  TSerialServerUrl target;
  try {
    target = ParseSerialServerUrl(Url);
  } catch (const std::exception& error) {
    Report(TProblemKind::BadServerAddress, {error.what()});
    SetOpenFailure(TOpenFailure::Missing);
    return false;
  }
  TTcpSocket socket;
  std::string error;
  const TTcpResult connected = socket.Connect(target.Host, target.Port, kServerTimeLimit, error);
  if (connected == TTcpResult::Unresolved) {
    Log(Url + ": " + error);
    Report(TProblemKind::Unresolved, {target.Host});
    SetOpenFailure(TOpenFailure::Missing);
    return false;
  }
  if (connected != TTcpResult::Done) {
    // Refused or unanswered: the server is gone, as a pulled cable is; which of them is said.
    Log(Url + ": " + error);
    Report(connected == TTcpResult::Refused    ? TProblemKind::Refused
           : connected == TTcpResult::TimedOut ? TProblemKind::Unanswered
                                               : TProblemKind::Unreachable,
           {ServerAddressText(target)});
    SetDeviceGone(true);
    SetOpenFailure(TOpenFailure::Missing);
    return false;
  }
  FServerText = ServerAddressText(target);
  FHeard = false;
  auto reader = std::make_shared<TReader>();
  reader->Wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (reader->Wake < 0) {
    Log(std::string("eventfd: ") + std::strerror(errno));
    return false;
  }
  {
    std::lock_guard lock(FLinkLock);
    FSocket = std::move(socket);
    FInput.clear();
    SetDeviceGone(false);
    SetOpenFailure(TOpenFailure::None);
    FTelnet.reset();
    if (target.Protocol == TServerProtocol::Rfc2217) {
      FTelnet =
          std::make_unique<TTelnetComPort>([this](std::string_view Bytes) { SendWire(Bytes); },
                                           [this](const std::string& Text) { Log(Text); });
      FTelnet->Start();  // before the reader runs: the server's own offers then answer it
    }
  }
  reader->Thread = std::thread([this, reader] { ReadLoop(*reader); });
  FReader = std::move(reader);
  Negotiate();
  ApplyLineSettings();
  if (DeviceGone()) Log(Url + ": lost while connecting");
  return !DeviceGone();
}

void TSerialServerInterface::Negotiate() {
  std::unique_lock lock(FLinkLock);
  if (FTelnet && !WaitForLink(lock, Clock::now() + kServerTimeLimit, [this] {
        return DeviceGone() || FTelnet->ComPortOption() != TTelnetComPort::TOptionState::Asked;
      })) {
    Log("the server does not answer the COM port control option: its line stays as it is");
    // Not a byte in all that time: the server does not answer at all, whatever its line does.
    if (!FHeard && !DeviceGone() && !ExchangesStopped())
      Report(TProblemKind::Unanswered, {FServerText});
  }
  // Measured by the system on the connection's own segments, so a server that is slow to
  // negotiate does not stretch every later exchange; a link slower still is one too slow.
  FLinkDelay = WholeMs(std::min<Clock::duration>(FSocket.RoundTrip(), kLinkDelayLimit));
}

bool TSerialServerInterface::SendComPortCommand(TComPortCommand Command, const std::string& Value,
                                                bool Confirm) {
  std::unique_lock lock(FLinkLock);
  if (!FTelnet || DeviceGone() ||
      FTelnet->ComPortOption() != TTelnetComPort::TOptionState::Accepted)
    return false;
  const std::uint32_t before = FTelnet->Confirmations(Command);
  FTelnet->SendCommand(Command, Value);
  if (!Confirm) return false;
  const auto limit = std::chrono::milliseconds(2 * FLinkDelay + 500);
  if (WaitForLink(lock, Clock::now() + limit,
                  [&] { return DeviceGone() || FTelnet->Confirmations(Command) != before; }))
    return !DeviceGone();
  Log(Format("the server does not confirm setting %d; data goes on", static_cast<int>(Command)));
  return false;
}

std::int32_t TSerialServerInterface::LineSpeedFor(std::int32_t Value) {
  const bool confirmed =
      SendComPortCommand(cpcSetBaudRate, BigEndian32(static_cast<std::uint32_t>(Value)), true);
  std::lock_guard lock(FLinkLock);
  // Raw TCP keeps the speed as the channel's own setting; a closed channel for its next open.
  if (!FTelnet || DeviceGone()) return Value;
  if (FTelnet->ComPortOption() != TTelnetComPort::TOptionState::Accepted) {
    // A server that never said a word is named so, not blamed on the line's speed.
    if (FHeard || FTelnet->ComPortOption() != TTelnetComPort::TOptionState::Asked)
      Report(TProblemKind::SpeedNotSet);
    else
      Report(TProblemKind::Unanswered, {FServerText});
    return FBaudRate;
  }
  const auto line = static_cast<std::int32_t>(BigEndian(FTelnet->ConfirmedValue(cpcSetBaudRate)));
  if (!confirmed || line <= 0 || line == Value) return Value;
  Report(TProblemKind::OtherSpeed, {std::to_string(line), std::to_string(Value)});
  return line;
}

void TSerialServerInterface::Report(TProblemKind Kind, std::vector<std::string> Values) {
  Values.insert(Values.begin(), FPortLabel);
  const TChannelProblem problem{Kind, std::move(Values)};
  if (SetProblem(problem)) DebugLog(ProblemText(problem));
}

bool TSerialServerInterface::WaitForLink(std::unique_lock<std::mutex>& Lock,
                                         Clock::time_point Until,
                                         const std::function<bool()>& Done) {
  // In slices: a program asked to end stops waiting at once.
  constexpr auto kSlice = std::chrono::milliseconds(10);
  while (!Done()) {
    if (ExchangesStopped() || Clock::now() >= Until) return false;
    FLinkChanged.wait_until(Lock, std::min(Until, Clock::now() + kSlice));
  }
  return true;
}

void TSerialServerInterface::SendWire(std::string_view Bytes) {
  if (DeviceGone()) return;
  std::string error;
  if (FSocket.Send(Bytes, kServerTimeLimit, error) != TTcpResult::Done) MarkGone(error);
}

void TSerialServerInterface::Refuse(const std::string& Violation) {
  Report(TProblemKind::BrokenTelnet, {Violation});
  MarkGone(Violation);
  FSocket.Close();
}

void TSerialServerInterface::MarkGone(const std::string& Why) {
  if (!DeviceGone()) Log("connection lost: " + Why);
  SetDeviceGone(true);
  FLinkChanged.notify_all();
}

void TSerialServerInterface::ReadLoop(TReader& Reader) {
  pollfd waits[2] = {{FSocket.Handle(), POLLIN, 0}, {Reader.Wake, POLLIN, 0}};
  for (;;) {
    if (poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      std::lock_guard lock(FLinkLock);
      MarkGone(std::strerror(errno));
      return;
    }
    if (waits[1].revents != 0) return;
    std::string bytes, error;
    const TTcpResult result = FSocket.Receive(bytes, error);
    bool arrived = false;
    {
      std::lock_guard lock(FLinkLock);
      if (result != TTcpResult::Done) {
        MarkGone(error);
        return;
      }
      const std::size_t before = FInput.size();
      if (!bytes.empty()) FHeard = true;
      if (FTelnet)
        FTelnet->Receive(bytes, FInput);
      else
        FInput += bytes;
      if (FTelnet && !FTelnet->Violation().empty()) {
        Refuse(FTelnet->Violation());
        return;
      }
      // Bounded like a port's input buffer: a server that never stops talking cannot grow it.
      if (FInput.size() > static_cast<std::size_t>(FInBufSize.load())) FInput.resize(FInBufSize);
      arrived = FInput.size() > before;
      FLinkChanged.notify_all();
    }
    // Like the USB reader: the notification only when no exchange holds the channel.
    if (arrived && TryLock()) {
      DoDataReceived();
      if (Reader.ChannelGone) return;
      Unlock();
    }
  }
}

void TSerialServerInterface::ShutDownLink() {
  if (FReader) {
    const std::uint64_t one = 1;
    if (write(FReader->Wake, &one, sizeof one) < 0)
      Log(std::string("eventfd: ") + std::strerror(errno));
    FRetiredReaders.push_back(std::move(FReader));
  }
  JoinRetiredReaders();
  std::lock_guard lock(FLinkLock);
  FSocket.Close();
  FTelnet.reset();
  FInput.clear();
}

void TSerialServerInterface::JoinRetiredReaders() {
  // The reader whose notification is running right now cannot be waited for.
  std::erase_if(FRetiredReaders, [](const std::shared_ptr<TReader>& Reader) {
    if (Reader->OnThread()) return false;
    Reader->Thread.join();
    return true;
  });
}

bool TSerialServerInterface::Close(bool) {
  TChannelLock guard(*this);
  const bool wasActive = GetActive();  // a connection found gone counts as closed already
  if (!FOpen) return false;
  ShutDownLink();
  FOpen = false;
  if (!FClosedReported.exchange(true)) DoClosed();
  return wasActive;
}

void TSerialServerInterface::SetPresent(bool Value) {
  TCommunicationInterface::SetPresent(Value);
  if (!Value) Close(true);
}

std::int32_t TSerialServerInterface::GetLinkDelay() {
  return FLinkDelay + static_cast<std::int32_t>(std::ceil(kForwardedChunkChars * GetCharTime()));
}

// --- data ----------------------------------------------------------------------------------

std::int32_t TSerialServerInterface::Write(const std::string& Data) {
  TChannelLock guard(*this);
  if (!GetActive()) return 0;
  Trace(TRACE_WRITTEN, Data);
  std::lock_guard lock(FLinkLock);
  if (FTelnet)
    FTelnet->SendData(Data);
  else
    SendWire(Data);
  return DeviceGone() ? 0 : static_cast<std::int32_t>(Data.size());
}

void TSerialServerInterface::Read(std::string& Data) {
  TChannelLock guard(*this);
  {
    std::lock_guard lock(FLinkLock);
    Data = std::exchange(FInput, {});
  }
  Trace(TRACE_READ, Data);
}

std::int32_t TSerialServerInterface::InputCount() {
  {
    std::lock_guard lock(FLinkLock);
    if (!FInput.empty()) return static_cast<std::int32_t>(FInput.size());
  }
  // A connection found gone stays so, closed or not, until the next open connects again.
  if (!DeviceGone()) return 0;
  NoticeGone();
  return -1;
}

void TSerialServerInterface::PurgeInput() {
  TChannelLock guard(*this);
  {
    std::lock_guard lock(FLinkLock);
    FInput.clear();
  }
  SendComPortCommand(cpcPurgeData, Byte(kPurgeReceived), false);
}

void TSerialServerInterface::PurgeOutput() {
  TChannelLock guard(*this);
  SendComPortCommand(cpcPurgeData, Byte(kPurgeTransmitted), false);
}
