#pragma once
// The module's instruction codes. Every request carries signature 1.
#include <cstdint>

enum TKVXInstruction : std::uint8_t {
  kiReadType = 0xF3,            // -> type text
  kiReadChannelSetup = 0x1F,    // 0x00 -> setup stream of all channels
  kiReadChannelWatch = 0x1D,    // 0x00 -> watch stream of all channels
  kiReadLoopModes = 0x1B,       // -> 8 bytes, Loop of channel n at 2n-1
  kiReadCommParams = 0xF0,      // -> address, speed code
  kiReadUserData = 0xF2,        // -> user data text
  kiReadProduction = 0xFA,      // -> product number, serial number (16-bit each)
  kiReadChannelName = 0x3B,     // channel -> name
  kiReadMeasuredValues = 0x58,  // 0x00 -> four 18-byte measured value blocks
  kiEnableConfig = 0xE4,        // allows the one write that follows
  kiWriteCommParams = 0xE0,     // address, speed code
  kiWriteUserData = 0xE2,       // 0x00, 16 characters
  kiWriteChannelName = 0x2B,    // channel, 21 characters
  kiWriteChannelSetup = 0x1E,   // 0x01, channel, setup items
  kiWriteLoopMode = 0x1A,       // channel, Loop
  kiWriteChannelWatch = 0x1C,   // 0x01, channel, watch items
};

inline constexpr std::uint8_t kRequestSignature = 1;
inline constexpr std::size_t kUserDataRequestSize = 17;
inline constexpr std::size_t kChannelNameRequestSize = 22;
