#pragma once
// The bounds and the increment of a number field, and the rules that keep a value inside
// them. TWide holds a stepped value before it is clamped, so that a step cannot overflow.
#include <cmath>
#include <type_traits>

template <class TNumber, class TWide = TNumber>
struct TNumberRange {
  TNumber Min;
  TNumber Max;
  TNumber Increment;

  // Value inside the bounds; the lower bound for equal bounds and for a NaN.
  TNumber Clamp(TWide Value) const {
    if (Min == Max || !(Value >= Min)) return Min;
    if (Value > Max) return Max;
    return static_cast<TNumber>(Value);
  }
  // Whether an entry of Value stands as it is: inside the bounds, or anything when they are
  // equal.
  bool Accepts(TWide Value) const { return Min == Max || (Min <= Value && Value <= Max); }
  // A lower bound above the upper one is taken as the upper one, and the other way round; a
  // NaN bound, which would let any value through, is ignored.
  void SetMin(TNumber Value) {
    if (!IsNaN(Value)) Min = Value > Max ? Max : Value;
  }
  void SetMax(TNumber Value) {
    if (!IsNaN(Value)) Max = Value < Min ? Min : Value;
  }
  // Only positive increments are taken.
  void SetIncrement(TNumber Value) {
    if (Value > 0) Increment = Value;
  }
  // Value moved by Steps increments up or down, clamped.
  TNumber Stepped(TNumber Value, int Steps, bool Up) const {
    const TWide delta = static_cast<TWide>(Steps) * Increment;
    return Clamp(Up ? TWide{Value} + delta : TWide{Value} - delta);
  }

 private:
  static bool IsNaN(TNumber Value) {
    if constexpr (std::is_floating_point_v<TNumber>)
      return std::isnan(Value);
    else
      return false;
  }
};
