#pragma once
// Whole-number field.
#include <cstdint>

#include "controls/uCustomNumEdit.h"
#include "controls/uNumberRange.h"

class TIntEdit : public TMyCustomNumEdit {
  Q_OBJECT
  Q_PROPERTY(int MinValue READ MinValue WRITE SetMinValue)
  Q_PROPERTY(int MaxValue READ MaxValue WRITE SetMaxValue)
  Q_PROPERTY(int Value READ Value WRITE SetValue)
  Q_PROPERTY(int Increment READ Increment WRITE SetIncrement)

 public:
  explicit TIntEdit(QWidget* Parent = nullptr);

  void Step(TUDBtnType Direction, bool Page) override;
  void ShowValue() override;
  bool CheckValue() override;

  std::int32_t MinValue() const { return FRange.Min; }
  void SetMinValue(std::int32_t Value);
  std::int32_t MaxValue() const { return FRange.Max; }
  void SetMaxValue(std::int32_t Value);
  // Read: the current text as a decimal integer, 0 when it is none. Write: stored, clamped
  // into the range and shown.
  std::int32_t Value() const;
  void SetValue(std::int32_t Value);
  std::int32_t Increment() const { return FRange.Increment; }
  // Only positive increments are taken.
  void SetIncrement(std::int32_t Value) { FRange.SetIncrement(Value); }

 private:
  TNumberRange<std::int32_t, std::int64_t> FRange{0, 100, 1};
  std::int32_t FValue = 0;
};
