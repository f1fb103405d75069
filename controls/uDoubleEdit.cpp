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

double TDoubleEdit::Clamp(double Value) const {
  // Written so that a NaN ends at the minimum.
  if (!(Value >= FMinValue)) Value = FMinValue;
  if (Value > FMaxValue) Value = FMaxValue;
  if (FMinValue == FMaxValue) Value = FMinValue;
  return Value;
}

bool TDoubleEdit::TryText(const std::string& Text, double& Value) const {
  return TryTextToFloat(Text, DecimalSeparator(), Value);
}

void TDoubleEdit::SetValue(double Value) {
  FValue = Clamp(Value);
  ShowValue();
}

double TDoubleEdit::Value() const {
  double value = 0;
  return TryText(TextUtf8(), value) ? value : 0;
}

void TDoubleEdit::SetMinValue(double Value) {
  if (std::isnan(Value)) return;  // a NaN bound would let any value through
  FMinValue = Value > FMaxValue ? FMaxValue : Value;
  SetValue(FValue);
}

void TDoubleEdit::SetMaxValue(double Value) {
  if (std::isnan(Value)) return;
  FMaxValue = Value < FMinValue ? FMinValue : Value;
  SetValue(FValue);
}

void TDoubleEdit::SetIncrement(double Value) {
  if (Value > 0) FIncrement = Value;
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
  const double delta = StepCount(Page) * FIncrement;
  SetValue(Direction == btNext ? FValue + delta : FValue - delta);
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
  if (converted && (FMinValue == FMaxValue || (FMinValue <= number && number <= FMaxValue))) {
    SetValue(number);
    return true;
  }
  if (FBeep) Beep();
  if (FAutoCorrectValue) {
    SetValue(converted ? Clamp(number) : Value());
    return true;
  }
  Refuse(FloatToTextNumber(FMinValue, 2, separator, ""),
         FloatToTextNumber(FMaxValue, 2, separator, ""));
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
