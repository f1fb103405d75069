#pragma once
// What the service knows of one module after its latest read, and the contract of everything
// that passes it on (the Prometheus endpoint's store, the MQTT publisher). The pollers hand a
// copy to every sink after each read; a sink keeps what it needs and never blocks the poller.
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/uKVXxx.h"

// A channel's value as the measurement page shows it: a number, a dash or an overflow.
enum class TServedChannelStatus { Value, None, Overflow };

struct TServedChannel {
  TServedChannelStatus Status = TServedChannelStatus::None;
  double Value = 0;  // meaningful only for Status Value
  std::string Text;  // the module's own text of the value, UTF-8, trimmed
  std::string Name;  // UTF-8, trimmed
  std::string Unit;  // UTF-8, trimmed
};

// Why a read failed, as counted per module.
enum class TServedReadFailure { NoAnswer, Garbled, ChannelGone };
inline constexpr std::size_t kServedReadFailureKinds = 3;

struct TServedModule {
  std::string Model;                    // "VIROD"
  std::string Serial;                   // "4711", at least four digits as the window shows it
  std::string Port;                     // "COM5"; empty for a plant module never found
  std::optional<std::uint8_t> Address;  // set on a scanned line: the module's own address
  std::string UserName;                 // the module's user data, UTF-8, trimmed
  bool Up = false;
  // When the last read that got an answer was made; none before the first.
  std::optional<std::chrono::system_clock::time_point> LastRead;
  std::array<TServedChannel, kChannelCount> Channels{};
  std::uint64_t Reads = 0;  // every read asked, answered or not
  std::array<std::uint64_t, kServedReadFailureKinds> Failures{};

  // "VIROD-4711": the module's name in topics and ids, the same for every port it moves to.
  std::string Key() const { return Model + "-" + Serial; }
};

class IServedModuleSink {
 public:
  virtual ~IServedModuleSink() = default;
  // After every read of Module, answered or not, and when a plant module is known but not
  // found. Called on a poller's thread; must return at once.
  virtual void Update(const TServedModule& Module) = 0;
  // Module has left the plant (its file was removed and it is not found): forget it.
  virtual void Forget(const TServedModule& Module) = 0;
};
