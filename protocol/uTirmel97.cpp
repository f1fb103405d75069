#include "protocol/uTirmel97.h"

#include "support/uErrors.h"

namespace {
constexpr char kPrefix = '*';
constexpr char kFormat = 'a';
constexpr char kTerminator = '\r';
constexpr std::size_t kHeaderSize =
    7;  // prefix, format, length (2), address, signature, instruction

std::uint16_t LengthField(std::string_view bytes) {
  return static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[2]) << 8) |
                                    static_cast<unsigned char>(bytes[3]));
}
}  // namespace

std::uint8_t FrameChecksum(std::string_view bytes) {
  std::uint8_t sum = 0;
  for (unsigned char byte : bytes) sum = static_cast<std::uint8_t>(sum + byte);
  return static_cast<std::uint8_t>(0xFF - sum);
}

std::string BuildFrame(std::uint8_t Address, std::uint8_t Signature, std::uint8_t Instruction,
                       std::string_view Data) {
  if (Data.size() > kMaxFrameData) throw Exception("Frame data longer than 65530 bytes");
  const std::size_t length = Data.size() + 5;
  std::string frame;
  frame.reserve(Data.size() + kFrameOverhead);
  frame += kPrefix;
  frame += kFormat;
  frame += static_cast<char>(length >> 8);
  frame += static_cast<char>(length & 0xFF);
  frame += static_cast<char>(Address);
  frame += static_cast<char>(Signature);
  frame += static_cast<char>(Instruction);
  frame += Data;
  frame += static_cast<char>(FrameChecksum(frame));
  frame += kTerminator;
  return frame;
}

std::int16_t ValidateFrame(std::string_view bytes) {
  if (bytes.size() < 8) return 1;
  if (bytes[0] != kPrefix) return 2;
  if (bytes[1] != kFormat) return 3;
  // The length test comes before the checksum so that a frame still arriving costs little.
  if (bytes.size() != static_cast<std::size_t>(LengthField(bytes)) + 4) return 4;
  if (FrameChecksum(bytes.substr(0, bytes.size() - 2)) !=
      static_cast<unsigned char>(bytes[bytes.size() - 2]))
    return 5;
  if (bytes.back() != kTerminator) return 6;
  return 0;
}

bool FrameCannotComplete(std::string_view bytes) {
  if (!bytes.empty() && bytes[0] != kPrefix) return true;
  if (bytes.size() >= 2 && bytes[1] != kFormat) return true;
  if (bytes.size() < 4) return false;
  return bytes.size() >= static_cast<std::size_t>(LengthField(bytes)) + 4 &&
         ValidateFrame(bytes) != 0;
}

void ParseFrame(std::string_view bytes, TTirmelFormat97& Frame) {
  Frame.Terminator = 0;
  const auto fail = [] { throw Exception("Incorrect PACKET (Tirmel format 97)!"); };
  if (bytes.size() < 9) fail();
  const std::uint16_t length = LengthField(bytes);
  // The checksum sits at Length + 2 and the terminator at Length + 3; a length below 5
  // would put them inside the header.
  if (length < 5 || static_cast<std::size_t>(length) + 3 >= bytes.size()) fail();
  Frame.Prefix = bytes[0];
  Frame.Format = bytes[1];
  Frame.Length = length;
  Frame.Address = static_cast<std::uint8_t>(bytes[4]);
  Frame.Signature = static_cast<std::uint8_t>(bytes[5]);
  Frame.Instruction = static_cast<std::uint8_t>(bytes[6]);
  Frame.Data.assign(bytes.substr(kHeaderSize, length - 5));
  Frame.Checksum = static_cast<std::uint8_t>(bytes[length + 2]);
  Frame.Terminator = static_cast<std::uint8_t>(bytes[length + 3]);
}
