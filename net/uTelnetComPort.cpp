#include "net/uTelnetComPort.h"

#include <libtelnet.h>

namespace {

// Options this client takes when the server offers or asks for them; others are refused.
const telnet_telopt_t kOptions[] = {
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {kComPortOption, TELNET_WILL, TELNET_DONT},
    {-1, 0, 0},
};

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
      FTelnet(telnet_init(kOptions, &Event, 0, this)) {}

TTelnetComPort::~TTelnetComPort() = default;

void TTelnetComPort::Start() {
  FComPort = TOptionState::Asked;
  telnet_negotiate(FTelnet.get(), TELNET_WILL, TELNET_TELOPT_BINARY);
  telnet_negotiate(FTelnet.get(), TELNET_DO, TELNET_TELOPT_BINARY);
  telnet_negotiate(FTelnet.get(), TELNET_WILL, kComPortOption);
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
      if (Event->neg.telopt == kComPortOption) self.FComPort = TOptionState::Accepted;
      break;
    case TELNET_EV_DONT:
      if (Event->neg.telopt == kComPortOption) {
        self.FComPort = TOptionState::Refused;
        self.FLog("the server refuses the COM port control option: its line stays as it is");
      } else if (Event->neg.telopt == TELNET_TELOPT_BINARY) {
        self.FLog("the server refuses binary transmission");
      }
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
