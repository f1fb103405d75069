#pragma once
// The configuration of a module as named fields ("address", "ch2.max", ...): read from a
// module record, parsed and checked against the window's bounds, compared. Values are held in
// their text form (UTF-8); reals in the shortest form that gives the stored single back, and
// with the bits of that single where they are known.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/uKVXxx.h"

enum class TFieldKind {
  Address,
  Speed,
  UserData,
  Name,
  Unit,
  Input,  // the input range the module reports; read only
  Min,
  Max,
  Decimals,
  Loop,
  Gain,
  Watch,
  Upper,
  Lower,
  Hyst,
};

struct TFieldId {
  TFieldKind Kind = TFieldKind::Address;
  int Channel = 0;  // 1..4 for the channel fields, 0 for the others
  bool operator==(const TFieldId&) const = default;
};

struct TFieldValue {
  TFieldId Id;
  std::string Value;
  // A real's single as the module stores it: for chN.max the scale, as the range top is
  // offset + scale * 10000. None where only the text is known (the command line).
  std::optional<std::uint32_t> Bits = std::nullopt;
  bool operator==(const TFieldValue&) const = default;
};
using TFieldList = std::vector<TFieldValue>;

// "address", "ch3.unit", ...
std::string FieldName(const TFieldId& Id);
// Raises TCtlError(ceUsage) for an unknown name.
TFieldId ParseFieldName(std::string_view Name);
bool IsChannelField(TFieldKind Kind);
bool IsRealField(TFieldKind Kind);
// The window's element that edits fields of Kind; nullptr for a field it only shows.
const char* FieldElement(TFieldKind Kind);
// The field the window's element Element edits (on the page of channel Channel).
TFieldId FieldOfElement(std::string_view Element, int Channel);
// Fields that show what the module reports and cannot be written.
bool IsReadOnlyField(TFieldKind Kind);

// Every field the record holds: the communication ones, then per reported channel its setup
// (loop only where the module has the option, gain only where it reports one) and watching.
TFieldList ReadFields(const TKVXrec& Rec);
// The single the module stores behind the real field Id (for chN.max the scale).
float StoredReal(const TKVXrec& Rec, const TFieldId& Id);
float& StoredReal(TKVXrec& Rec, const TFieldId& Id);
// The value of Id in List, or nullptr.
const TFieldValue* FindField(const TFieldList& List, const TFieldId& Id);

// Checks Value as the window's field would take it and returns its canonical text; raises
// TCtlError(ceUsage) naming the field and what is wrong with the value.
std::string NormalizeFieldValue(const TFieldId& Id, std::string_view Value);
// The same for a value a module holds, as a backup keeps it: what a module can report loads
// even where the window would not take it (an address above the highest, a speed code outside
// the table, a name of the module's full width, a real beyond the field's bounds).
std::string ModuleFieldValue(const TFieldId& Id, std::string_view Value);
// Raises TCtlError(ceUsage) naming the field when the window would not take its value.
void CheckSettable(const TFieldValue& Field);
// The value as kvxctl prints it: texts in quotes, so that blanks at their ends show.
std::string ShownValue(const TFieldValue& Field);
// Whether two canonical values mean the same setting. Range ends are compared with the
// precision the module keeps them in (offset and scale in single precision).
bool SameFieldValue(const TFieldId& Id, const std::string& Left, const std::string& Right);
// The same for two fields of one id: by the bits of their singles where both have them.
bool SameSetting(const TFieldValue& Left, const TFieldValue& Right);

// Shortest text that reads back as Value: with ShortestDecimal of a single, the single's
// shortest text; with ShownRange's ends, the text the window shows. "nan" for any
// not-a-number (its sign and payload live only in the bits).
std::string RealText(double Value);
