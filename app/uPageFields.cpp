#include "app/uPageFields.h"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "protocol/uKVXxxCommands.h"
#include "support/uConversionUtils.h"
#include "support/uErrors.h"
#include "support/uStringUtils.h"

namespace {

bool SameReal(float Left, float Right) {
  return std::bit_cast<std::uint32_t>(Left) == std::bit_cast<std::uint32_t>(Right);
}

float RangeTop(const TChannelSetup& Setup) {
  return ScaleToRange(Setup.Offset, Setup.Scale, kRangeSpan).Max;
}

// One field: whether Saved and Held agree in it (for the channel given), and how it is copied.
struct TFieldRule {
  const char* Label;
  const char* Element;
  bool (*Same)(const TKVXrec& Saved, const TKVXrec& Held, int Channel);
  void (*Copy)(const TKVXrec& From, TKVXrec& To, int Channel);
};

// The channel records a field lives in.
constexpr auto kSetup = &TKVXrec::Setup;
constexpr auto kWatch = &TKVXrec::Watch;

template <auto Records, auto Member>
const auto& FieldOf(const TKVXrec& Rec, int Channel) {
  return (Rec.*Records)[Channel].*Member;
}

template <auto Records, auto Member>
bool SameValue(const TKVXrec& Saved, const TKVXrec& Held, int Channel) {
  return FieldOf<Records, Member>(Saved, Channel) == FieldOf<Records, Member>(Held, Channel);
}

// Reals bit for bit: the module gives back the single it was sent.
template <auto Records, auto Member>
bool SameBits(const TKVXrec& Saved, const TKVXrec& Held, int Channel) {
  return SameReal(FieldOf<Records, Member>(Saved, Channel),
                  FieldOf<Records, Member>(Held, Channel));
}

// Texts without the blanks the module pads them with.
template <auto Records, auto Member>
bool SameTrimmed(const TKVXrec& Saved, const TKVXrec& Held, int Channel) {
  return Trim(FieldOf<Records, Member>(Saved, Channel)) ==
         Trim(FieldOf<Records, Member>(Held, Channel));
}

template <auto Records, auto Member>
void CopyValue(const TKVXrec& From, TKVXrec& To, int Channel) {
  (To.*Records)[Channel].*Member = FieldOf<Records, Member>(From, Channel);
}

const TFieldRule kCommunicationFields[] = {
    {"lKomunikacniRychlost", "cbCommunicationSpeed",
     [](const TKVXrec& saved, const TKVXrec& held, int) { return !SpeedChanged(held, saved); },
     [](const TKVXrec& from, TKVXrec& to, int) { to.Ident.SpeedCode = from.Ident.SpeedCode; }},
    {"lAdresaModulu", "cbADR",
     [](const TKVXrec& saved, const TKVXrec& held, int) {
       return saved.Ident.Address == held.Ident.Address;
     },
     [](const TKVXrec& from, TKVXrec& to, int) { to.Ident.Address = from.Ident.Address; }},
    {"lUzivatelskaData", "mUserData",
     [](const TKVXrec& saved, const TKVXrec& held, int) {
       return Trim(saved.Ident.UserData) == Trim(held.Ident.UserData);
     },
     [](const TKVXrec& from, TKVXrec& to, int) { to.Ident.UserData = from.Ident.UserData; }},
};

const TFieldRule kChannelFields[] = {
    {"Label1", "eChannelName", SameTrimmed<kSetup, &TChannelSetup::Name>,
     CopyValue<kSetup, &TChannelSetup::Name>},
    {"Label11", "cb4_20mA", SameValue<kSetup, &TChannelSetup::Loop>,
     CopyValue<kSetup, &TChannelSetup::Loop>},
    {"Label2", "eChannelUnit", SameTrimmed<kSetup, &TChannelSetup::Unit>,
     CopyValue<kSetup, &TChannelSetup::Unit>},
    // The top follows from bottom and scale: copying the scale with the bottom restores it.
    {"Label5", "deValueRangeMax",
     [](const TKVXrec& saved, const TKVXrec& held, int channel) {
       return SameReal(RangeTop(saved.Setup[channel]), RangeTop(held.Setup[channel]));
     },
     CopyValue<kSetup, &TChannelSetup::Scale>},
    {"Label6", "deValueRangeMin", SameBits<kSetup, &TChannelSetup::Offset>,
     CopyValue<kSetup, &TChannelSetup::Offset>},
    {"Label7", "ieDecimals", SameValue<kSetup, &TChannelSetup::Decimals>,
     CopyValue<kSetup, &TChannelSetup::Decimals>},
    {"lblChannelGain", "cbbChannelGain",
     [](const TKVXrec& saved, const TKVXrec& held, int channel) {
       return !held.Setup[channel].GainPresent ||
              saved.Setup[channel].GainIndex == held.Setup[channel].GainIndex;
     },
     CopyValue<kSetup, &TChannelSetup::GainIndex>},
    // Only the watching bit of the flags is on the page.
    {"Label17", "CheckBox2",
     [](const TKVXrec& saved, const TKVXrec& held, int channel) {
       return ((saved.Watch[channel].Flags ^ held.Watch[channel].Flags) & kWatchOnFlag) == 0;
     },
     [](const TKVXrec& from, TKVXrec& to, int channel) {
       std::uint8_t& flags = to.Watch[channel].Flags;
       flags = static_cast<std::uint8_t>((flags & ~kWatchOnFlag) |
                                         (from.Watch[channel].Flags & kWatchOnFlag));
     }},
    {"Label19", "deMaxValue", SameBits<kWatch, &TChannelWatch::UpperLimit>,
     CopyValue<kWatch, &TChannelWatch::UpperLimit>},
    {"Label20", "deMinValue", SameBits<kWatch, &TChannelWatch::LowerLimit>,
     CopyValue<kWatch, &TChannelWatch::LowerLimit>},
    {"Label21", "deHystValue", SameBits<kWatch, &TChannelWatch::Hysteresis>,
     CopyValue<kWatch, &TChannelWatch::Hysteresis>},
};

}  // namespace

const TFieldBounds& NumberFieldBounds(std::string_view Element) {
  const auto field =
      std::find_if(kNumberFields.begin(), kNumberFields.end(),
                   [&](const TNumberField& each) { return each.Element == Element; });
  if (field == kNumberFields.end())
    throw Exception("'" + std::string(Element) + "' is not a number field");
  return field->Bounds;
}

std::vector<TPageField> KeepFieldsNotTaken(const TKVXrec& Saved, const TKVXrec& Held,
                                           TKVXrec& Edited) {
  std::vector<TPageField> fields;
  const auto check = [&](const TFieldRule& Rule, int Channel) {
    if (Rule.Same(Saved, Held, Channel)) return;
    Rule.Copy(Saved, Edited, Channel);
    fields.push_back({Rule.Label, Rule.Element, Channel});
  };
  for (const TFieldRule& rule : kCommunicationFields) check(rule, 0);
  for (int channel = 1; channel <= kChannelCount; ++channel)
    if (Held.Setup[channel].Channel == channel)
      for (const TFieldRule& rule : kChannelFields) check(rule, channel);
  return fields;
}
