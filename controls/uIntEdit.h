#pragma once
// Whole-number field.
#include <cstdint>

#include "controls/uCustomNumEdit.h"

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

  std::int32_t MinValue() const { return FMinValue; }
  void SetMinValue(std::int32_t Value);
  std::int32_t MaxValue() const { return FMaxValue; }
  void SetMaxValue(std::int32_t Value);
  // Read: the current text as a decimal integer, 0 when it is none. Write: stored, clamped
  // into the range and shown.
  std::int32_t Value() const;
  void SetValue(std::int32_t Value);
  std::int32_t Increment() const { return FIncrement; }
  // Only positive increments are taken.
  void SetIncrement(std::int32_t Value);

 private:
  std::int32_t Clamp(std::int64_t Value) const;

  std::int32_t FMinValue = 0;
  std::int32_t FMaxValue = 100;
  std::int32_t FValue = 0;
  std::int32_t FIncrement = 1;
};
