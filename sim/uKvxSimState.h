#pragma once
// Everything a simulated KVX module holds: its identity, communication settings, user data
// and the four channels' configuration, with every text at its width on the wire.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/uKVXxx.h"

struct TKvxSimChannel {
  TChannelSetup Setup;  // Setup.Name is the channel name; Setup.Loop the 4-20 mA mode
  TChannelWatch Watch;
  bool Overflow = false;  // the measured value is reported over its range
  bool NotValid = false;  // the measured value block carries no value
  bool operator==(const TKvxSimChannel&) const = default;
};

struct TKvxSimState {
  TKVXModuleType Model = mtUSB;
  std::string TypeText;  // as answered, e.g. "KVX DAZAZE USB v1.02"
  std::uint16_t ProductNumber = 0;
  std::uint16_t SerialNumber = 0;
  std::uint8_t Address = 1;
  std::uint8_t SpeedCode = 6;  // the module answers only requests sent at this speed
  std::string UserData;        // 16 characters
  // Index 1..4 is the channel number; index 0 is not used.
  std::array<TKvxSimChannel, kChannelCount + 1> Channels{};
  bool operator==(const TKvxSimState&) const = default;
};

// A module of the given model as it leaves the factory, with a distinct serial number.
TKvxSimState KvxSimFactoryState(TKVXModuleType Model, std::uint16_t SerialNumber = 1);

// The replies of the read instructions as this state answers them. AfterChannel goes
// after each channel's 0x01 item (to inject codes the host does not know).
std::string SimSetupStream(const TKvxSimState& State, std::string_view AfterChannel = {});
std::string SimWatchStream(const TKvxSimState& State, std::string_view AfterChannel = {});
std::string SimLoopModes(const TKvxSimState& State);
std::string SimProduction(const TKvxSimState& State);

// The whole configuration as bytes (identity, settings, both streams, the loop modes), so
// that tests can tell "unchanged" byte for byte, reals included.
std::string SimConfigImage(const TKvxSimState& State);
