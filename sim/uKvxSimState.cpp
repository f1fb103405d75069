#include "sim/uKvxSimState.h"

#include "sim/uKvxSimStreams.h"

#include "support/uConversionUtils.h"
#include "support/uStringUtils.h"

namespace {

struct TModelTemplate {
  TKVXModuleType Model;
  const char* TypeText;
  std::uint16_t ProductNumber;
  std::uint8_t SpeedCode;
  bool Gains;  // channels 3 and 4 have a programmable amplifier
};

// The type texts name neither "RS" nor "ETH" by accident (so no "VERSION").
constexpr TModelTemplate kModels[] = {
    {mtUSB, "KVX DAZAZE USB v1.02", 1021, 10, false},
    {mtETH, "KVX VIVIDA ETH v2.10", 1022, 10, true},
    {mtRS, "KVX VIROD RS485 v1.31", 1023, 6, true},
    {mtNOVRA, "NOVRA 4AI v3.05", 2040, 6, false},
};

struct TChannelTemplate {
  const char* Name;  // Windows-1250
  const char* InputRange;
  const char* Unit;
  std::uint8_t Decimals;
  double Bottom;
  double Top;
  std::uint8_t Loop;
  std::uint8_t WatchFlags;
  float Upper;
  float Lower;
  float Hysteresis;
};

constexpr TChannelTemplate kChannels[kChannelCount] = {
    {"Teplota pece", "0..10 V",
     "\xB0"
     "C",
     1, 0, 1200, 0, 0x80, 950, 20, 5},
    {"Tlak", "4..20 mA", "bar", 2, 0, 16, 1, 0x01, 12.5f, 0.5f, 0.25f},
    {"Vlhkost", "0..50 mV", "%", 0, 0, 100, 0, 0x00, 90, 10, 2},
    {"Pr\xF9tok", "0..50 mV", "m3/h", 2, -5, 45, 2, 0x81, 40, -2, 0.5f},
};

// A channel's stream starts with its two-byte 0x01 item.
std::string WithAfterChannel(std::string channelStream, std::string_view extra) {
  return channelStream.insert(2, extra);
}

}  // namespace

TKvxSimState KvxSimFactoryState(TKVXModuleType Model, std::uint16_t SerialNumber) {
  const TModelTemplate* model = &kModels[0];
  for (const auto& known : kModels)
    if (known.Model == Model) model = &known;
  TKvxSimState state;
  state.Model = model->Model;
  state.TypeText = model->TypeText;
  state.ProductNumber = model->ProductNumber;
  state.SerialNumber = SerialNumber;
  state.SpeedCode = model->SpeedCode;
  state.UserData = PadRight("Hala 3, linka B", kUserDataWidth);
  for (int ch = 1; ch <= kChannelCount; ++ch) {
    const TChannelTemplate& channel = kChannels[ch - 1];
    TChannelSetup& setup = state.Channels[ch].Setup;
    setup.Channel = static_cast<std::uint8_t>(ch);
    setup.Name = PadRight(channel.Name, kNameWidth);
    setup.InputRange = PadRight(channel.InputRange, kInputRangeWidth);
    setup.Unit = PadRight(channel.Unit, kUnitWidth);
    setup.AuxText = PadRight("A" + std::to_string(ch), kAuxTextWidth);
    setup.Decimals = channel.Decimals;
    RangeToScale(channel.Bottom, channel.Top, kRangeSpan, setup.Offset, setup.Scale);
    setup.Text17 = PadRight("CAL" + std::to_string(ch), kParamTextWidth);
    setup.Text19 = PadRight("", kParamTextWidth);
    setup.Loop = channel.Loop;
    setup.GainPresent = model->Gains && ch >= 3;
    setup.GainIndex = setup.GainPresent ? 3 : 0;
    TChannelWatch& watch = state.Channels[ch].Watch;
    watch.Channel = static_cast<std::uint8_t>(ch);
    watch.Flags = channel.WatchFlags;
    watch.UpperLimit = channel.Upper;
    watch.Text14 = PadRight("HI", kParamTextWidth);
    watch.LowerLimit = channel.Lower;
    watch.Text16 = PadRight("LO", kParamTextWidth);
    watch.Hysteresis = channel.Hysteresis;
    watch.Text18 = PadRight("", kParamTextWidth);
    watch.Option1A = ch % 2 == 1;
  }
  return state;
}

std::string SimSetupStream(const TKvxSimState& State, std::string_view AfterChannel) {
  std::string stream;
  for (int ch = 1; ch <= kChannelCount; ++ch)
    stream += WithAfterChannel(EncodeSetupStream(State.Channels[ch].Setup), AfterChannel);
  return stream;
}

std::string SimWatchStream(const TKvxSimState& State, std::string_view AfterChannel) {
  std::string stream;
  for (int ch = 1; ch <= kChannelCount; ++ch)
    stream += WithAfterChannel(EncodeWatchStream(State.Channels[ch].Watch), AfterChannel);
  return stream;
}

std::string SimLoopModes(const TKvxSimState& State) {
  std::string reply;
  for (int ch = 1; ch <= kChannelCount; ++ch)
    reply += Byte(ch) + Byte(State.Channels[ch].Setup.Loop);
  return reply;
}

std::string SimProduction(const TKvxSimState& State) {
  return Byte(State.ProductNumber >> 8) + Byte(State.ProductNumber & 0xFF) +
         Byte(State.SerialNumber >> 8) + Byte(State.SerialNumber & 0xFF);
}

std::string SimConfigImage(const TKvxSimState& State) {
  std::string image = Byte(State.Model) + State.TypeText + '\0' + SimProduction(State) +
                      Byte(State.Address) + Byte(State.SpeedCode) + State.UserData + '\0' +
                      SimSetupStream(State) + SimWatchStream(State) + SimLoopModes(State);
  for (int ch = 1; ch <= kChannelCount; ++ch)
    image += Byte(State.Channels[ch].Overflow) + Byte(State.Channels[ch].NotValid);
  return image;
}
