#include "controls/uIntEdit.h"

#include <algorithm>

#include "controls/uNumText.h"
#include "support/uStringUtils.h"

TIntEdit::TIntEdit(QWidget* Parent) : TMyCustomNumEdit(Parent) {
  ShowValue();
}

std::int32_t TIntEdit::Clamp(std::int64_t Value) const {
  if (FMinValue == FMaxValue) return FMinValue;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(Value, FMinValue, FMaxValue));
}

void TIntEdit::SetValue(std::int32_t Value) {
  FValue = Clamp(Value);
  ShowValue();
}

std::int32_t TIntEdit::Value() const {
  std::int32_t value = 0;
  return TryTextToInt(TextUtf8(), value) ? value : 0;
}

void TIntEdit::SetMinValue(std::int32_t Value) {
  FMinValue = std::min(Value, FMaxValue);
  SetValue(FValue);
}

void TIntEdit::SetMaxValue(std::int32_t Value) {
  FMaxValue = std::max(Value, FMinValue);
  SetValue(FValue);
}

void TIntEdit::SetIncrement(std::int32_t Value) {
  if (Value > 0) FIncrement = Value;
}

void TIntEdit::Step(TUDBtnType Direction, bool Page) {
  std::int32_t typed = FValue;
  TryTextToInt(TextUtf8(), typed);
  SetValue(typed);
  // In 64 bits: a large increment must not overflow before the clamp.
  const std::int64_t delta = static_cast<std::int64_t>(StepCount(Page)) * FIncrement;
  SetValue(
      Clamp(Direction == btNext ? std::int64_t{FValue} + delta : std::int64_t{FValue} - delta));
}

void TIntEdit::ShowValue() {
  SetSignColor(FValue);
  setText(QString::number(FValue));
}

bool TIntEdit::CheckValue() {
  const std::string text = TextUtf8();
  std::int32_t parsed = 0;
  const bool isInteger = TryTextToInt(text, parsed);
  const std::int64_t number = isInteger ? parsed : LeadingDigitsValue(text);
  if (isInteger && (FMinValue == FMaxValue || (FMinValue <= number && number <= FMaxValue))) {
    SetValue(parsed);
    return true;
  }
  if (FailureBeep()) Beep();
  if (AutoCorrect()) {
    SetValue(Clamp(number));
    return true;
  }
  Refuse(Format("%d", FMinValue), Format("%d", FMaxValue));
  return isInteger;
}
