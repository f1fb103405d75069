#pragma once
// The inner working of a simulated KVX module: what it answers to each instruction and how
// writes change its state. Knows nothing of frames, lines or timing; not thread-safe (the
// owner locks).
#include <cstdint>
#include <string>

#include "sim/uKvxSimFaults.h"
#include "sim/uKvxSimState.h"

// Acknowledge codes in the instruction field of a reply.
inline constexpr std::uint8_t kSimAck = 0x06;
inline constexpr std::uint8_t kSimRefused =
    0x15;  // unknown instruction, bad data, write not enabled

struct TKvxSimAnswer {
  std::uint8_t Code = kSimAck;
  std::string Data;
};

class TKvxSimDevice {
 public:
  explicit TKvxSimDevice(TKvxSimState State) : FState(std::move(State)) {}

  const TKvxSimState& State() const { return FState; }
  void SetState(TKvxSimState State) { FState = std::move(State); }
  // Whether a request sent to Address is for this module: its own address or everyone's.
  bool Hears(std::uint8_t Address) const;

  // Answers one request. Seconds is the module's running time, which moves the measured
  // values. Only the content faults of Faults are applied here.
  TKvxSimAnswer Answer(std::uint8_t Instruction, const std::string& Data, double Seconds,
                       const TKvxSimFaults& Faults);

 private:
  TKvxSimAnswer Read(std::uint8_t Instruction, const std::string& Data, double Seconds,
                     const TKvxSimFaults& Faults) const;
  // True when the data was well formed and applied.
  bool Write(std::uint8_t Instruction, const std::string& Data);
  bool WriteStream(std::uint8_t Instruction, const std::string& Data);
  std::string MeasuredValues(double Seconds) const;

  TKvxSimState FState;
  bool FConfigEnabled = false;  // the previous request was EnableConfig
  bool FAlternate = false;      // the next answer is the altered one
};

// True for the instructions that change the configuration.
bool IsSimWrite(std::uint8_t Instruction);
