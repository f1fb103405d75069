#include "tests/net/HostileServer.h"

#include <exception>

#include "net/uTelnetComPort.h"
#include "protocol/uTirmel97.h"
#include "support/uConversionUtils.h"

namespace {

constexpr char kIac = '\xff', kSb = '\xfa', kSe = '\xf0', kWill = '\xfb', kDo = '\xfd',
               kDont = '\xfe', kCompress2 = 86;
constexpr auto kStep = std::chrono::milliseconds(20);

const std::string kTakeComPort{kIac, kDo, static_cast<char>(kComPortOption)};

// The confirmation of a COM port command's payload (the command byte and its value).
std::string Confirmation(std::string Payload, std::optional<std::uint32_t> Speed) {
  if (Payload[0] == cpcSetBaudRate && Speed) Payload = Byte(cpcSetBaudRate) + BigEndian32(*Speed);
  Payload[0] = static_cast<char>(Payload[0] + kServerReplyOffset);
  return std::string{kIac, kSb, static_cast<char>(kComPortOption)} + Payload +
         std::string{kIac, kSe};
}

// Takes what is complete of Wire: confirms each COM port command, adds the data bytes to Data
// (unescaped) and skips the rest of Telnet. Wire keeps an incomplete tail.
std::string Confirmations(std::string& Wire, std::optional<std::uint32_t> Speed,
                          std::string& Data) {
  std::string answers;
  std::size_t at = 0;
  while (at < Wire.size()) {
    if (Wire[at] != kIac) {
      Data += Wire[at++];
      continue;
    }
    if (at + 1 == Wire.size()) break;
    const char command = Wire[at + 1];
    if (command == kIac) {
      Data += kIac;
      at += 2;
    } else if (command == kSb) {
      const std::size_t end = Wire.find(std::string{kIac, kSe}, at);
      if (end == std::string::npos) break;
      const std::string payload = Wire.substr(at + 2, end - at - 2);
      at = end + 2;
      if (payload.size() > 1 && payload[0] == static_cast<char>(kComPortOption))
        answers += Confirmation(payload.substr(1), Speed);
    } else {
      const bool withOption = command >= kWill && command <= kDont;
      if (withOption && at + 2 >= Wire.size()) break;
      at += withOption ? 3 : 2;
    }
  }
  Wire.erase(0, at);
  return answers;
}

std::string TelnetEscaped(std::string_view Bytes) {
  std::string escaped;
  for (const char byte : Bytes) {
    escaped += byte;
    if (byte == kIac) escaped += kIac;
  }
  return escaped;
}

}  // namespace

void THostileServer::Pause(std::chrono::milliseconds Time) {
  const auto end = std::chrono::steady_clock::now() + Time;
  while (!FStopping && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(kStep);
}

void THostileServer::ConfirmCommands(std::optional<std::uint32_t> Speed,
                                     const std::function<void(std::string& Data)>& OnData) {
  std::string wire, data;
  while (!FStopping && FServer.Connected()) {
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

void UnaskedCompression(THostileServer& Server) {
  Server.Send(kTakeComPort);
  Server.Send(std::string{kIac, kSb, kCompress2, kIac, kSe} + "\x78\x9c compressed");
  Server.ConfirmCommands();
}

}  // namespace hostile
