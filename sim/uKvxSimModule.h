#pragma once
// One simulated KVX module on a serial line: it takes format-97 requests as they arrive,
// answers those addressed to it (or to 254) from its state, and releases each reply byte
// when it would have crossed the line. Thread-safe: a transport may write and read on one
// thread while a test changes state or faults on another.
#include <chrono>
#include <deque>
#include <mutex>
#include <vector>

#include "sim/uKvxSimDevice.h"
#include "sim/uSimPeer.h"

// One request frame as the module received it.
struct TKvxSimRequest {
  std::uint8_t Address = 0;
  std::uint8_t Instruction = 0;
  std::string Data;
  bool operator==(const TKvxSimRequest&) const = default;
};

class TKvxSimModule : public ISimPeer {
 public:
  explicit TKvxSimModule(TKvxSimState State = KvxSimFactoryState(mtUSB));

  void Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) override;
  std::string Read(Clock::time_point now) override;
  std::size_t Available(Clock::time_point now) const override;
  std::optional<Clock::time_point> NextDue() const override;

  TKvxSimState State() const;
  void SetState(TKvxSimState State);
  TKvxSimFaults Faults() const;
  // Takes effect for the next request; restarts the StopAfter count.
  void SetFaults(TKvxSimFaults Faults);
  // Time between the end of a request and the start of its reply.
  void SetTurnaround(std::chrono::microseconds Turnaround);
  // Every well-formed frame heard on the line, to any address, in order.
  std::vector<TKvxSimRequest> Requests() const;
  void ClearRequests();

 private:
  struct TPendingByte {
    Clock::time_point Due;
    char Byte;
  };

  void TakeFrames(Clock::duration byteTime);
  void Respond(const std::string& frame, Clock::time_point arrived, Clock::duration byteTime);
  void Schedule(const std::string& bytes, Clock::time_point start, Clock::duration byteTime,
                const TKvxSimFaults& faults);
  // Runs Action under the module's lock and returns what it returns.
  template <class TAction>
  auto Locked(TAction Action) const {
    std::lock_guard lock(FLock);
    return Action();
  }

  mutable std::mutex FLock;
  TKvxSimDevice FDevice;
  TKvxSimFaults FFaults;
  int FAnswered = 0;  // requests answered since the faults were set
  std::chrono::microseconds FTurnaround{3000};
  const Clock::time_point FStart;
  Clock::time_point FLineFreeAt;  // when the last byte written so far has arrived
  std::string FInput;
  std::deque<TPendingByte> FOutput;
  std::vector<TKvxSimRequest> FRequests;
};
