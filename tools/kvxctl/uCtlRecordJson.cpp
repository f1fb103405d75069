#include "tools/kvxctl/uCtlRecordJson.h"

#include <bit>
#include <cmath>
#include <limits>
#include <optional>

#include "protocol/uTirmel97.h"
#include "support/uCodePage.h"
#include "support/uConversionUtils.h"
#include "support/uNumberText.h"
#include "support/uStringUtils.h"
#include "tools/kvxctl/uCtlErrors.h"
#include "tools/kvxctl/uCtlFiles.h"

namespace {

using nlohmann::ordered_json;

// What a module holds in a real it was never given. Earlier backups wrote any not-a-number
// as null, and this is the one a module holds.
constexpr std::uint32_t kErasedReal = 0xFFFFFFFF;
constexpr std::size_t kBitsDigits = 8;
const char* const kNoBackup = "not a backup (model, serial and fields needed)";
// A backup is a few KB and three levels deep; anything far beyond is no backup, and is refused
// before the parser spends memory or stack on it.
constexpr std::size_t kLargestBackup = 256 * 1024;
constexpr int kDeepestBackup = 16;

[[noreturn]] void Refuse(const std::string& Message) {
  throw TCtlError(ceUsage, Message);
}

[[noreturn]] void RefuseValue(const std::string& Name, const ordered_json& Value) {
  Refuse(Name + ": " + Value.dump() + " is not a value of this field");
}

std::uint32_t BitsOf(double Value) {
  return std::bit_cast<std::uint32_t>(static_cast<float>(Value));
}

bool IsInfinityText(const std::string& Text) {
  return Text == "inf" || Text == "-inf";
}

// The decimal of a real: a limit's or the bottom's from its single (the sign of -0 kept), the
// top as shown; an infinity as "inf" or "-inf", a not-a-number as null. It stands alone where
// it gives the bits back: not for a not-a-number, an infinity, a -0 or a top (the module keeps
// a scale).
ordered_json RealJson(const TFieldValue& Field) {
  const bool top = Field.Id.Kind == TFieldKind::Max;
  const float single = Field.Bits ? std::bit_cast<float>(*Field.Bits) : 0;
  const std::optional<double> decimal = Field.Bits && !top
                                            ? std::copysign(ShortestDecimal(single), single)
                                            : ParseDecimalReal(Field.Value);
  ordered_json value = nullptr;
  if (decimal && std::isfinite(*decimal))
    value = *decimal;
  else if (IsInfinityText(Field.Value))
    value = Field.Value;
  if (!Field.Bits || (!top && std::isfinite(single) && !(single == 0 && std::signbit(single))))
    return value;
  return ordered_json{{"value", value}, {"bits", Format("%08X", *Field.Bits)}};
}

std::uint32_t ParseBits(const std::string& Name, const ordered_json& Bits) {
  const std::optional<std::uint64_t> bits =
      Bits.is_string() && Bits.get_ref<const std::string&>().size() == kBitsDigits
          ? ParseDigits(Bits.get_ref<const std::string&>(), 16)
          : std::nullopt;
  if (!bits) Refuse(Name + ": bits " + Bits.dump() + " are not 8 hexadecimal digits");
  return static_cast<std::uint32_t>(*bits);
}

// A number of the file (or its text) as a field's text, as an operator would type it.
std::string NumberText(const ordered_json& Number) {
  if (Number.is_string()) return Number.get<std::string>();
  if (Number.is_number_integer()) return std::to_string(Number.get<long long>());
  const double real = Number.get<double>();
  // A number beyond any single is refused by its own text.
  if (std::fabs(real) > std::numeric_limits<float>::max()) return Number.dump();
  return RealText(real);
}

TFieldValue RealFromJson(const TFieldId& Id, const std::string& Name, const ordered_json& Json) {
  if (Json.is_number() || Json.is_string()) {
    // The single the decimal reads as; a range top's scale is not known from it.
    const std::string text = NumberText(Json);
    TFieldValue field{Id, ModuleFieldValue(Id, text)};
    if (Id.Kind != TFieldKind::Max) field.Bits = BitsOf(*ParseDecimalReal(text));
    return field;
  }
  if (Json.is_null()) return {Id, "nan", kErasedReal};
  if (!Json.is_object() || Json.size() != 2 || !Json.contains("value") || !Json.contains("bits"))
    RefuseValue(Name, Json);
  const ordered_json& value = Json["value"];
  const bool infinity = value.is_string() && IsInfinityText(value.get<std::string>());
  if (!value.is_number() && !value.is_null() && !infinity) RefuseValue(Name, Json);
  const std::string text = value.is_null() ? "nan"
                           : infinity      ? value.get<std::string>()
                                           : ModuleFieldValue(Id, NumberText(value));
  const TFieldValue field{Id, text, ParseBits(Name, Json["bits"])};
  if (Id.Kind == TFieldKind::Max) return field;
  const float single = std::bit_cast<float>(*field.Bits);
  const bool matches = value.is_null() ? std::isnan(single)
                       : infinity      ? std::isinf(single) && (single < 0) == (text[0] == '-')
                                       : BitsOf(value.get<double>()) == *field.Bits;
  if (!matches)
    Refuse(Name + ": " + value.dump() + " is not the single of its bits " + Json["bits"].dump());
  return field;
}

// A top's bits are its scale: over the file's bottom they must give the top written beside
// them, so that neither can be edited alone and what the bits hold is what gets checked.
void CheckTopsAgree(const TFieldList& List) {
  for (const TFieldValue& top : List) {
    if (top.Id.Kind != TFieldKind::Max || !top.Bits) continue;
    const TFieldId bottomId{TFieldKind::Min, top.Id.Channel};
    const TFieldValue* bottom = FindField(List, bottomId);
    if (!bottom || !bottom->Bits)
      Refuse(FieldName(top.Id) + ": a top given by its bits needs " + FieldName(bottomId) +
             " beside it");
    const double held =
        ShownRange(std::bit_cast<float>(*bottom->Bits), std::bit_cast<float>(*top.Bits), kRangeSpan)
            .Max;
    if (!SameFieldValue(top.Id, top.Value, RealText(held)))
      Refuse(Format("%s: %s is not the top its bits \"%08X\" give (%s)", FieldName(top.Id).c_str(),
                    top.Value.c_str(), *top.Bits, RealText(held).c_str()));
  }
}

// Whether arrays and objects in Text nest deeper than Limit (texts in quotes skipped).
bool NestedDeeperThan(std::string_view Text, int Limit) {
  int depth = 0;
  for (std::size_t at = 0; at < Text.size(); ++at) {
    const char c = Text[at];
    if (c == '"') {
      for (++at; at < Text.size() && Text[at] != '"'; ++at)
        if (Text[at] == '\\') ++at;
    } else if (c == '[' || c == '{') {
      if (++depth > Limit) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

const ordered_json& Required(const ordered_json& Json, const char* Key) {
  if (!Json.contains(Key)) Refuse(kNoBackup);
  return Json[Key];
}

std::string TextKey(const ordered_json& Json, const char* Key) {
  if (!Json.contains(Key)) return {};
  if (!Json[Key].is_string()) Refuse(std::string(Key) + ": " + Json[Key].dump() + " is no text");
  return Json[Key].get<std::string>();
}

std::uint16_t NumberKey(const ordered_json& Value, const char* Key) {
  if (!Value.is_number_unsigned() || Value.get<std::uint64_t>() > 0xFFFF)
    Refuse(std::string(Key) + ": " + Value.dump() + " is not a number from 0 to 65535");
  return static_cast<std::uint16_t>(Value.get<std::uint64_t>());
}

}  // namespace

nlohmann::ordered_json FieldsJson(const TFieldList& Fields) {
  nlohmann::ordered_json json = nlohmann::ordered_json::object();
  for (const TFieldValue& field : Fields) {
    auto& value = json[FieldName(field.Id)];
    switch (field.Id.Kind) {
      case TFieldKind::Address:
      case TFieldKind::Decimals:
      case TFieldKind::Gain:
        value = std::stol(field.Value);
        break;
      case TFieldKind::Speed:
        // A speed code outside the table stays text, so nothing is lost.
        if (field.Value.starts_with("code"))
          value = field.Value;
        else
          value = std::stol(field.Value);
        break;
      default:
        if (IsRealField(field.Id.Kind))
          value = RealJson(field);
        else
          value = field.Value;
    }
  }
  return json;
}

TBackup BackupOf(const TKVXrec& Rec) {
  return {ModelName(Rec.ModuleType),
          Rec.Ident.Production.SerialNumber,
          Rec.Ident.Production.ProductNumber,
          Cp1250ToUtf8(Rec.Ident.TypeText),
          Cp1250ToUtf8(Rec.Ident.Production.Text),
          ReadFields(Rec),
          std::nullopt};
}

std::string WriteBackup(const TBackup& Backup) {
  nlohmann::ordered_json json;
  json["model"] = Backup.Model;
  json["serial"] = Backup.Serial;
  json["product"] = Backup.Product;
  json["type"] = Backup.Type;
  json["production"] = Backup.Production;
  if (Backup.Address) json["address"] = *Backup.Address;
  json["fields"] = FieldsJson(Backup.Fields);
  return json.dump(2) + "\n";
}

TBackup LoadBackup(std::string_view Text) {
  if (Text.size() > kLargestBackup)
    Refuse(Format("not a backup (larger than %zu KiB)", kLargestBackup / 1024));
  if (NestedDeeperThan(Text, kDeepestBackup))
    Refuse(Format("not a backup (nested deeper than %d levels)", kDeepestBackup));
  ordered_json json;
  try {
    json = ordered_json::parse(Text);
  } catch (const nlohmann::json::exception& error) {
    Refuse(std::string("not a backup (") + error.what() + ")");
  }
  if (!json.is_object()) Refuse(kNoBackup);
  TBackup backup;
  if (!Required(json, "model").is_string()) Refuse(kNoBackup);
  backup.Model = json["model"].get<std::string>();
  backup.Serial = NumberKey(Required(json, "serial"), "serial");
  if (json.contains("product")) backup.Product = NumberKey(json["product"], "product");
  backup.Type = TextKey(json, "type");
  backup.Production = TextKey(json, "production");
  if (json.contains("address")) {
    const std::uint16_t address = NumberKey(json["address"], "address");
    if (address > kHighestModuleAddress)
      Refuse(Format("address: %u is not a module address from 0 to %u", address,
                    kHighestModuleAddress));
    backup.Address = static_cast<std::uint8_t>(address);
  }
  backup.Fields = FieldsFromJson(Required(json, "fields"));
  return backup;
}

TBackup LoadBackupFile(const std::string& File) {
  return LoadBackup(ReadTextFile(File, kLargestBackup));
}

TFieldList FieldsFromJson(const nlohmann::ordered_json& Fields) {
  if (!Fields.is_object()) throw TCtlError(ceUsage, "the file has no \"fields\" object");
  TFieldList list;
  for (const auto& [name, value] : Fields.items()) {
    const TFieldId id = ParseFieldName(name);
    // What the module reports of itself is kept for the reader, never written back.
    if (IsReadOnlyField(id.Kind)) continue;
    if (IsRealField(id.Kind)) {
      list.push_back(RealFromJson(id, name, value));
      continue;
    }
    if (!value.is_string() && !value.is_number()) RefuseValue(name, value);
    list.push_back({id, ModuleFieldValue(id, NumberText(value))});
  }
  CheckTopsAgree(list);
  return list;
}
