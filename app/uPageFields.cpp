#include "app/uPageFields.h"

#include <bit>
#include <cstdint>

#include "protocol/uKVXxxCommands.h"
#include "support/uConversionUtils.h"
#include "support/uStringUtils.h"

namespace {

constexpr double kRangeSpan = 10000;

bool SameReal(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

float RangeTop(const TChannelSetup& Setup) {
  return ScaleToRange(Setup.Offset, Setup.Scale, kRangeSpan).Max;
}

// One field: whether Saved and Held agree in it (for channel Ch), and how it is copied.
struct TFieldRule {
  const char* Label;
  bool (*Same)(const TKVXrec& Saved, const TKVXrec& Held, int Ch);
  void (*Copy)(const TKVXrec& From, TKVXrec& To, int Ch);
};

const TFieldRule kCommunicationFields[] = {
    {"lKomunikacniRychlost",
     [](const TKVXrec& s, const TKVXrec& h, int) { return !SpeedChanged(h, s); },
     [](const TKVXrec& f, TKVXrec& t, int) { t.Ident.SpeedCode = f.Ident.SpeedCode; }},
    {"lAdresaModulu",
     [](const TKVXrec& s, const TKVXrec& h, int) { return s.Ident.Address == h.Ident.Address; },
     [](const TKVXrec& f, TKVXrec& t, int) { t.Ident.Address = f.Ident.Address; }},
    {"lUzivatelskaData",
     [](const TKVXrec& s, const TKVXrec& h, int) {
       return Trim(s.Ident.UserData) == Trim(h.Ident.UserData);
     },
     [](const TKVXrec& f, TKVXrec& t, int) { t.Ident.UserData = f.Ident.UserData; }},
};

const TFieldRule kChannelFields[] = {
    {"Label1",
     [](const TKVXrec& s, const TKVXrec& h, int c) {
       return Trim(s.Setup[c].Name) == Trim(h.Setup[c].Name);
     },
     [](const TKVXrec& f, TKVXrec& t, int c) { t.Setup[c].Name = f.Setup[c].Name; }},
    {"Label11",
     [](const TKVXrec& s, const TKVXrec& h, int c) { return s.Setup[c].Loop == h.Setup[c].Loop; },
     [](const TKVXrec& f, TKVXrec& t, int c) { t.Setup[c].Loop = f.Setup[c].Loop; }},
    {"Label2",
     [](const TKVXrec& s, const TKVXrec& h, int c) {
       return Trim(s.Setup[c].Unit) == Trim(h.Setup[c].Unit);
     },
     [](const TKVXrec& f, TKVXrec& t, int c) { t.Setup[c].Unit = f.Setup[c].Unit; }},
    // The top follows from bottom and scale: copying the scale with the bottom restores it.
    {"Label5",
     [](const TKVXrec& s, const TKVXrec& h, int c) {
       return SameReal(RangeTop(s.Setup[c]), RangeTop(h.Setup[c]));
     },
     [](const TKVXrec& f, TKVXrec& t, int c) { t.Setup[c].Scale = f.Setup[c].Scale; }},
    {"Label6",
     [](const TKVXrec& s, const TKVXrec& h, int c) {
       return SameReal(s.Setup[c].Offset, h.Setup[c].Offset);
     },
     [](const TKVXrec& f, TKVXrec& t, int c) { t.Setup[c].Offset = f.Setup[c].Offset; }},
    {"Label7",
     [](const TKVXrec& s, const TKVXrec& h, int c) {
       return s.Setup[c].Decimals == h.Setup[c].Decimals;
     },
     [](const TKVXrec& f, TKVXrec& t, int c) { t.Setup[c].Decimals = f.Setup[c].Decimals; }},
    {"lblChannelGain",
     [](const TKVXrec& s, const TKVXrec& h, int c) {
       return !h.Setup[c].GainPresent || s.Setup[c].GainIndex == h.Setup[c].GainIndex;
     },
     [](const TKVXrec& f, TKVXrec& t, int c) { t.Setup[c].GainIndex = f.Setup[c].GainIndex; }},
    {"Label17",
     [](const TKVXrec& s, const TKVXrec& h, int c) {
       return ((s.Watch[c].Flags ^ h.Watch[c].Flags) & kWatchOnFlag) == 0;
     },
     [](const TKVXrec& f, TKVXrec& t, int c) {
       t.Watch[c].Flags = static_cast<std::uint8_t>((t.Watch[c].Flags & ~kWatchOnFlag) |
                                                    (f.Watch[c].Flags & kWatchOnFlag));
     }},
    {"Label19",
     [](const TKVXrec& s, const TKVXrec& h, int c) {
       return SameReal(s.Watch[c].UpperLimit, h.Watch[c].UpperLimit);
     },
     [](const TKVXrec& f, TKVXrec& t, int c) { t.Watch[c].UpperLimit = f.Watch[c].UpperLimit; }},
    {"Label20",
     [](const TKVXrec& s, const TKVXrec& h, int c) {
       return SameReal(s.Watch[c].LowerLimit, h.Watch[c].LowerLimit);
     },
     [](const TKVXrec& f, TKVXrec& t, int c) { t.Watch[c].LowerLimit = f.Watch[c].LowerLimit; }},
    {"Label21",
     [](const TKVXrec& s, const TKVXrec& h, int c) {
       return SameReal(s.Watch[c].Hysteresis, h.Watch[c].Hysteresis);
     },
     [](const TKVXrec& f, TKVXrec& t, int c) { t.Watch[c].Hysteresis = f.Watch[c].Hysteresis; }},
};

}  // namespace

std::vector<TPageField> KeepFieldsNotTaken(const TKVXrec& Saved, const TKVXrec& Held,
                                           TKVXrec& Edited) {
  std::vector<TPageField> fields;
  const auto check = [&](const TFieldRule& Rule, int Channel) {
    if (Rule.Same(Saved, Held, Channel)) return;
    Rule.Copy(Saved, Edited, Channel);
    fields.push_back({Rule.Label, Channel});
  };
  for (const TFieldRule& rule : kCommunicationFields) check(rule, 0);
  for (int ch = 1; ch <= kChannelCount; ++ch)
    if (Held.Setup[ch].Channel == ch)
      for (const TFieldRule& rule : kChannelFields) check(rule, ch);
  return fields;
}
