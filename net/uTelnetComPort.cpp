#include "net/uTelnetComPort.h"

#include <libtelnet.h>

#include <utility>

namespace {

// Far more than any subnegotiation of the COM port control option needs.
constexpr std::size_t kSubnegotiationLimit = 256;
constexpr std::uint8_t kCompressOption = 85;

// The library negotiates nothing by itself in proxy mode; the table is only its end marker.
const telnet_telopt_t kNoOptions[] = {{-1, 0, 0}};

bool WePerform(std::uint8_t Option) {
  return Option == TELNET_TELOPT_BINARY || Option == TELNET_TELOPT_SGA || Option == kComPortOption;
}

bool ServerMayPerform(std::uint8_t Option) {
  return Option == TELNET_TELOPT_BINARY || Option == TELNET_TELOPT_SGA;
}

}  // namespace

TTelnetComPort::TScan TTelnetComPort::AfterCommand(std::uint8_t Byte) {
  if (Byte == TELNET_SB) return TScan::SubOption;
  if (Byte >= TELNET_WILL && Byte <= TELNET_DONT) return TScan::Option;
  return TScan::Data;
}

// The library hands its output over in pieces; the server gets each call's output at once.
TTelnetComPort::TFlush::~TFlush() {
  if (FPort.FOutgoing.empty()) return;
  const std::string bytes = std::exchange(FPort.FOutgoing, {});
  FPort.FWire(bytes);
}

void TTelnetComPort::TFree::operator()(telnet_t* Telnet) const {
  telnet_free(Telnet);
}

TTelnetComPort::TTelnetComPort(TWire Wire, TLog Log)
    : FWire(std::move(Wire)),
      FLog(std::move(Log)),
      FTelnet(telnet_init(kNoOptions, &Event, TELNET_FLAG_PROXY, this)) {}

TTelnetComPort::~TTelnetComPort() {
  // A server that kept doing the same (toggling an option without end) is traced once, counted.
  for (const auto& [text, more] : FRepeats)
    if (more > 0) FLog(text + " (" + std::to_string(more) + " times more)");
}

void TTelnetComPort::Note(const std::string& Text) {
  const auto [entry, first] = FRepeats.try_emplace(Text, 0u);
  if (first) {
    FLog(Text);
    return;
  }
  ++entry->second;
}

void TTelnetComPort::Start() {
  const TFlush flush(*this);
  Ask(FUs, TELNET_WILL, TELNET_TELOPT_BINARY);
  Ask(FHim, TELNET_DO, TELNET_TELOPT_BINARY);
  Ask(FUs, TELNET_WILL, kComPortOption);
  if (FComPort == TOptionState::NotAsked) FComPort = TOptionState::Asked;
}

// A server may offer an option before it is asked: then there is nothing to ask.
void TTelnetComPort::Ask(std::array<TSide, 256>& Side, std::uint8_t Verb, std::uint8_t Option) {
  if (Side[Option] != sNo) return;
  Side[Option] = sAsked;
  telnet_negotiate(FTelnet.get(), Verb, Option);
}

// Answers only a change of state, so neither side answers an answer (RFC 1143).
void TTelnetComPort::Negotiation(std::uint8_t Verb, std::uint8_t Option) {
  switch (Verb) {
    case TELNET_DO:
      if (!WePerform(Option)) {
        telnet_negotiate(FTelnet.get(), TELNET_WONT, Option);
        break;
      }
      if (FUs[Option] == sNo) telnet_negotiate(FTelnet.get(), TELNET_WILL, Option);
      FUs[Option] = sYes;
      if (Option == kComPortOption) FComPort = TOptionState::Accepted;
      break;
    case TELNET_DONT:
      if (FUs[Option] == sYes) telnet_negotiate(FTelnet.get(), TELNET_WONT, Option);
      FUs[Option] = sNo;
      if (Option == kComPortOption && FComPort != TOptionState::Refused) {
        FComPort = TOptionState::Refused;
        Note("the server refuses the COM port control option: its line stays as it is");
      }
      break;
    case TELNET_WILL:
      if (!ServerMayPerform(Option)) {
        telnet_negotiate(FTelnet.get(), TELNET_DONT, Option);
        break;
      }
      if (FHim[Option] == sNo) telnet_negotiate(FTelnet.get(), TELNET_DO, Option);
      FHim[Option] = sYes;
      break;
    case TELNET_WONT:
      if (FHim[Option] == sYes) telnet_negotiate(FTelnet.get(), TELNET_DONT, Option);
      FHim[Option] = sNo;
      if (Option == TELNET_TELOPT_BINARY) Note("the server refuses binary transmission");
      break;
    default:
      break;
  }
}

void TTelnetComPort::Receive(std::string_view Bytes, std::string& Data) {
  const TFlush flush(*this);
  std::string bytes(Bytes);
  const std::size_t taken = Screen(bytes);
  FData = &Data;
  telnet_recv(FTelnet.get(), bytes.data(), taken);
  FData = nullptr;
}

std::size_t TTelnetComPort::Screen(std::string& Bytes) {
  if (!FViolation.empty()) return 0;
  for (std::size_t i = 0; i < Bytes.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(Bytes[i]);
    switch (FScan) {
      case TScan::Data:
        if (byte == TELNET_IAC) FScan = TScan::Command;
        break;
      case TScan::Command:
        FScan = AfterCommand(byte);
        break;
      case TScan::Option:
        FScan = TScan::Data;
        break;
      case TScan::SubOption:
        if (byte == TELNET_TELOPT_COMPRESS2 || byte == kCompressOption) {
          FViolation = "it starts compression it was not asked for";
          return i;
        }
        // Only the COM port control option is subnegotiated here. The library parses some
        // others itself, and where such a subnegotiation is cut short by a command it drops
        // the data byte after it: it gets them under an option without a parser of its own.
        if (byte != kComPortOption) Bytes[i] = static_cast<char>(TELNET_TELOPT_BINARY);
        FScan = TScan::Sub;
        FSubLength = 0;
        break;
      case TScan::Sub:
        if (byte == TELNET_IAC)
          FScan = TScan::SubCommand;
        else if (!CountSubnegotiationByte())
          return i;
        break;
      case TScan::SubCommand:
        // IAC IAC is a byte of the subnegotiation; any other command ends it, as SE does.
        if (byte != TELNET_IAC) {
          FScan = byte == TELNET_SE ? TScan::Data : AfterCommand(byte);
          break;
        }
        FScan = TScan::Sub;
        if (!CountSubnegotiationByte()) return i;
        break;
    }
  }
  return Bytes.size();
}

bool TTelnetComPort::CountSubnegotiationByte() {
  if (++FSubLength <= kSubnegotiationLimit) return true;
  FViolation = "it sends a subnegotiation without end";
  return false;
}

void TTelnetComPort::SendData(std::string_view Data) {
  const TFlush flush(*this);
  telnet_send(FTelnet.get(), Data.data(), Data.size());
}

void TTelnetComPort::SendCommand(TComPortCommand Command, std::string_view Value) {
  const TFlush flush(*this);
  if (FComPort != TOptionState::Accepted) return;
  std::string payload(1, static_cast<char>(Command));
  payload += Value;
  telnet_subnegotiation(FTelnet.get(), kComPortOption, payload.data(), payload.size());
}

void TTelnetComPort::Subnegotiation(std::string_view Payload) {
  if (Payload.empty()) return;
  const auto code = static_cast<std::uint8_t>(Payload.front());
  if (code <= kServerReplyOffset) return;
  const std::size_t command = code - kServerReplyOffset;
  if (command >= FConfirmations.size()) return;
  ++FConfirmations[command];
  FConfirmed[command] = std::string(Payload.substr(1));
  if (command == cpcNotifyModemState && Payload.size() > 1)
    FModemState = static_cast<std::uint8_t>(Payload[1]);
}

void TTelnetComPort::Event(telnet_t*, telnet_event_t* Event, void* Self) {
  auto& self = *static_cast<TTelnetComPort*>(Self);
  switch (Event->type) {
    case TELNET_EV_DATA:
      if (self.FData) self.FData->append(Event->data.buffer, Event->data.size);
      break;
    case TELNET_EV_SEND:
      self.FOutgoing.append(Event->data.buffer, Event->data.size);
      break;
    case TELNET_EV_DO:
      self.Negotiation(TELNET_DO, Event->neg.telopt);
      break;
    case TELNET_EV_DONT:
      self.Negotiation(TELNET_DONT, Event->neg.telopt);
      break;
    case TELNET_EV_WILL:
      self.Negotiation(TELNET_WILL, Event->neg.telopt);
      break;
    case TELNET_EV_WONT:
      self.Negotiation(TELNET_WONT, Event->neg.telopt);
      break;
    case TELNET_EV_SUBNEGOTIATION:
      if (Event->sub.telopt == kComPortOption)
        self.Subnegotiation(std::string_view(Event->sub.buffer, Event->sub.size));
      break;
    case TELNET_EV_WARNING:
    case TELNET_EV_ERROR:
      self.Note(std::string("Telnet: ") + Event->error.msg);
      break;
    default:
      break;
  }
}
