#include "sim/uKvxSimDevice.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "protocol/uKVXInstructions.h"
#include "protocol/uTirmel97.h"
#include "support/uConversionUtils.h"
#include "support/uErrors.h"
#include "support/uStringUtils.h"

namespace {

constexpr double kWavePeriodSeconds = 20;  // one swing of a measured value over its range
constexpr std::uint8_t kStatusValid = 0x80;
constexpr std::uint8_t kStatusOverflow = 0x04;
constexpr char kUnknownCode = 0x05;  // defined in neither stream

bool ValidChannel(unsigned char ch) {
  return ch >= 1 && ch <= kChannelCount;
}

std::string Block(int ch, std::uint8_t status, std::uint16_t aux, float value,
                  const std::string& text) {
  return Byte(ch) + Byte(status) + Byte(aux >> 8) + Byte(aux & 0xFF) + FloatToStrBin(value) +
         PadRight(text, 10);
}

}  // namespace

bool IsSimWrite(std::uint8_t Instruction) {
  switch (Instruction) {
    case kiWriteCommParams:
    case kiWriteUserData:
    case kiWriteChannelName:
    case kiWriteChannelSetup:
    case kiWriteLoopMode:
    case kiWriteChannelWatch:
      return true;
    default:
      return false;
  }
}

bool TKvxSimDevice::Hears(std::uint8_t Address) const {
  return Address == FState.Address || Address == kUniversalAddress;
}

TKvxSimAnswer TKvxSimDevice::Answer(std::uint8_t Instruction, const std::string& Data,
                                    double Seconds, const TKvxSimFaults& Faults) {
  // The guard opens for exactly one request after EnableConfig.
  const bool enabled = std::exchange(FConfigEnabled, false);
  if (Instruction == kiEnableConfig) {
    FConfigEnabled = true;
    return {};
  }
  if (IsSimWrite(Instruction)) {
    if (!enabled) return {kSimRefused, {}};
    if (Faults.IgnoreWrites) return {};
    return Write(Instruction, Data) ? TKvxSimAnswer{} : TKvxSimAnswer{kSimRefused, {}};
  }
  TKvxSimAnswer answer = Read(Instruction, Data, Seconds, Faults);
  if (Faults.AlternateAnswers && answer.Code == kSimAck) {
    if (FAlternate) {
      if (answer.Data.empty()) answer.Data = "?";
      answer.Data.back() = static_cast<char>(answer.Data.back() + 1);
    }
    FAlternate = !FAlternate;
  }
  return answer;
}

TKvxSimAnswer TKvxSimDevice::Read(std::uint8_t Instruction, const std::string& Data, double Seconds,
                                  const TKvxSimFaults& Faults) const {
  const std::string unknown = Faults.UnknownStreamCodes ? std::string(1, kUnknownCode) : "";
  switch (Instruction) {
    case kiReadType:
      return {kSimAck, FState.TypeText};
    case kiReadChannelSetup:
      return {kSimAck, SimSetupStream(FState, unknown)};
    case kiReadChannelWatch:
      return {kSimAck, SimWatchStream(FState, unknown)};
    case kiReadLoopModes:
      return {kSimAck, SimLoopModes(FState)};
    case kiReadCommParams:
      return {kSimAck, Byte(FState.Address) + Byte(FState.SpeedCode)};
    case kiReadUserData:
      return {kSimAck, Faults.EmptyUserData ? std::string() : FState.UserData};
    case kiReadProduction:
      return {kSimAck, SimProduction(FState)};
    case kiReadChannelName:
      if (Data.size() != 1 || !ValidChannel(Data[0])) break;
      return {kSimAck, FState.Channels[static_cast<unsigned char>(Data[0])].Setup.Name};
    case kiReadMeasuredValues:
      return {kSimAck, MeasuredValues(Seconds)};
    default:
      break;
  }
  return {kSimRefused, {}};
}

bool TKvxSimDevice::Write(std::uint8_t Instruction, const std::string& Data) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(Data[i]); };
  switch (Instruction) {
    case kiWriteCommParams:
      if (Data.size() != 2 || byte(0) >= kUniversalAddress || byte(1) >= kSpeedCodes.size())
        return false;
      FState.Address = byte(0);
      FState.SpeedCode = byte(1);
      return true;
    case kiWriteUserData:
      if (Data.size() != kUserDataRequestSize || byte(0) != 0) return false;
      FState.UserData = Data.substr(1);
      return true;
    case kiWriteChannelName:
      if (Data.size() != kChannelNameRequestSize || !ValidChannel(byte(0))) return false;
      FState.Channels[byte(0)].Setup.Name = Data.substr(1);
      return true;
    case kiWriteLoopMode: {
      if (Data.size() != 2 || !ValidChannel(byte(0))) return false;
      std::uint8_t& loop = FState.Channels[byte(0)].Setup.Loop;
      // A channel without the 4-20 mA option keeps 0; the others switch between on and off.
      if (loop == 0 || (byte(1) != 1 && byte(1) != 2)) return false;
      loop = byte(1);
      return true;
    }
    case kiWriteChannelSetup:
    case kiWriteChannelWatch:
      return WriteStream(Instruction, Data);
    default:
      return false;
  }
}

bool TKvxSimDevice::WriteStream(std::uint8_t Instruction, const std::string& Data) {
  // Parsed into a copy, so a malformed stream changes nothing.
  TKVXrec rec;
  for (int ch = 1; ch <= kChannelCount; ++ch) {
    rec.Setup[ch] = FState.Channels[ch].Setup;
    rec.Watch[ch] = FState.Channels[ch].Watch;
  }
  if (Data.empty() || Data[0] != 0x01) return false;
  try {
    if (Instruction == kiWriteChannelSetup)
      ParseSetupStream(rec, Data);
    else
      ParseWatchStream(rec, Data);
  } catch (const Exception&) {
    return false;
  }
  for (int ch = 1; ch <= kChannelCount; ++ch) {
    TChannelSetup& setup = FState.Channels[ch].Setup;
    // Whether a channel has an amplifier is hardware; without one there is no gain to set.
    const bool gain = setup.GainPresent;
    const std::uint8_t gainIndex = setup.GainIndex;
    setup = rec.Setup[ch];
    setup.GainPresent = gain;
    if (!gain) setup.GainIndex = gainIndex;
    FState.Channels[ch].Watch = rec.Watch[ch];
  }
  return true;
}

std::string TKvxSimDevice::MeasuredValues(double Seconds) const {
  std::string reply;
  for (int ch = 1; ch <= kChannelCount; ++ch) {
    const TKvxSimChannel& channel = FState.Channels[ch];
    const TRange range = ScaleToRange(channel.Setup.Offset, channel.Setup.Scale, kRangeSpan);
    if (channel.NotValid) {
      reply += Block(ch, 0, 0, 0, "     -----");
    } else if (channel.Overflow) {
      reply += Block(ch, kStatusValid | kStatusOverflow, kRangeSpan + 500, range.Max, "  OVERFLOW");
    } else {
      const double phase = 2 * std::numbers::pi * Seconds / kWavePeriodSeconds + ch;
      const double fraction = 0.5 + 0.45 * std::sin(phase);
      const auto value = static_cast<float>(range.Min + (range.Max - range.Min) * fraction);
      const int decimals = std::min<int>(channel.Setup.Decimals, 6);
      reply +=
          Block(ch, kStatusValid, static_cast<std::uint16_t>(std::lround(fraction * kRangeSpan)),
                value, Format("%10.*f", decimals, static_cast<double>(value)));
    }
  }
  return reply;
}
