#pragma once
// The value of an XML attribute or a published property: empty (unassigned), null,
// text, Boolean or number. Null and empty are distinct, as the attribute readers need.
#include <string>
#include <variant>

class TVariant {
 public:
  struct EmptyTag {
    bool operator==(const EmptyTag&) const = default;
  };
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };

  TVariant() : FValue(EmptyTag{}) {}
  static TVariant Null() { return TVariant(NullTag{}); }
  TVariant(const char* text) : FValue(std::string(text)) {}
  TVariant(std::string text) : FValue(std::move(text)) {}
  TVariant(bool value) : FValue(value) {}
  TVariant(int value) : FValue(static_cast<double>(value)) {}
  TVariant(double value) : FValue(value) {}

  bool IsEmpty() const { return std::holds_alternative<EmptyTag>(FValue); }
  bool IsNull() const { return std::holds_alternative<NullTag>(FValue); }
  bool IsText() const { return std::holds_alternative<std::string>(FValue); }
  bool IsBool() const { return std::holds_alternative<bool>(FValue); }
  bool IsNumber() const { return std::holds_alternative<double>(FValue); }

  // Text form: Booleans as "True"/"False", numbers in the shortest exact form,
  // empty and null as "".
  std::string ToText() const;
  // Booleans as they are; numbers: 0 false, others true; texts "True"/"False" in any
  // case or a number; anything else raises "'%s' is not a valid boolean value".
  bool ToBool() const;

  bool operator==(const TVariant& other) const = default;

 private:
  explicit TVariant(NullTag tag) : FValue(tag) {}
  std::variant<EmptyTag, NullTag, std::string, bool, double> FValue;
};
