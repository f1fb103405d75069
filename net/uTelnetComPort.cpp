#include "net/uTelnetComPort.h"

#include <libtelnet.h>

namespace {

// The library negotiates nothing by itself in proxy mode; the table is only its end marker.
const telnet_telopt_t kNoOptions[] = {{-1, 0, 0}};

bool WePerform(std::uint8_t Option) {
  return Option == TELNET_TELOPT_BINARY || Option == TELNET_TELOPT_SGA || Option == kComPortOption;
}

bool ServerMayPerform(std::uint8_t Option) {
  return Option == TELNET_TELOPT_BINARY || Option == TELNET_TELOPT_SGA;
}

}  // namespace

std::string BigEndian32(std::uint32_t Value) {
  return {static_cast<char>(Value >> 24), static_cast<char>(Value >> 16),
          static_cast<char>(Value >> 8), static_cast<char>(Value)};
}

void TTelnetComPort::TFree::operator()(telnet_t* Telnet) const {
  telnet_free(Telnet);
}

TTelnetComPort::TTelnetComPort(TWire Wire, TLog Log)
    : FWire(std::move(Wire)),
      FLog(std::move(Log)),
      FTelnet(telnet_init(kNoOptions, &Event, TELNET_FLAG_PROXY, this)) {}

TTelnetComPort::~TTelnetComPort() = default;

void TTelnetComPort::Start() {
  FComPort = TOptionState::Asked;
  FUs[TELNET_TELOPT_BINARY] = FHim[TELNET_TELOPT_BINARY] = FUs[kComPortOption] = sAsked;
  telnet_negotiate(FTelnet.get(), TELNET_WILL, TELNET_TELOPT_BINARY);
  telnet_negotiate(FTelnet.get(), TELNET_DO, TELNET_TELOPT_BINARY);
  telnet_negotiate(FTelnet.get(), TELNET_WILL, kComPortOption);
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
        FLog("the server refuses the COM port control option: its line stays as it is");
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
      if (Option == TELNET_TELOPT_BINARY) FLog("the server refuses binary transmission");
      break;
    default:
      break;
  }
}

void TTelnetComPort::Receive(std::string_view Bytes, std::string& Data) {
  FData = &Data;
  telnet_recv(FTelnet.get(), Bytes.data(), Bytes.size());
  FData = nullptr;
}

void TTelnetComPort::SendData(std::string_view Data) {
  telnet_send(FTelnet.get(), Data.data(), Data.size());
}

void TTelnetComPort::SendCommand(TComPortCommand Command, std::string_view Value) {
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
      self.FWire(std::string_view(Event->data.buffer, Event->data.size));
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
      self.FLog(std::string("Telnet: ") + Event->error.msg);
      break;
    default:
      break;
  }
}
