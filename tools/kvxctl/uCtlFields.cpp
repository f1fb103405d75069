#include "tools/kvxctl/uCtlFields.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>

#include "support/uCodePage.h"
#include "support/uConversionUtils.h"
#include "support/uStringUtils.h"
#include "tools/kvxctl/uCtlErrors.h"

namespace {

constexpr double kRangeSpan = 10000;
constexpr double kRangeBound = 99999999;
constexpr double kLimitBound = 10000;

struct TKindName {
  TFieldKind Kind;
  const char* Name;
};
constexpr std::array<TKindName, 15> kNames = {{{TFieldKind::Address, "address"},
                                               {TFieldKind::Speed, "speed"},
                                               {TFieldKind::UserData, "userdata"},
                                               {TFieldKind::Name, "name"},
                                               {TFieldKind::Unit, "unit"},
                                               {TFieldKind::Input, "input"},
                                               {TFieldKind::Min, "min"},
                                               {TFieldKind::Max, "max"},
                                               {TFieldKind::Decimals, "decimals"},
                                               {TFieldKind::Loop, "loop"},
                                               {TFieldKind::Gain, "gain"},
                                               {TFieldKind::Watch, "watch"},
                                               {TFieldKind::Upper, "upper"},
                                               {TFieldKind::Lower, "lower"},
                                               {TFieldKind::Hyst, "hyst"}}};

[[noreturn]] void Refuse(const std::string& Message) {
  throw TCtlError(ceUsage, Message);
}

std::optional<double> ParseReal(std::string_view Text) {
  std::string text = Trim(Text);
  std::replace(text.begin(), text.end(), ',', '.');
  if (!text.empty() && text.front() == '+') text.erase(0, 1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<long> ParseWhole(std::string_view Text) {
  const std::string text = Trim(Text);
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

[[noreturn]] void RefuseNumber(const TFieldId& Id, std::string_view Value) {
  Refuse(FieldName(Id) + ": '" + std::string(Value) + "' is not a number");
}

std::string CheckedReal(const TFieldId& Id, std::string_view Value, double Bound) {
  const std::optional<double> value = ParseReal(Value);
  if (!value) RefuseNumber(Id, Value);
  if (*value < -Bound || *value > Bound)
    Refuse(Format("%s: %s is not between %.2f and %.2f", FieldName(Id).c_str(),
                  std::string(Value).c_str(), -Bound, Bound));
  return RealText(static_cast<float>(*value));
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

std::string Switch(bool On) {
  return On ? "on" : "off";
}

}  // namespace

std::string RealText(float Value) {
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
  const auto entry = std::find_if(kNames.begin(), kNames.end(),
                                  [&](const TKindName& n) { return n.Kind == Id.Kind; });
  return IsChannelField(Id.Kind) ? Format("ch%d.%s", Id.Channel, entry->Name) : entry->Name;
}

TFieldId ParseFieldName(std::string_view Name) {
  TFieldId id;
  std::string_view kind = Name;
  if (Name.size() > 4 && Name.starts_with("ch") && Name[3] == '.' && Name[2] >= '1' &&
      Name[2] <= '0' + kChannelCount) {
    id.Channel = Name[2] - '0';
    kind = Name.substr(4);
  }
  const auto entry = std::find_if(kNames.begin(), kNames.end(),
                                  [&](const TKindName& n) { return kind == n.Name; });
  if (entry == kNames.end() || IsChannelField(entry->Kind) != (id.Channel != 0))
    Refuse("unknown field '" + std::string(Name) + "'");
  id.Kind = entry->Kind;
  return id;
}

TFieldList ReadFields(const TKVXrec& Rec) {
  TFieldList list;
  auto add = [&list](TFieldKind Kind, int Channel, std::string Value) {
    list.push_back({{Kind, Channel}, std::move(Value)});
  };
  const TKVXTirmel& ident = Rec.Ident;
  add(TFieldKind::Address, 0, Format("%u", ident.Address));
  add(TFieldKind::Speed, 0,
      ident.SpeedCode < kSpeedCodes.size() ? Format("%u", kSpeedCodes[ident.SpeedCode])
                                           : Format("code %u", ident.SpeedCode));
  add(TFieldKind::UserData, 0, Cp1250ToUtf8(ident.UserData));
  for (int n = 1; n <= kChannelCount; ++n) {
    const TChannelSetup& setup = Rec.Setup[n];
    const TChannelWatch& watch = Rec.Watch[n];
    if (setup.Channel != n) continue;
    const TRange range = ScaleToRange(setup.Offset, setup.Scale, kRangeSpan);
    add(TFieldKind::Name, n, Cp1250ToUtf8(Trim(setup.Name)));
    add(TFieldKind::Unit, n, Cp1250ToUtf8(Trim(setup.Unit)));
    add(TFieldKind::Input, n, Cp1250ToUtf8(Trim(setup.InputRange)));
    add(TFieldKind::Min, n, RealText(range.Min));
    add(TFieldKind::Max, n, RealText(range.Max));
    add(TFieldKind::Decimals, n, Format("%u", setup.Decimals));
    if (setup.Loop != 0) add(TFieldKind::Loop, n, Switch(setup.Loop == 1));
    if (setup.GainPresent) add(TFieldKind::Gain, n, Format("%u", 1u << (setup.GainIndex & 7)));
    add(TFieldKind::Watch, n, Switch((watch.Flags & kWatchOnFlag) != 0));
    add(TFieldKind::Upper, n, RealText(watch.UpperLimit));
    add(TFieldKind::Lower, n, RealText(watch.LowerLimit));
    add(TFieldKind::Hyst, n, RealText(watch.Hysteresis));
  }
  return list;
}

const TFieldValue* FindField(const TFieldList& List, const TFieldId& Id) {
  const auto found =
      std::find_if(List.begin(), List.end(), [&](const TFieldValue& f) { return f.Id == Id; });
  return found == List.end() ? nullptr : &*found;
}

std::string NormalizeFieldValue(const TFieldId& Id, std::string_view Value) {
  const std::string name = FieldName(Id);
  switch (Id.Kind) {
    case TFieldKind::Address: {
      const std::optional<long> address = ParseWhole(Value);
      if (!address) RefuseNumber(Id, Value);
      if (*address < 0 || *address > 253)
        Refuse("address: '" + std::string(Value) + "' is not 0 to 253");
      return Format("%ld", *address);
    }
    case TFieldKind::Speed: {
      const std::optional<long> speed = ParseWhole(Value);
      if (!speed) RefuseNumber(Id, Value);
      if (std::find(kSpeedCodes.begin(), kSpeedCodes.end(), *speed) == kSpeedCodes.end())
        Refuse("speed: '" + std::string(Value) +
               "' is not 110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or "
               "230400");
      return Format("%ld", *speed);
    }
    case TFieldKind::UserData:
      return CheckedText(Id, Value, kUserDataWidth);
    case TFieldKind::Name:
      return CheckedText(Id, Trim(Value), kNameWidth - 1);
    case TFieldKind::Unit:
      return CheckedText(Id, Trim(Value), kUnitWidth);
    case TFieldKind::Input:
      Refuse(name + ": the input range is given by the module and cannot be set");
    case TFieldKind::Min:
    case TFieldKind::Max:
      return CheckedReal(Id, Value, kRangeBound);
    case TFieldKind::Upper:
    case TFieldKind::Lower:
    case TFieldKind::Hyst:
      return CheckedReal(Id, Value, kLimitBound);
    case TFieldKind::Decimals: {
      // The window corrects such a value silently; a script is told instead.
      const std::optional<long> decimals = ParseWhole(Value);
      if (!decimals) RefuseNumber(Id, Value);
      if (*decimals < 0 || *decimals > 2)
        Refuse(name + ": " + std::string(Value) + " is not between 0 and 2");
      return Format("%ld", *decimals);
    }
    case TFieldKind::Gain: {
      const std::optional<long> gain = ParseWhole(Value);
      if (!gain) RefuseNumber(Id, Value);
      if (*gain < 1 || *gain > 128 || (*gain & (*gain - 1)) != 0)
        Refuse(name + ": '" + std::string(Value) + "' is not 1, 2, 4, 8, 16, 32, 64 or 128");
      return Format("%ld", *gain);
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

bool SameFieldValue(const TFieldId& Id, const std::string& A, const std::string& B) {
  if (A == B) return true;
  // The module keeps its user data padded with blanks.
  if (Id.Kind == TFieldKind::UserData)
    return A.substr(0, A.find_last_not_of(' ') + 1) == B.substr(0, B.find_last_not_of(' ') + 1);
  if (!IsRealField(Id.Kind)) return false;
  const std::optional<double> a = ParseReal(A), b = ParseReal(B);
  if (!a || !b) return false;
  if (static_cast<float>(*a) == static_cast<float>(*b)) return true;
  if (Id.Kind != TFieldKind::Min && Id.Kind != TFieldKind::Max) return false;
  // The top of the range comes back through offset + scale * span, rounded twice.
  return std::fabs(*a - *b) <= 1e-6 * std::max({1.0, std::fabs(*a), std::fabs(*b)});
}
