// The measurement page's values, read once a tick, and the trend they feed.
#include <algorithm>
#include <chrono>
#include <exception>

#include "app/uMain.h"
#include "app/uWindowColors.h"
#include "support/uCodePage.h"
#include "support/uStringUtils.h"

void TfMain::MeasureTick() {
  std::string reply;
  try {
    reply = ReadMeasurements(FCurrent, FAddress);
  } catch (const std::exception& error) {
    // A reply that cannot be parsed counts as none; the next tick tries again.
    DebugLog(std::string("ReadMeasurements ") + error.what(), this);
  }
  const std::array<TKVXChannelRecountedValue, kChannelCount> values = DecodeMeasurements(reply);
  ShowMeasurements(values);
  AddToTrend(values);
}

void TfMain::ShowMeasurements(const std::array<TKVXChannelRecountedValue, kChannelCount>& Values) {
  for (int channel = 1; channel <= kChannelCount; ++channel) {
    const TKVXChannelRecountedValue& value = Values[channel - 1];
    TViewElement& text = Element(Format("lMeasuringChannel%dValue", channel));
    TViewElement& frame = Element(Format("sMeasuringChannel%dPanel", channel));
    const bool overflow = value.Valid && value.Overflow;
    text.Set("Caption", !value.Valid ? "-" : overflow ? "OVR " : Cp1250ToUtf8(value.Text));
    text.Set("FontColor", overflow ? clRed : kTextColor);
    frame.Set("PenColor", overflow ? clRed : kTextColor);
  }
  FillMeasurementNames();
}

void TfMain::FillMeasurementNames() {
  for (int channel = 1; channel <= kChannelCount; ++channel) {
    Element(Format("lChannel%dName", channel))
        .Set("Caption", Cp1250ToUtf8(FRead.Setup[channel].Name));
    Element(Format("lMeasuringChannel%dUnit", channel))
        .Set("Caption", Cp1250ToUtf8(FRead.Setup[channel].Unit));
  }
  const std::string user = Trim(FRead.Ident.UserData);
  Element("lModuleName").Set("Caption", user.empty() ? "" : " - " + Cp1250ToUtf8(user));
}

void TfMain::AddToTrend(const std::array<TKVXChannelRecountedValue, kChannelCount>& Values) {
  TTrendChannels channels;
  TTrendReading reading;
  reading.TimeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  for (int channel = 1; channel <= kChannelCount; ++channel) {
    const TChannelSetup& setup = FRead.Setup[channel];
    channels[channel - 1] = {Cp1250ToUtf8(Trim(setup.Name)), Cp1250ToUtf8(Trim(setup.Unit))};
    const TKVXChannelRecountedValue& value = Values[channel - 1];
    TTrendValue& entry = reading.Values[channel - 1];
    entry.State = !value.Valid     ? TReadingState::Missing
                  : value.Overflow ? TReadingState::Overflow
                                   : TReadingState::Valid;
    entry.Value = static_cast<float>(value.Value);
    if (entry.IsValue()) entry.Text = Trim(Cp1250ToUtf8(value.Text));
  }
  FTrend.SetChannels(channels);
  FTrend.Add(reading);
}
