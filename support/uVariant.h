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

  TVariant() : value_(EmptyTag{}) {}
  static TVariant Null() { return TVariant(NullTag{}); }
  TVariant(const char* text) : value_(std::string(text)) {}
  TVariant(std::string text) : value_(std::move(text)) {}
  TVariant(bool value) : value_(value) {}
  TVariant(int value) : value_(static_cast<double>(value)) {}
  TVariant(double value) : value_(value) {}

  bool IsEmpty() const { return std::holds_alternative<EmptyTag>(value_); }
  bool IsNull() const { return std::holds_alternative<NullTag>(value_); }
  bool IsText() const { return std::holds_alternative<std::string>(value_); }
  bool IsBool() const { return std::holds_alternative<bool>(value_); }
  bool IsNumber() const { return std::holds_alternative<double>(value_); }

  // Text form: Booleans as "True"/"False", numbers in the shortest exact form,
  // empty and null as "".
  std::string ToText() const;
  // Booleans as they are; numbers: 0 false, others true; texts "True"/"False" in any
  // case or a number; anything else raises "'%s' is not a valid boolean value".
  bool ToBool() const;

  bool operator==(const TVariant& other) const = default;

 private:
  explicit TVariant(NullTag tag) : value_(tag) {}
  std::variant<EmptyTag, NullTag, std::string, bool, double> value_;
};
