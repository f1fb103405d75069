#include "protocol/uKVXxx.h"

#include <algorithm>
#include <variant>

#include "protocol/uKVXStreamItems.h"
#include "support/uConversionUtils.h"
#include "support/uErrors.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"

namespace {

template <class R, std::size_t N>
const TStreamItem<R>* FindItem(const TStreamItem<R> (&items)[N], std::uint8_t code) {
  const auto it = std::find_if(std::begin(items), std::end(items),
                               [code](const auto& i) { return i.Code == code; });
  return it == std::end(items) ? nullptr : it;
}

// Takes the value of the item at the front of Stream into its field.
template <class R>
void TakeItem(const TStreamItem<R>& item, std::string& Stream, R& target) {
  std::visit(
      [&](auto field) {
        using TField = decltype(field);
        if constexpr (std::is_same_v<TField, std::monostate>) {
          TakeBytes(Stream, 1);
        } else if constexpr (std::is_same_v<TField, std::uint8_t R::*>) {
          target.*field = TakeByte(Stream);
        } else if constexpr (std::is_same_v<TField, bool R::*>) {
          target.*field = TakeByte(Stream) == 1;
        } else if constexpr (std::is_same_v<TField, float R::*>) {
          target.*field = TakeReal(Stream);
        } else {
          target.*field = TakeBytes(Stream, item.Width);
        }
      },
      item.Field);
}

// Texts compare by length and characters, reals bit for bit (so a NaN read back equals
// itself and is not written again).
template <class R>
bool Differs(const TStreamItem<R>& item, const R& a, const R& b) {
  return std::visit(
      [&](auto field) {
        using TField = decltype(field);
        if constexpr (std::is_same_v<TField, std::monostate>) {
          return false;
        } else if constexpr (std::is_same_v<TField, float R::*>) {
          return !SameBits(a.*field, b.*field);
        } else {
          return a.*field != b.*field;
        }
      },
      item.Field);
}

// Walks a stream; Select is called for each 0x01 item with the channel number, Store for
// every other known item with the channel selected last.
template <class R, std::size_t N, class Select, class Store>
void WalkStream(std::string& Stream, const TStreamItem<R> (&items)[N], char streamLetter,
                Select select, Store store) {
  int channel = 0;
  while (!Stream.empty()) {
    const auto code = static_cast<std::uint8_t>(Stream.front());
    if (code == kChannelCode) {
      const std::uint8_t number = TakeByte(Stream);
      if (number < 1 || number > kChannelCount)
        throw Exception(Format("Invalid channel number %d in the parameter stream", number));
      channel = number;
      select(channel);
      continue;
    }
    const TStreamItem<R>* item = FindItem(items, code);
    if (item == nullptr) {
      ShowMessage(Format("%c Unknown param #%d (%.2X)", streamLetter, code, code));
      Stream.erase(0, 1);
      continue;
    }
    if (channel == 0)
      throw Exception(Format("Parameter $%.2X comes before any channel in the stream", code));
    store(*item, channel);
  }
}

template <class R, std::size_t N>
bool SameItems(const TStreamItem<R> (&items)[N], const R& a, const R& b) {
  return std::none_of(std::begin(items), std::end(items),
                      [&](const auto& item) { return Differs(item, a, b); });
}

}  // namespace

bool TChannelSetup::operator==(const TChannelSetup& Other) const {
  return Channel == Other.Channel && GainPresent == Other.GainPresent &&
         SameItems(kSetupItems, *this, Other);
}

bool TChannelWatch::operator==(const TChannelWatch& Other) const {
  return Channel == Other.Channel && SameItems(kWatchItems, *this, Other);
}

std::uint8_t ModuleTypeFromText(std::string_view TypeText) {
  const std::string upper = UpperCase(TypeText);
  const std::pair<const char*, TKVXModuleType> order[] = {
      {"USB", mtUSB}, {"ETH", mtETH}, {"NOVRA", mtNOVRA}, {"RS", mtRS}};
  for (const auto& [word, type] : order)
    if (upper.find(word) != std::string::npos) return type;
  return mtUnknown;
}

std::string ProductionText(std::uint16_t ProductNumber, std::uint16_t SerialNumber) {
  return Format("%.4d.xx.xx/%.4d", ProductNumber, SerialNumber);
}

std::string TakeBytes(std::string& Stream, std::size_t Count) {
  if (Stream.empty()) return {};
  std::string value = Stream.substr(1, Count);
  Stream.erase(0, 1 + value.size());
  return value;
}

std::uint8_t TakeByte(std::string& Stream) {
  if (Stream.size() < 2)
    throw Exception(Format("Missing value byte of parameter $%.2X",
                           Stream.empty() ? 0 : static_cast<unsigned char>(Stream[0])));
  return static_cast<std::uint8_t>(TakeBytes(Stream, 1)[0]);
}

std::uint32_t TakeUnsigned(std::string& Stream, std::size_t Count) {
  return BigEndian(TakeBytes(Stream, Count));
}

float TakeReal(std::string& Stream) {
  return StrBinToFloat(TakeBytes(Stream, 4));
}

bool ParseSetupStream(TKVXrec& Rec, std::string Stream) {
  WalkStream(
      Stream, kSetupItems, 'A',
      [&](int ch) {
        Rec.Setup[ch].Channel = static_cast<std::uint8_t>(ch);
        Rec.Setup[ch].GainPresent = false;
      },
      [&](const TSetupItem& item, int ch) {
        TakeItem(item, Stream, Rec.Setup[ch]);
        if (item.Code == kGainCode) Rec.Setup[ch].GainPresent = true;
      });
  return true;
}

bool ParseWatchStream(TKVXrec& Rec, std::string Stream) {
  WalkStream(
      Stream, kWatchItems, 'B',
      [&](int ch) { Rec.Watch[ch].Channel = static_cast<std::uint8_t>(ch); },
      [&](const TWatchItem& item, int ch) { TakeItem(item, Stream, Rec.Watch[ch]); });
  return true;
}

std::string BuildSetupChanges(const TChannelSetup& Edited, const TChannelSetup& Read) {
  std::string items;
  for (const auto& item : kSetupItems) {
    if (!item.Written || !Differs(item, Edited, Read)) continue;
    // A module without an amplifier on this channel has no gain to set.
    if (item.Code == kGainCode && !Read.GainPresent) continue;
    items += EncodeItem(item.Code, EncodeValue(item, Edited));
  }
  return items;
}

std::string BuildWatchChanges(const TChannelWatch& Edited, const TChannelWatch& Read) {
  std::string items;
  for (const auto& item : kWatchItems)
    if (item.Written && Differs(item, Edited, Read))
      items += EncodeItem(item.Code, EncodeValue(item, Edited));
  return items;
}

void DecodeMeasuredValue(std::string_view Block, TKVXChannelRecountedValue& Value) {
  Value.Valid = false;
  if (Block.size() != kMeasuredBlockSize) throw Exception("Invalid value data length");
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(Block[i]); };
  Value.Channel = byte(0);
  Value.Overflow = (byte(1) & 0x04) != 0;
  Value.Aux = static_cast<std::uint16_t>((byte(2) << 8) | byte(3));
  Value.Value = StrBinToFloat(Block.substr(4, 4));
  Value.Text.assign(Block.substr(8, 10));
  Value.Valid = (byte(1) & 0x80) != 0;
}

const char* ModelName(std::uint8_t ModuleType) {
  switch (ModuleType) {
    case mtUSB:
      return "DAZAZE";
    case mtETH:
      return "VIVIDA";
    case mtRS:
      return "VIROD";
    case mtNOVRA:
      return "NOVRA";
    default:
      return "";
  }
}
