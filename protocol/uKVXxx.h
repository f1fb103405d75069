#pragma once
// The module record and the codecs of the module's parameter streams and measured values.
// Texts are raw 8-bit bytes as the module sends them (Windows-1250).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Index = speed code, value = bit/s.
inline constexpr std::array<std::uint32_t, 12> kSpeedCodes = {
    110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

enum TKVXModuleType : std::uint8_t {
  mtUnknown = 0,
  mtUSB = 1,
  mtETH = 2,
  mtRS = 3,
  mtNOVRA = 4,
};

struct TKVXProduction {
  std::string Text;  // "%.4d.xx.xx/%.4d", product number first
  std::uint16_t ProductNumber = 0;
  std::uint16_t SerialNumber = 0;
  bool operator==(const TKVXProduction&) const = default;
};

struct TKVXTirmel {
  std::string TypeText;
  std::string UserData;
  std::uint8_t SpeedCode = 0;
  std::uint8_t Address = 0;
  TKVXProduction Production;
  bool operator==(const TKVXTirmel&) const = default;
};

// Capacities of the texts of the records, equal to their widths in the streams
// (except the name, whose width is 21 too).
inline constexpr std::size_t kNameWidth = 21;
inline constexpr std::size_t kInputRangeWidth = 15;
inline constexpr std::size_t kUnitWidth = 5;
inline constexpr std::size_t kAuxTextWidth = 5;
inline constexpr std::size_t kParamTextWidth = 10;
inline constexpr std::size_t kUserDataWidth = 16;

struct TChannelSetup {
  std::uint8_t Channel = 0;    // 0x01; 0 when the module reported nothing for this slot
  std::string Name;            // 0x11, at most 21
  std::string InputRange;      // 0x12, at most 15
  std::string Unit;            // 0x13, at most 5
  std::string AuxText;         // 0x14, at most 5; never written
  std::uint8_t Decimals = 0;   // 0x15
  float Scale = 0;             // 0x16
  std::string Text17;          // 0x17, at most 10
  float Offset = 0;            // 0x18
  std::string Text19;          // 0x19, at most 10
  std::uint8_t Loop = 0;       // 0x20: 0 no option, 1 on, 2 off
  bool GainPresent = false;    // a 0x1A item came since the last 0x01 item
  std::uint8_t GainIndex = 0;  // 0x1A: gain 2^GainIndex
  // Reals compare bit for bit, so a record holding an erased real (a NaN) equals itself.
  bool operator==(const TChannelSetup&) const;
};

// A channel's offset and scale map the input's steps 0 to kRangeSpan onto its range, so
// the range's bottom is the offset and its top the offset plus the scale times the span.
inline constexpr double kRangeSpan = 10000;

inline constexpr std::uint8_t kWatchOnFlag = 0x80;

struct TChannelWatch {
  std::uint8_t Channel = 0;  // 0x01
  std::uint8_t Flags = 0;    // 0x12; bit 7: watching on
  float UpperLimit = 0;      // 0x13
  std::string Text14;        // 0x14, at most 10
  float LowerLimit = 0;      // 0x15
  std::string Text16;        // 0x16, at most 10
  float Hysteresis = 0;      // 0x17
  std::string Text18;        // 0x18, at most 10
  bool Option1A = false;     // 0x1A value byte equals 1; never written
  // Reals bit for bit, as in TChannelSetup.
  bool operator==(const TChannelWatch&) const;
};

inline constexpr int kChannelCount = 4;

struct TKVXrec {
  std::uint8_t ModuleType = mtUnknown;
  TKVXTirmel Ident;
  // Index 1..4 is the channel number; index 0 is not used.
  std::array<TChannelSetup, kChannelCount + 1> Setup{};
  std::array<TChannelWatch, kChannelCount + 1> Watch{};
  bool operator==(const TKVXrec&) const = default;
};

struct TKVXChannelRecountedValue {
  std::uint8_t Channel = 0;
  bool Overflow = false;
  bool Valid = false;
  std::uint16_t Aux = 0;
  double Value = 0;
  std::string Text;  // 10 characters as the module formats them
};

inline constexpr std::size_t kMeasuredBlockSize = 18;

// Module type from the type text: USB, ETH, NOVRA, RS in that order, upper-cased search.
std::uint8_t ModuleTypeFromText(std::string_view TypeText);
// The model's name as the operator knows it ("DAZAZE", "VIVIDA", "VIROD", "NOVRA"); empty
// for an unknown type.
const char* ModelName(std::uint8_t ModuleType);
// "%.4d.xx.xx/%.4d".
std::string ProductionText(std::uint16_t ProductNumber, std::uint16_t SerialNumber);

// Byte codecs: the stream's front byte is the code; these take the value bytes after it
// and then drop the code byte.
std::string TakeBytes(std::string& Stream, std::size_t Count);
std::uint8_t TakeByte(std::string& Stream);
std::uint32_t TakeUnsigned(std::string& Stream, std::size_t Count);
float TakeReal(std::string& Stream);

// Unknown codes are reported once per stream: one message naming the first few and how many
// more there were.
bool ParseSetupStream(TKVXrec& Rec, std::string Stream);
bool ParseWatchStream(TKVXrec& Rec, std::string Stream);
// The longest parameter stream a module sends: every item of every channel.
std::size_t LongestStreamSize();
std::string BuildSetupChanges(const TChannelSetup& Edited, const TChannelSetup& Read);
std::string BuildWatchChanges(const TChannelWatch& Edited, const TChannelWatch& Read);
// Raises "Invalid value data length" unless Block has exactly 18 bytes (Valid stays false).
void DecodeMeasuredValue(std::string_view Block, TKVXChannelRecountedValue& Value);
// A reply of measured values by position: block n fills entry n; a block that is missing or
// fails to decode leaves its entry not Valid and does not stop the others.
std::array<TKVXChannelRecountedValue, kChannelCount> DecodeMeasurements(std::string_view Reply);
