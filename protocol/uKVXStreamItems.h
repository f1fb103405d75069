#pragma once
// The items of the module's parameter streams (setup and watch) and the record fields they
// feed: one table per stream, read by the parser and the change lists of the product and by
// the simulated module that sends the streams.
#include <cstdint>
#include <string>
#include <variant>

#include "protocol/uKVXxx.h"
#include "support/uConversionUtils.h"
#include "support/uStringUtils.h"

inline constexpr std::uint8_t kChannelCode = 0x01;
inline constexpr std::uint8_t kGainCode = 0x1A;

// One item kind of a parameter stream and the record field it feeds. A monostate field is
// an item whose value byte the stream carries but the record does not keep.
template <class R>
struct TStreamItem {
  std::uint8_t Code;
  std::variant<std::monostate, std::uint8_t R::*, bool R::*, float R::*, std::string R::*> Field;
  std::size_t Width = 0;  // texts only
  bool Written = false;   // part of the change list built from an edited copy
};

using TSetupItem = TStreamItem<TChannelSetup>;
using TWatchItem = TStreamItem<TChannelWatch>;

// In the order in which the module sends them and the change lists are built.
inline const TSetupItem kSetupItems[] = {
    {0x11, &TChannelSetup::Name, kNameWidth, false},
    {0x12, &TChannelSetup::InputRange, kInputRangeWidth, true},
    {0x13, &TChannelSetup::Unit, kUnitWidth, true},
    {0x14, &TChannelSetup::AuxText, kAuxTextWidth, false},
    {0x15, &TChannelSetup::Decimals, 0, true},
    {0x16, &TChannelSetup::Scale, 0, true},
    {0x17, &TChannelSetup::Text17, kParamTextWidth, true},
    {0x18, &TChannelSetup::Offset, 0, true},
    {0x19, &TChannelSetup::Text19, kParamTextWidth, true},
    {kGainCode, &TChannelSetup::GainIndex, 0, true},
    {0x20, &TChannelSetup::Loop, 0, false},
};

inline const TWatchItem kWatchItems[] = {
    {0x12, &TChannelWatch::Flags, 0, true},
    {0x13, &TChannelWatch::UpperLimit, 0, true},
    {0x14, &TChannelWatch::Text14, kParamTextWidth, true},
    {0x15, &TChannelWatch::LowerLimit, 0, true},
    {0x16, &TChannelWatch::Text16, kParamTextWidth, true},
    {0x17, &TChannelWatch::Hysteresis, 0, true},
    {0x18, &TChannelWatch::Text18, kParamTextWidth, true},
    {0x1A, &TChannelWatch::Option1A, 0, false},
    {0x1B, std::monostate{}, 0, false},
    {0x20, std::monostate{}, 0, false},
    {0x21, std::monostate{}, 0, false},
};

// The value of a field as it travels in a stream (texts padded or cut to their width).
template <class R>
std::string EncodeValue(const TStreamItem<R>& item, const R& source) {
  return std::visit(
      [&](auto field) -> std::string {
        using TField = decltype(field);
        if constexpr (std::is_same_v<TField, std::monostate>) {
          return std::string(1, '\0');
        } else if constexpr (std::is_same_v<TField, std::uint8_t R::*>) {
          return std::string(1, static_cast<char>(source.*field));
        } else if constexpr (std::is_same_v<TField, bool R::*>) {
          return std::string(1, static_cast<char>(source.*field ? 1 : 0));
        } else if constexpr (std::is_same_v<TField, float R::*>) {
          return FloatToStrBin(source.*field);
        } else {
          return PadRight(source.*field, item.Width);
        }
      },
      item.Field);
}

// One item of a stream: its code, then its value bytes.
inline std::string EncodeItem(std::uint8_t code, const std::string& value) {
  return static_cast<char>(code) + value;
}
