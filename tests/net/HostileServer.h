#pragma once
// A serial device server on 127.0.0.1 that misbehaves in one chosen way: it serves the first
// connection on a thread of its own with a behaviour, until the client hangs up or the rig
// is destroyed. A new way of misbehaving is one more function of THostileLink's helpers.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "tests/net/TestServer.h"

// The rig's side of the one connection, for behaviours.
class THostileLink {
 public:
  THostileLink(TTestServer& Server, const std::atomic<bool>& Stopping)
      : FServer(Server), FStopping(Stopping) {}

  void Send(std::string_view Bytes) { FServer.Send(Bytes); }
  // Waits Time unless the rig is stopping.
  void Pause(std::chrono::milliseconds Time);
  // Answers each COM port command as a willing server does (the speed confirmed as Speed
  // when given) until the client hangs up or the rig stops.
  void ConfirmCommands(std::optional<std::uint32_t> Speed = {});
  // Reads and answers nothing until the client hangs up or the rig stops.
  void Ignore();

 private:
  TTestServer& FServer;
  const std::atomic<bool>& FStopping;
};

using THostileBehaviour = std::function<void(THostileLink&)>;

class THostileServer {
 public:
  explicit THostileServer(THostileBehaviour Behaviour);
  ~THostileServer();
  THostileServer(const THostileServer&) = delete;
  THostileServer& operator=(const THostileServer&) = delete;

  std::string Url() const { return FServer.Url("rfc2217"); }

 private:
  TTestServer FServer;
  std::atomic<bool> FStopping{false};
  std::thread FThread;
};

// The ways of misbehaving.
namespace hostile {
constexpr std::chrono::milliseconds kLateNegotiation{1000};
// Accepts and never answers anything.
void Silent(THostileLink& Link);
// Takes the COM port control option only after kLateNegotiation, then works.
void LateNegotiation(THostileLink& Link);
// Takes the option, then opens a subnegotiation it never ends, data following.
void UnterminatedSubnegotiation(THostileLink& Link);
// Refuses the option.
void RefusedComPort(THostileLink& Link);
// Takes the option and confirms every speed as 19200 bit/s.
void WrongSpeed(THostileLink& Link);
// Takes the option and starts compression nobody asked for.
void UnaskedCompression(THostileLink& Link);
}  // namespace hostile
