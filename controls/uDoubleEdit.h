#pragma once
// Real-number field, written with the user's decimal separator.
#include <cstdint>

#include "controls/uCustomNumEdit.h"
#include "controls/uNumberRange.h"

// dbAuto: as many digits as the value needs; dbManual: always Decimals digits; dbRemember:
// Decimals follows the digits that the user typed when the field is left.
enum TDecimalBehaviour { dbManual, dbAuto, dbRemember };

class TDoubleEdit : public TMyCustomNumEdit {
  Q_OBJECT
  Q_PROPERTY(double MinValue READ MinValue WRITE SetMinValue)
  Q_PROPERTY(double MaxValue READ MaxValue WRITE SetMaxValue)
  Q_PROPERTY(double Value READ Value WRITE SetValue)
  Q_PROPERTY(double Increment READ Increment WRITE SetIncrement)
  Q_PROPERTY(ushort Decimals READ Decimals WRITE SetDecimals)

 public:
  explicit TDoubleEdit(QWidget* Parent = nullptr);

  void Step(TUDBtnType Direction, bool Page) override;
  void ShowValue() override;
  bool CheckValue() override;

  double MinValue() const { return FRange.Min; }
  void SetMinValue(double Value);
  double MaxValue() const { return FRange.Max; }
  void SetMaxValue(double Value);
  // Read: the current text as a real number, 0 when it is none. Write: stored, clamped into
  // the range and shown.
  double Value() const;
  void SetValue(double Value);
  double Increment() const { return FRange.Increment; }
  // Only positive increments are taken.
  void SetIncrement(double Value) { FRange.SetIncrement(Value); }
  std::uint16_t Decimals() const { return FDecimals; }
  void SetDecimals(std::uint16_t Value);
  TDecimalBehaviour DecimalBenhaviour() const { return FDecimalBenhaviour; }
  void SetDecimalBenhaviour(TDecimalBehaviour Value);

 protected:
  bool MapExtraCharacter(QChar& Character) const override;
  bool HandleKeyDown(QKeyEvent* Event) override;

 private:
  bool TryText(const std::string& Text, double& Value) const;

  TNumberRange<double> FRange{0, 0, 1.0};
  double FValue = 0;
  std::uint16_t FDecimals = 2;
  TDecimalBehaviour FDecimalBenhaviour = dbAuto;
  // The refusal path of a wrong entry keeps its own switches, which no property sets: a
  // real-number field neither beeps nor corrects silently.
  bool FBeep = false;
  bool FAutoCorrectValue = false;
};
