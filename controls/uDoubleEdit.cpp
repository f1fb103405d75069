#include "controls/uDoubleEdit.h"

#include <QKeyEvent>
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "controls/uNumText.h"
#include "support/uLocaleSettings.h"
#include "support/uStringUtils.h"

TDoubleEdit::TDoubleEdit(QWidget* Parent) : TMyCustomNumEdit(Parent) {
  ShowValue();
}

bool TDoubleEdit::TryText(const std::string& Text, double& Value) const {
  return TryTextToFloat(Text, DecimalSeparator(), Value);
}

void TDoubleEdit::SetValue(double Value) {
  FValue = FRange.Clamp(Value);
  ShowValue();
}

double TDoubleEdit::Value() const {
  double value = 0;
  return TryText(TextUtf8(), value) ? value : 0;
}

void TDoubleEdit::SetMinValue(double Value) {
  FRange.SetMin(Value);
  SetValue(FValue);
}

void TDoubleEdit::SetMaxValue(double Value) {
  FRange.SetMax(Value);
  SetValue(FValue);
}

void TDoubleEdit::SetDecimals(std::uint16_t Value) {
  FDecimals = Value;
  ShowValue();
}

void TDoubleEdit::SetDecimalBenhaviour(TDecimalBehaviour Value) {
  FDecimalBenhaviour = Value;
  ShowValue();
}

void TDoubleEdit::Step(TUDBtnType Direction, bool Page) {
  double typed = FValue;
  TryText(TextUtf8(), typed);
  SetValue(typed);
  SetValue(FRange.Stepped(FValue, StepCount(Page), Direction == btNext));
}

void TDoubleEdit::ShowValue() {
  SetSignColor(FValue);
  const char separator = DecimalSeparator();
  const std::string text =
      FDecimalBenhaviour == dbAuto
          ? FloatToTextGeneral(FValue, separator)
          : FloatToTextNumber(FValue, FDecimals, separator, ThousandSeparator(separator));
  setText(QString::fromStdString(text));
}

bool TDoubleEdit::CheckValue() {
  const char separator = DecimalSeparator();
  const std::string text = TextUtf8();
  if (FDecimalBenhaviour == dbRemember) {
    // Set without a refresh: the text is still to be checked as typed.
    const QString typed = this->text();
    const qsizetype at = typed.indexOf(QLatin1Char(separator));
    FDecimals =
        at < 0 ? 0
               : static_cast<std::uint16_t>(std::min<qsizetype>(typed.size() - at - 1, UINT16_MAX));
  }
  double number = 0;
  const bool converted = text.empty() || TryText(text, number);
  if (converted && FRange.Accepts(number)) {
    SetValue(number);
    return true;
  }
  if (FBeep) Beep();
  if (FAutoCorrectValue) {
    SetValue(converted ? FRange.Clamp(number) : Value());
    return true;
  }
  Refuse(FloatToTextNumber(FRange.Min, 2, separator, ""),
         FloatToTextNumber(FRange.Max, 2, separator, ""));
  return converted;
}

bool TDoubleEdit::MapExtraCharacter(QChar& Character) const {
  if (Character != QLatin1Char(',') && Character != QLatin1Char('.')) return false;
  Character = QLatin1Char(DecimalSeparator());
  return true;
}

bool TDoubleEdit::HandleKeyDown(QKeyEvent* Event) {
  if (Event->key() != Qt::Key_Plus || !(Event->modifiers() & Qt::KeypadModifier)) return false;
  SetValue(std::fabs(Value()));
  return true;
}
