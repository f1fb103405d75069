#pragma once
// A module's configuration as JSON: its identity (model, serial number, ...) and its
// fields, with numbers as numbers and texts as UTF-8 strings.
#include <nlohmann/json.hpp>

#include "protocol/uKVXxx.h"
#include "tools/kvxctl/uCtlFields.h"

nlohmann::ordered_json RecordJson(const TKVXrec& Rec);
nlohmann::ordered_json FieldsJson(const TFieldList& Fields);
// The fields of a backup, checked as set would check them; raises TCtlError(ceUsage).
TFieldList FieldsFromJson(const nlohmann::ordered_json& Fields);
