#pragma once
// Format-97 frames: "*a", 16-bit big-endian length, address, signature, instruction,
// data, checksum, carriage return.
#include <cstdint>
#include <string>
#include <string_view>

struct TTirmelFormat97 {
  char Prefix = 0;
  char Format = 0;
  std::uint16_t Length = 0;
  std::uint8_t Address = 0;
  std::uint8_t Signature = 0;
  std::uint8_t Instruction = 0;  // the acknowledge code in a reply
  std::string Data;
  std::uint8_t Checksum = 0;
  std::uint8_t Terminator = 0;
};

constexpr std::uint8_t kUniversalAddress = 254;
// The addresses a module can be given: every one below the universal address.
constexpr std::uint8_t kHighestModuleAddress = kUniversalAddress - 1;
constexpr std::size_t kMaxFrameData = 65530;
// The bytes of a frame around its data: header, checksum and terminator.
constexpr std::size_t kFrameOverhead = 9;
// The largest legal frame.
constexpr std::size_t kMaxFrameSize = kMaxFrameData + kFrameOverhead;

// 0xFF minus the low byte of the sum of all bytes. No length limit: the largest legal
// frame has 65 537 bytes before its checksum.
std::uint8_t FrameChecksum(std::string_view bytes);
// Raises when Data is longer than kMaxFrameData.
std::string BuildFrame(std::uint8_t Address, std::uint8_t Signature, std::uint8_t Instruction,
                       std::string_view Data);
// 0 for a complete, correct frame; 1..6 name the first check that failed.
std::int16_t ValidateFrame(std::string_view bytes);
// True when no further bytes can make Bytes a valid frame: it does not begin as a frame does,
// or it is already as long as its length field says (or longer) without being valid.
bool FrameCannotComplete(std::string_view bytes);
// Fills Frame from a validated frame; raises "Incorrect PACKET (Tirmel format 97)!".
void ParseFrame(std::string_view bytes, TTirmelFormat97& Frame);
