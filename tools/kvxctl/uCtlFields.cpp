#include "tools/kvxctl/uCtlFields.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include <nlohmann/json.hpp>

#include "app/uPageFields.h"
#include "protocol/uTirmel97.h"
#include "support/uCodePage.h"
#include "support/uConversionUtils.h"
#include "support/uNumberText.h"
#include "support/uStringUtils.h"
#include "tools/kvxctl/uCtlErrors.h"

namespace {

struct TFieldEntry {
  TFieldKind Kind;
  const char* Name;
  const char* Element;  // the window's element that edits it; none for what is read only
};
constexpr std::array<TFieldEntry, 15> kFields = {{
    {TFieldKind::Address, "address", "cbADR"},
    {TFieldKind::Speed, "speed", "cbCommunicationSpeed"},
    {TFieldKind::UserData, "userdata", "mUserData"},
    {TFieldKind::Name, "name", "eChannelName"},
    {TFieldKind::Unit, "unit", "eChannelUnit"},
    {TFieldKind::Input, "input", nullptr},
    {TFieldKind::Min, "min", "deValueRangeMin"},
    {TFieldKind::Max, "max", "deValueRangeMax"},
    {TFieldKind::Decimals, "decimals", "ieDecimals"},
    {TFieldKind::Loop, "loop", "cb4_20mA"},
    {TFieldKind::Gain, "gain", "cbbChannelGain"},
    {TFieldKind::Watch, "watch", "CheckBox2"},
    {TFieldKind::Upper, "upper", "deMaxValue"},
    {TFieldKind::Lower, "lower", "deMinValue"},
    {TFieldKind::Hyst, "hyst", "deHystValue"},
}};

const TFieldEntry& EntryOf(TFieldKind Kind) {
  return *std::find_if(kFields.begin(), kFields.end(),
                       [Kind](const TFieldEntry& entry) { return entry.Kind == Kind; });
}

[[noreturn]] void Refuse(const std::string& Message) {
  throw TCtlError(ceUsage, Message);
}

std::optional<double> FiniteReal(std::string_view Text) {
  const std::optional<double> value = ParseDecimalReal(Text);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return value;
}

[[noreturn]] void RefuseNumber(const TFieldId& Id, std::string_view Value) {
  Refuse(FieldName(Id) + ": '" + std::string(Value) + "' is not a number");
}

// A whole number, blanks around it allowed; refused when it is none.
std::int64_t CheckedWhole(const TFieldId& Id, std::string_view Value) {
  const std::optional<std::int64_t> whole = ParseDecimalInteger(Trim(Value));
  if (!whole) RefuseNumber(Id, Value);
  return *whole;
}

// A real a module can hold and, when Settable, within the bounds of the window's field for it,
// as the field takes it: the range ends in double precision (offset and scale are computed
// from them), the limits as singles.
std::string CheckedReal(const TFieldId& Id, std::string_view Value, bool Settable) {
  const std::optional<double> value = FiniteReal(Value);
  if (!value) RefuseNumber(Id, Value);
  // What a module holds is a single; the top is offset + scale * span of singles.
  const bool single = Id.Kind != TFieldKind::Max;
  if (single ? std::isinf(static_cast<float>(*value))
             : std::fabs(*value) > std::numeric_limits<float>::max() * (kRangeSpan + 1))
    Refuse(FieldName(Id) + ": " + std::string(Value) + " is beyond what a module holds");
  const TFieldBounds& bounds = NumberFieldBounds(FieldElement(Id.Kind));
  if (Settable && !bounds.Holds(*value))
    Refuse(Format("%s: %s is not between %.2f and %.2f", FieldName(Id).c_str(),
                  std::string(Value).c_str(), bounds.Min, bounds.Max));
  if (Id.Kind == TFieldKind::Min || Id.Kind == TFieldKind::Max)
    return RealText(*value == 0 ? 0.0 : *value);  // "-0" is 0
  return RealText(ShortestDecimal(static_cast<float>(*value)));
}

// A text the module keeps in Windows-1250 with at most Width characters.
std::string CheckedText(const TFieldId& Id, std::string_view Value, std::size_t Width) {
  const std::string bytes = Utf8ToCp1250(Value);
  if (Cp1250ToUtf8(bytes) != Value)
    Refuse(FieldName(Id) + ": '" + std::string(Value) + "' has characters the module cannot keep");
  if (bytes.size() > Width)
    Refuse(Format("%s: at most %zu characters", FieldName(Id).c_str(), Width));
  return std::string(Value);
}

std::string OnOffText(bool On) {
  return On ? "on" : "off";
}

}  // namespace

const char* FieldElement(TFieldKind Kind) {
  return EntryOf(Kind).Element;
}

TFieldId FieldOfElement(std::string_view Element, int Channel) {
  const auto entry =
      std::find_if(kFields.begin(), kFields.end(), [Element](const TFieldEntry& each) {
        return each.Element != nullptr && Element == each.Element;
      });
  if (entry == kFields.end())
    throw TCtlError(ceUsage, "no field is edited by " + std::string(Element));
  return {entry->Kind, IsChannelField(entry->Kind) ? Channel : 0};
}

std::string RealText(double Value) {
  if (std::isnan(Value)) return "nan";
  std::array<char, 64> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), Value);
  return std::string(text.data(), result.ptr);
}

bool IsChannelField(TFieldKind Kind) {
  return Kind != TFieldKind::Address && Kind != TFieldKind::Speed && Kind != TFieldKind::UserData;
}

bool IsReadOnlyField(TFieldKind Kind) {
  return Kind == TFieldKind::Input;
}

bool IsRealField(TFieldKind Kind) {
  return Kind == TFieldKind::Min || Kind == TFieldKind::Max || Kind == TFieldKind::Upper ||
         Kind == TFieldKind::Lower || Kind == TFieldKind::Hyst;
}

std::string FieldName(const TFieldId& Id) {
  const char* name = EntryOf(Id.Kind).Name;
  return IsChannelField(Id.Kind) ? Format("ch%d.%s", Id.Channel, name) : name;
}

TFieldId ParseFieldName(std::string_view Name) {
  TFieldId id;
  std::string_view kind = Name;
  if (Name.size() > 4 && Name.starts_with("ch") && Name[3] == '.' && Name[2] >= '1' &&
      Name[2] <= '0' + kChannelCount) {
    id.Channel = Name[2] - '0';
    kind = Name.substr(4);
  }
  const auto entry = std::find_if(kFields.begin(), kFields.end(),
                                  [kind](const TFieldEntry& each) { return kind == each.Name; });
  if (entry == kFields.end() || IsChannelField(entry->Kind) != (id.Channel != 0))
    Refuse("unknown field '" + std::string(Name) + "'");
  id.Kind = entry->Kind;
  return id;
}

TFieldList ReadFields(const TKVXrec& Rec) {
  TFieldList list;
  auto add = [&list](TFieldKind Kind, int Channel, std::string Value) {
    list.push_back({{Kind, Channel}, std::move(Value)});
  };
  auto addReal = [&list, &Rec](TFieldKind Kind, int Channel, double Shown) {
    const TFieldId id{Kind, Channel};
    list.push_back({id, RealText(Shown), std::bit_cast<std::uint32_t>(StoredReal(Rec, id))});
  };
  const TKVXTirmel& ident = Rec.Ident;
  add(TFieldKind::Address, 0, Format("%u", ident.Address));
  add(TFieldKind::Speed, 0,
      ident.SpeedCode < kSpeedCodes.size() ? Format("%u", kSpeedCodes[ident.SpeedCode])
                                           : Format("code %u", ident.SpeedCode));
  add(TFieldKind::UserData, 0, Cp1250ToUtf8(ident.UserData));
  for (int channel = 1; channel <= kChannelCount; ++channel) {
    const TChannelSetup& setup = Rec.Setup[channel];
    const TChannelWatch& watch = Rec.Watch[channel];
    if (setup.Channel != channel) continue;
    const TRangeEnds range = ShownRange(setup.Offset, setup.Scale, kRangeSpan);
    add(TFieldKind::Name, channel, Cp1250ToUtf8(Trim(setup.Name)));
    add(TFieldKind::Unit, channel, Cp1250ToUtf8(Trim(setup.Unit)));
    add(TFieldKind::Input, channel, Cp1250ToUtf8(Trim(setup.InputRange)));
    addReal(TFieldKind::Min, channel, range.Min);
    addReal(TFieldKind::Max, channel, range.Max);
    add(TFieldKind::Decimals, channel, Format("%u", setup.Decimals));
    if (setup.Loop != 0) add(TFieldKind::Loop, channel, OnOffText(setup.Loop == 1));
    if (setup.GainPresent)
      add(TFieldKind::Gain, channel, Format("%u", 1u << (setup.GainIndex & 7)));
    add(TFieldKind::Watch, channel, OnOffText((watch.Flags & kWatchOnFlag) != 0));
    addReal(TFieldKind::Upper, channel, ShortestDecimal(watch.UpperLimit));
    addReal(TFieldKind::Lower, channel, ShortestDecimal(watch.LowerLimit));
    addReal(TFieldKind::Hyst, channel, ShortestDecimal(watch.Hysteresis));
  }
  return list;
}

float StoredReal(const TKVXrec& Rec, const TFieldId& Id) {
  return StoredReal(const_cast<TKVXrec&>(Rec), Id);
}

float& StoredReal(TKVXrec& Rec, const TFieldId& Id) {
  TChannelSetup& setup = Rec.Setup[Id.Channel];
  TChannelWatch& watch = Rec.Watch[Id.Channel];
  switch (Id.Kind) {
    case TFieldKind::Min:
      return setup.Offset;
    case TFieldKind::Max:
      return setup.Scale;
    case TFieldKind::Upper:
      return watch.UpperLimit;
    case TFieldKind::Lower:
      return watch.LowerLimit;
    case TFieldKind::Hyst:
      return watch.Hysteresis;
    default:
      Refuse(FieldName(Id) + " is no real");
  }
}

const TFieldValue* FindField(const TFieldList& List, const TFieldId& Id) {
  const auto found = std::find_if(List.begin(), List.end(),
                                  [&](const TFieldValue& each) { return each.Id == Id; });
  return found == List.end() ? nullptr : &*found;
}

namespace {

// Settable: as the window takes it; otherwise anything a module can hold and report (an
// address above the highest, a speed code outside the table, a name of the full width, a
// real beyond the field's bounds), which is written as kvxctl shows it.
std::string CheckedFieldValue(const TFieldId& Id, std::string_view Value, bool Settable) {
  const std::string name = FieldName(Id);
  switch (Id.Kind) {
    case TFieldKind::Address: {
      const std::int64_t address = CheckedWhole(Id, Value);
      const unsigned highest = Settable ? kHighestModuleAddress : 0xFF;
      if (address < 0 || address > highest)
        Refuse(Format("address: '%s' is not 0 to %u", std::string(Value).c_str(), highest));
      return std::to_string(address);
    }
    case TFieldKind::Speed: {
      if (!Settable && Value.starts_with("code "))
        if (const auto code = ParseDigits(Value.substr(5)); code && *code <= 0xFF)
          return Format("code %u", static_cast<unsigned>(*code));
      const std::int64_t speed = CheckedWhole(Id, Value);
      if (std::find(kSpeedCodes.begin(), kSpeedCodes.end(), speed) == kSpeedCodes.end())
        Refuse("speed: '" + std::string(Value) +
               "' is not 110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or "
               "230400");
      return std::to_string(speed);
    }
    case TFieldKind::UserData:
      return CheckedText(Id, Value, kUserDataWidth);
    case TFieldKind::Name:
      return CheckedText(Id, Trim(Value), Settable ? kNameWidth - 1 : kNameWidth);
    case TFieldKind::Unit:
      return CheckedText(Id, Trim(Value), kUnitWidth);
    case TFieldKind::Input:
      Refuse(name + ": the input range is given by the module and cannot be set");
    case TFieldKind::Min:
    case TFieldKind::Max:
    case TFieldKind::Upper:
    case TFieldKind::Lower:
    case TFieldKind::Hyst:
      return CheckedReal(Id, Value, Settable);
    case TFieldKind::Decimals: {
      // The window corrects such a value silently; a script is told instead.
      const std::int64_t decimals = CheckedWhole(Id, Value);
      const TFieldBounds& bounds = NumberFieldBounds(FieldElement(Id.Kind));
      if (Settable ? !bounds.Holds(static_cast<double>(decimals)) : decimals < 0 || decimals > 0xFF)
        Refuse(Format("%s: %s is not between %.0f and %.0f", name.c_str(),
                      std::string(Value).c_str(), bounds.Min, bounds.Max));
      return std::to_string(decimals);
    }
    case TFieldKind::Gain: {
      const std::int64_t gain = CheckedWhole(Id, Value);
      if (gain < 1 || gain > 128 || (gain & (gain - 1)) != 0)
        Refuse(name + ": '" + std::string(Value) + "' is not 1, 2, 4, 8, 16, 32, 64 or 128");
      return std::to_string(gain);
    }
    case TFieldKind::Loop:
    case TFieldKind::Watch: {
      const std::string text = Trim(Value);
      if (SameText(text, "on") || text == "1") return "on";
      if (SameText(text, "off") || text == "0") return "off";
      Refuse(name + ": '" + std::string(Value) + "' is not on or off");
    }
  }
  Refuse("unknown field " + name);
}

}  // namespace

std::string NormalizeFieldValue(const TFieldId& Id, std::string_view Value) {
  return CheckedFieldValue(Id, Value, true);
}

std::string ModuleFieldValue(const TFieldId& Id, std::string_view Value) {
  return CheckedFieldValue(Id, Value, false);
}

void CheckSettable(const TFieldValue& Field) {
  // An erased real (a not-a-number) is written as its bits.
  if (IsRealField(Field.Id.Kind) && Field.Bits && !FiniteReal(Field.Value)) return;
  NormalizeFieldValue(Field.Id, Field.Value);
}

bool SameFieldValue(const TFieldId& Id, const std::string& Left, const std::string& Right) {
  if (Left == Right) return true;
  // The module keeps its user data padded with blanks.
  if (Id.Kind == TFieldKind::UserData)
    return Left.substr(0, Left.find_last_not_of(' ') + 1) ==
           Right.substr(0, Right.find_last_not_of(' ') + 1);
  if (!IsRealField(Id.Kind)) return false;
  const std::optional<double> left = FiniteReal(Left), right = FiniteReal(Right);
  if (!left || !right) return false;
  if (static_cast<float>(*left) == static_cast<float>(*right)) return true;
  if (Id.Kind != TFieldKind::Min && Id.Kind != TFieldKind::Max) return false;
  // The top of the range comes back through offset + scale * span, rounded twice.
  return std::fabs(*left - *right) <= 1e-6 * std::max({1.0, std::fabs(*left), std::fabs(*right)});
}

bool SameSetting(const TFieldValue& Left, const TFieldValue& Right) {
  if (Left.Bits && Right.Bits) return *Left.Bits == *Right.Bits;
  return SameFieldValue(Left.Id, Left.Value, Right.Value);
}

std::string ShownValue(const TFieldValue& Field) {
  const TFieldKind kind = Field.Id.Kind;
  const bool text = kind == TFieldKind::UserData || kind == TFieldKind::Name ||
                    kind == TFieldKind::Unit || kind == TFieldKind::Input;
  return text ? nlohmann::json(Field.Value).dump() : Field.Value;
}
