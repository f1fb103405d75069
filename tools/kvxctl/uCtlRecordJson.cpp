#include "tools/kvxctl/uCtlRecordJson.h"

#include "support/uCodePage.h"
#include "tools/kvxctl/uCtlErrors.h"

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
          value = std::stod(field.Value);
        else
          value = field.Value;
    }
  }
  return json;
}

nlohmann::ordered_json RecordJson(const TKVXrec& Rec) {
  nlohmann::ordered_json json;
  json["model"] = ModelName(Rec.ModuleType);
  json["serial"] = Rec.Ident.Production.SerialNumber;
  json["product"] = Rec.Ident.Production.ProductNumber;
  json["type"] = Cp1250ToUtf8(Rec.Ident.TypeText);
  json["production"] = Cp1250ToUtf8(Rec.Ident.Production.Text);
  json["fields"] = FieldsJson(ReadFields(Rec));
  return json;
}

TFieldList FieldsFromJson(const nlohmann::ordered_json& Fields) {
  if (!Fields.is_object()) throw TCtlError(ceUsage, "the file has no \"fields\" object");
  TFieldList list;
  for (const auto& [name, value] : Fields.items()) {
    const TFieldId id = ParseFieldName(name);
    // What the module reports of itself is kept for the reader, never written back.
    if (IsReadOnlyField(id.Kind)) continue;
    std::string text;
    if (value.is_string())
      text = value.get<std::string>();
    else if (value.is_number_integer())
      text = std::to_string(value.get<long long>());
    else if (value.is_number())
      text = RealText(value.get<double>());
    else
      throw TCtlError(ceUsage, name + ": " + value.dump() + " is not a value of this field");
    list.push_back({id, NormalizeFieldValue(id, text)});
  }
  return list;
}
