#include "app/uPageFields.h"

#include <algorithm>

#include "protocol/uKVXxxCommands.h"
#include "support/uConversionUtils.h"
#include "support/uErrors.h"
#include "support/uStringUtils.h"

namespace {

float RangeTop(const TChannelSetup& Setup) {
  return ScaleToRange(Setup.Offset, Setup.Scale, kRangeSpan).Max;
}

// One field and whether Saved and Held agree in it (for the channel given).
struct TFieldRule {
  const char* Label;
  const char* Element;
  bool (*Same)(const TKVXrec& Saved, const TKVXrec& Held, int Channel);
};

// Where a field lives: in the identity (the communication page) or in a channel's record.
template <auto Member>
struct TIdentField {
  static auto& Of(const TKVXrec& Rec, int) { return Rec.Ident.*Member; }
};
template <auto Member>
struct TSetupField {
  static auto& Of(const TKVXrec& Rec, int Channel) { return Rec.Setup[Channel].*Member; }
};
template <auto Member>
struct TWatchField {
  static auto& Of(const TKVXrec& Rec, int Channel) { return Rec.Watch[Channel].*Member; }
};

template <class Field>
bool SameValue(const TKVXrec& Saved, const TKVXrec& Held, int Channel) {
  return Field::Of(Saved, Channel) == Field::Of(Held, Channel);
}

// Reals bit for bit: the module gives back the single it was sent.
template <class Field>
bool SameRealBits(const TKVXrec& Saved, const TKVXrec& Held, int Channel) {
  return SameBits(Field::Of(Saved, Channel), Field::Of(Held, Channel));
}

// Texts without the blanks the module pads them with.
template <class Field>
bool SameTrimmed(const TKVXrec& Saved, const TKVXrec& Held, int Channel) {
  return Trim(Field::Of(Saved, Channel)) == Trim(Field::Of(Held, Channel));
}

template <class Field>
constexpr TFieldRule ExactRule(const char* Label, const char* Element) {
  return {Label, Element, SameValue<Field>};
}
template <class Field>
constexpr TFieldRule RealRule(const char* Label, const char* Element) {
  return {Label, Element, SameRealBits<Field>};
}
template <class Field>
constexpr TFieldRule TextRule(const char* Label, const char* Element) {
  return {Label, Element, SameTrimmed<Field>};
}

const TFieldRule kCommunicationFields[] = {
    // The speed counts only where the upload sends it.
    {"lKomunikacniRychlost", "cbCommunicationSpeed",
     [](const TKVXrec& saved, const TKVXrec& held, int) { return !SpeedChanged(held, saved); }},
    ExactRule<TIdentField<&TKVXTirmel::Address>>("lAdresaModulu", "cbADR"),
    TextRule<TIdentField<&TKVXTirmel::UserData>>("lUzivatelskaData", "mUserData"),
};

const TFieldRule kChannelFields[] = {
    TextRule<TSetupField<&TChannelSetup::Name>>("Label1", "eChannelName"),
    ExactRule<TSetupField<&TChannelSetup::Loop>>("Label11", "cb4_20mA"),
    TextRule<TSetupField<&TChannelSetup::Unit>>("Label2", "eChannelUnit"),
    // The top follows from bottom and scale.
    {"Label5", "deValueRangeMax",
     [](const TKVXrec& saved, const TKVXrec& held, int channel) {
       return SameBits(RangeTop(saved.Setup[channel]), RangeTop(held.Setup[channel]));
     }},
    RealRule<TSetupField<&TChannelSetup::Offset>>("Label6", "deValueRangeMin"),
    ExactRule<TSetupField<&TChannelSetup::Decimals>>("Label7", "ieDecimals"),
    {"lblChannelGain", "cbbChannelGain",
     [](const TKVXrec& saved, const TKVXrec& held, int channel) {
       return !held.Setup[channel].GainPresent ||
              saved.Setup[channel].GainIndex == held.Setup[channel].GainIndex;
     }},
    // Only the watching bit of the flags is on the page.
    {"Label17", "CheckBox2",
     [](const TKVXrec& saved, const TKVXrec& held, int channel) {
       return ((saved.Watch[channel].Flags ^ held.Watch[channel].Flags) & kWatchOnFlag) == 0;
     }},
    RealRule<TWatchField<&TChannelWatch::UpperLimit>>("Label19", "deMaxValue"),
    RealRule<TWatchField<&TChannelWatch::LowerLimit>>("Label20", "deMinValue"),
    RealRule<TWatchField<&TChannelWatch::Hysteresis>>("Label21", "deHystValue"),
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

std::vector<TPageField> SavedFieldsNotHeld(const TKVXrec& Saved, const TKVXrec& Held) {
  std::vector<TPageField> fields;
  const auto check = [&](const TFieldRule& Rule, int Channel) {
    if (!Rule.Same(Saved, Held, Channel)) fields.push_back({Rule.Label, Rule.Element, Channel});
  };
  for (const TFieldRule& rule : kCommunicationFields) check(rule, 0);
  for (int channel = 1; channel <= kChannelCount; ++channel)
    if (Held.Setup[channel].Channel == channel)
      for (const TFieldRule& rule : kChannelFields) check(rule, channel);
  return fields;
}
