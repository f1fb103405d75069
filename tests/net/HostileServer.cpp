#include "tests/net/HostileServer.h"

#include <exception>

#include "protocol/uTirmel97.h"
#include "tests/net/ServerWire.h"

namespace {

constexpr char kCompress2 = 86;
constexpr auto kStep = std::chrono::milliseconds(20);

// Takes what is complete of Wire: confirms each COM port command, adds the data bytes to Data
// and skips the rest of Telnet. Wire keeps an incomplete tail.
std::string Confirmations(std::string& Wire, std::optional<std::uint32_t> Speed,
                          std::string& Data) {
  std::string answers;
  for (const TClientUnit& unit : TakeClientWire(Wire)) {
    if (unit.IsData)
      Data += unit.Bytes;
    else
      answers += ComPortConfirmation(unit.Bytes, Speed);
  }
  return answers;
}

}  // namespace

void THostileServer::Pause(std::chrono::milliseconds Time) {
  const auto end = std::chrono::steady_clock::now() + Time;
  while (!FStopping && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(kStep);
}

void THostileServer::ConfirmCommands(std::optional<std::uint32_t> Speed,
                                     const std::function<void(std::string& Data)>& OnData,
                                     const std::function<void()>& EachStep) {
  std::string wire, data;
  while (!FStopping && FServer.Connected()) {
    if (EachStep) EachStep();
    wire += FServer.Receive(1, kStep);
    if (const std::string answers = Confirmations(wire, Speed, data); !answers.empty())
      FServer.Send(answers);
    if (OnData && !data.empty())
      OnData(data);
    else
      data.clear();
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

void UnknownCodes(THostileServer& Server) {
  Server.Send(kTakeComPort);
  Server.ConfirmCommands({}, [&](std::string& Data) {
    if (FrameCannotComplete(Data)) Data.clear();
    if (ValidateFrame(Data) != 0) return;
    TTirmelFormat97 request;
    ParseFrame(Data, request);
    Data.clear();
    Server.Send(TelnetEscaped(BuildFrame(request.Address, request.Signature, request.Instruction,
                                         std::string(kMaxFrameData, kUnknownCode))));
  });
}

void HangUpMidReply(THostileServer& Server) {
  Server.Send(kTakeComPort);
  Server.ConfirmCommands({}, [&](std::string&) {
    Server.Send("*a0");
    Server.Hangup();
  });
}

void OptionStorm(THostileServer& Server) {
  constexpr char kBinary = 0;
  constexpr int kTogglesPerStep = 100;
  std::string toggles;
  for (int toggle = 0; toggle < kTogglesPerStep; ++toggle)
    toggles += std::string{kIac, kWill, kBinary, kIac, kWont, kBinary};
  Server.Send(kTakeComPort);
  Server.ConfirmCommands({}, {}, [&] { Server.Send(toggles); });
}

void UnaskedCompression(THostileServer& Server) {
  Server.Send(kTakeComPort);
  Server.Send(std::string{kIac, kSb, kCompress2, kIac, kSe} + "\x78\x9c compressed");
  Server.ConfirmCommands();
}

}  // namespace hostile
