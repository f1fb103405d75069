#pragma once
// A module's configuration as JSON, the format of `show --json` and of backups: its identity
// (model, serial number, ...) and its fields, with numbers as numbers and texts as UTF-8
// strings. A real whose decimal cannot give back the module's single (not a number, an
// infinity, -0, and always the range top, which the module keeps as a scale) is written as
// {"value": decimal, "inf", "-inf" or null, "bits": "HHHHHHHH"}, so a backup restores bit
// for bit; null stands for a not-a-number.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "protocol/uKVXxx.h"
#include "tools/kvxctl/uCtlFields.h"

struct TBackup {
  std::string Model;
  std::uint16_t Serial = 0;
  std::uint16_t Product = 0;
  std::string Type;        // UTF-8
  std::string Production;  // UTF-8
  TFieldList Fields;
  // The module's own address on a shared line, when it was reached by it; none for the
  // universal address.
  std::optional<std::uint8_t> Address;
  bool operator==(const TBackup&) const = default;
};

TBackup BackupOf(const TKVXrec& Rec);
// The JSON text of a backup, ending with a new line.
std::string WriteBackup(const TBackup& Backup);
// Reads what WriteBackup writes, and the backups of earlier versions (reals as plain numbers,
// an erased real as null). Raises TCtlError(ceUsage) naming the field or key that is wrong, and
// for a text larger or nested deeper than any backup before parsing it.
TBackup LoadBackup(std::string_view Text);
// The same for the file File, of which no more is read than a backup can be.
TBackup LoadBackupFile(const std::string& File);

nlohmann::ordered_json FieldsJson(const TFieldList& Fields);
// The fields of a backup, each a value a module can hold (a restore checks that the window
// takes those it writes); raises TCtlError(ceUsage).
TFieldList FieldsFromJson(const nlohmann::ordered_json& Fields);
