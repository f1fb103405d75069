#include "tests/net/HostileServer.h"

#include <exception>

#include "net/uTelnetComPort.h"
#include "support/uConversionUtils.h"

namespace {

constexpr char kIac = '\xff', kSb = '\xfa', kSe = '\xf0', kDo = '\xfd', kDont = '\xfe',
               kCompress2 = 86;
constexpr auto kStep = std::chrono::milliseconds(20);

const std::string kTakeComPort{kIac, kDo, static_cast<char>(kComPortOption)};

// The confirmation of each complete COM port command in Wire; Wire keeps what is incomplete.
std::string Confirmations(std::string& Wire, std::optional<std::uint32_t> Speed) {
  std::string answers;
  const std::string start{kIac, kSb, static_cast<char>(kComPortOption)};
  for (std::size_t at; (at = Wire.find(start)) != std::string::npos;) {
    const std::size_t end = Wire.find(std::string{kIac, kSe}, at);
    if (end == std::string::npos) {
      Wire.erase(0, at);
      return answers;
    }
    std::string payload = Wire.substr(at + start.size(), end - at - start.size());
    Wire.erase(0, end + 2);
    if (payload.empty()) continue;
    if (payload[0] == cpcSetBaudRate && Speed) payload = Byte(cpcSetBaudRate) + BigEndian32(*Speed);
    payload[0] = static_cast<char>(payload[0] + kServerReplyOffset);
    answers += start + payload + std::string{kIac, kSe};
  }
  Wire.clear();
  return answers;
}

}  // namespace

void THostileServer::Pause(std::chrono::milliseconds Time) {
  const auto end = std::chrono::steady_clock::now() + Time;
  while (!FStopping && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(kStep);
}

void THostileServer::ConfirmCommands(std::optional<std::uint32_t> Speed) {
  std::string wire;
  while (!FStopping && FServer.Connected()) {
    wire += FServer.Receive(1, kStep);
    if (const std::string answers = Confirmations(wire, Speed); !answers.empty())
      FServer.Send(answers);
  }
}

void THostileServer::Ignore() {
  while (!FStopping && FServer.Connected()) FServer.Receive(1, kStep);
}

THostileServer::THostileServer(TBehaviour Behaviour)
    : FThread([this, behaviour = std::move(Behaviour)] {
        while (!FStopping && !FServer.Accept(kStep)) {
        }
        try {
          if (!FStopping) behaviour(*this);
        } catch (const std::exception&) {
          // The client hung up while the rig was still talking: nothing more to do.
        }
      }) {}

THostileServer::~THostileServer() {
  FStopping = true;
  FThread.join();
}

namespace hostile {

void Silent(THostileServer& Server) {
  Server.Ignore();
}

void LateNegotiation(THostileServer& Server) {
  Server.Pause(kLateNegotiation);
  Server.Send(kTakeComPort);
  Server.ConfirmCommands();
}

void UnterminatedSubnegotiation(THostileServer& Server) {
  Server.Send(kTakeComPort);
  Server.Send(std::string{kIac, kSb, static_cast<char>(kComPortOption)} + std::string(1000, 'x') +
              "*data");
  Server.ConfirmCommands();
}

void RefusedComPort(THostileServer& Server) {
  Server.Send(std::string{kIac, kDont, static_cast<char>(kComPortOption)});
  Server.Ignore();
}

void WrongSpeed(THostileServer& Server) {
  Server.Send(kTakeComPort);
  Server.ConfirmCommands(19200);
}

void UnaskedCompression(THostileServer& Server) {
  Server.Send(kTakeComPort);
  Server.Send(std::string{kIac, kSb, kCompress2, kIac, kSe} + "\x78\x9c compressed");
  Server.ConfirmCommands();
}

}  // namespace hostile
