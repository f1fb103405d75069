#pragma once
// The fields of the configuration pages: the number fields' bounds, and after a save, which
// fields the module does not hold as saved, each named by the label the operator reads
// beside it.
#include <array>
#include <string_view>
#include <vector>

#include "protocol/uKVXxx.h"

// The values a number field takes; the window refuses any other with its range message.
struct TFieldBounds {
  double Min;
  double Max;
  bool Holds(double Value) const { return Value >= Min && Value <= Max; }
};

inline constexpr TFieldBounds kRangeEndBounds{-99999999, 99999999};
inline constexpr TFieldBounds kWatchLimitBounds{-10000, 10000};
inline constexpr TFieldBounds kDecimalsBounds{0, 2};

// A number field of the channel page: its element and its bounds.
struct TNumberField {
  const char* Element;
  const char* Label;  // the label before it, whose caption names it in its range message
  TFieldBounds Bounds;
};

inline constexpr std::array<TNumberField, 6> kNumberFields = {{
    {"deValueRangeMax", "Label5", kRangeEndBounds},
    {"deValueRangeMin", "Label6", kRangeEndBounds},
    {"ieDecimals", "Label7", kDecimalsBounds},
    {"deMaxValue", "Label19", kWatchLimitBounds},
    {"deMinValue", "Label20", kWatchLimitBounds},
    {"deHystValue", "Label21", kWatchLimitBounds},
}};

// The bounds of the number field Element; raises for an element that is none of them.
const TFieldBounds& NumberFieldBounds(std::string_view Element);

struct TPageField {
  const char* Label;    // the element whose caption names the field on its page
  const char* Element;  // the element that edits it
  int Channel;          // 1 to 4 on the channel page, 0 on the communication page
  // By text: the same name may stand at two addresses in two translation units.
  bool operator==(const TPageField& Other) const {
    return std::string_view(Label) == Other.Label && std::string_view(Element) == Other.Element &&
           Channel == Other.Channel;
  }
};

// The fields in which Held differs from Saved, in page order: the communication page, then
// each channel the module reports. A field the upload never sends for this module (the speed
// of a model other than RS, the gain of a channel without one) is not among them.
std::vector<TPageField> SavedFieldsNotHeld(const TKVXrec& Saved, const TKVXrec& Held);
