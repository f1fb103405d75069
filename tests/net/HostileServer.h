#pragma once
// A serial device server on 127.0.0.1 that misbehaves in one chosen way: a behaviour serves
// the first connection on the rig's own thread, with the helpers below, until the client
// hangs up or the rig goes. A new way of misbehaving is one more function in `hostile`.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "tests/net/TestServer.h"

class THostileServer {
 public:
  using TBehaviour = std::function<void(THostileServer&)>;
  explicit THostileServer(TBehaviour Behaviour);
  ~THostileServer();
  THostileServer(const THostileServer&) = delete;
  THostileServer& operator=(const THostileServer&) = delete;

  std::string Url() const { return FServer.Url("rfc2217"); }

  // For behaviours.
  void Send(std::string_view Bytes) { FServer.Send(Bytes); }
  void Pause(std::chrono::milliseconds Time);
  // Answers each COM port command as a willing server does, a speed confirmed as Speed when
  // given. OnData gets the data bytes received so far (unescaped) and takes what it used;
  // EachStep runs between reads.
  void ConfirmCommands(std::optional<std::uint32_t> Speed = {},
                       const std::function<void(std::string& Data)>& OnData = {},
                       const std::function<void()>& EachStep = {});
  void Ignore();  // reads and answers nothing
  void Hangup() { FServer.Hangup(); }

 private:
  TTestServer FServer;
  std::atomic<bool> FStopping{false};
  std::thread FThread;
};

namespace hostile {
constexpr std::chrono::milliseconds kLateNegotiation{1000};
void Silent(THostileServer& Server);
// Takes the COM port control option only after kLateNegotiation, then works.
void LateNegotiation(THostileServer& Server);
// Takes the option, then opens a subnegotiation it never ends, data following.
void UnterminatedSubnegotiation(THostileServer& Server);
void RefusedComPort(THostileServer& Server);
// Takes the option and confirms every speed as 19200 bit/s.
void WrongSpeed(THostileServer& Server);
// Takes the option and answers each request with the largest frame there is, every byte of it
// a parameter code no module has.
constexpr char kUnknownCode = 5;
void UnknownCodes(THostileServer& Server);
// Takes the option and hangs up in the middle of the reply to the first request.
void HangUpMidReply(THostileServer& Server);
// Takes the option, then offers and withdraws binary transmission without end.
void OptionStorm(THostileServer& Server);
// Takes the option and starts compression nobody asked for.
void UnaskedCompression(THostileServer& Server);
}  // namespace hostile
