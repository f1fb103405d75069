#include "controls/uIntEdit.h"

#include <algorithm>

#include "controls/uNumText.h"
#include "support/uStringUtils.h"

TIntEdit::TIntEdit(QWidget* Parent) : TMyCustomNumEdit(Parent) {
  ShowValue();
}

void TIntEdit::SetValue(std::int32_t Value) {
  FValue = FRange.Clamp(Value);
  ShowValue();
}

std::int32_t TIntEdit::Value() const {
  std::int32_t value = 0;
  return TryTextToInt(TextUtf8(), value) ? value : 0;
}

void TIntEdit::SetMinValue(std::int32_t Value) {
  FRange.SetMin(Value);
  SetValue(FValue);
}

void TIntEdit::SetMaxValue(std::int32_t Value) {
  FRange.SetMax(Value);
  SetValue(FValue);
}

void TIntEdit::Step(TUDBtnType Direction, bool Page) {
  std::int32_t typed = FValue;
  TryTextToInt(TextUtf8(), typed);
  SetValue(typed);
  SetValue(FRange.Stepped(FValue, StepCount(Page), Direction == btNext));
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
  if (isInteger && FRange.Accepts(number)) {
    SetValue(parsed);
    return true;
  }
  if (FailureBeep()) Beep();
  if (AutoCorrect()) {
    SetValue(FRange.Clamp(number));
    return true;
  }
  Refuse(Format("%d", FRange.Min), Format("%d", FRange.Max));
  return isInteger;
}
