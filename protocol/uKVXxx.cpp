#include "protocol/uKVXxx.h"

#include <algorithm>
#include <exception>
#include <variant>

#include "protocol/uKVXStreamItems.h"
#include "support/uConversionUtils.h"
#include "support/uErrors.h"
#include "support/uLogUtils.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"

namespace {

// Unknown codes named in the operator's message; the trace gets the others.
constexpr std::size_t kShownUnknownCodes = 3;
constexpr std::size_t kRealSize = 4;

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

// Unknown codes of one stream: the operator gets one message naming the first few and how
// many there were; the trace gets the rest.
class TUnknownCodes {
 public:
  explicit TUnknownCodes(char StreamLetter) : FStreamLetter(StreamLetter) {}
  void Add(std::uint8_t Code) {
    if (FCount < kShownUnknownCodes)
      FShown += Format("%s#%d (%.2X)", FShown.empty() ? "" : ", ", Code, Code);
    else
      FTraced += Format(" %.2X", Code);
    ++FCount;
  }
  void Report() const {
    if (FCount == 0) return;
    const std::size_t more = FCount - std::min(FCount, kShownUnknownCodes);
    if (more > 0)
      DebugLog(Format("%c Unknown params beyond the first:%s", FStreamLetter, FTraced.c_str()));
    ShowMessage(Format("%c Unknown param %s", FStreamLetter, FShown.c_str()) +
                (more > 0 ? Format(" and %zu more", more) : std::string()));
  }

 private:
  char FStreamLetter;
  std::size_t FCount = 0;
  std::string FShown;
  std::string FTraced;
};

template <class R, std::size_t N, class Select, class Store>
void WalkItems(std::string& Stream, const TStreamItem<R> (&items)[N], TUnknownCodes& unknown,
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
      unknown.Add(code);
      Stream.erase(0, 1);
      continue;
    }
    if (channel == 0)
      throw Exception(Format("Parameter $%.2X comes before any channel in the stream", code));
    store(*item, channel);
  }
}

// Walks a stream; Select is called for each 0x01 item with the channel number, Store for
// every other known item with the channel selected last.
template <class R, std::size_t N, class Select, class Store>
void WalkStream(std::string& Stream, const TStreamItem<R> (&items)[N], char streamLetter,
                Select select, Store store) {
  TUnknownCodes unknown(streamLetter);
  try {
    WalkItems(Stream, items, unknown, select, store);
  } catch (...) {
    unknown.Report();
    throw;
  }
  unknown.Report();
}

// The bytes one item takes in a stream: its code and its value.
template <class R>
std::size_t ItemSize(const TStreamItem<R>& item) {
  return std::visit(
      [&](auto field) -> std::size_t {
        using TField = decltype(field);
        if constexpr (std::is_same_v<TField, float R::*>)
          return 1 + kRealSize;
        else if constexpr (std::is_same_v<TField, std::string R::*>)
          return 1 + item.Width;
        else
          return 2;
      },
      item.Field);
}

// Every item once for each channel, behind its channel item.
template <class R, std::size_t N>
std::size_t FullStreamSize(const TStreamItem<R> (&items)[N]) {
  std::size_t channel = 2;
  for (const auto& item : items) channel += ItemSize(item);
  return channel * kChannelCount;
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

std::size_t LongestStreamSize() {
  return std::max(FullStreamSize(kSetupItems), FullStreamSize(kWatchItems));
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

std::array<TKVXChannelRecountedValue, kChannelCount> DecodeMeasurements(std::string_view Reply) {
  std::array<TKVXChannelRecountedValue, kChannelCount> values{};
  for (TKVXChannelRecountedValue& value : values) {
    if (Reply.size() >= kMeasuredBlockSize) {
      try {
        DecodeMeasuredValue(Reply.substr(0, kMeasuredBlockSize), value);
      } catch (const std::exception&) {
        value.Valid = false;
      }
    }
    Reply.remove_prefix(std::min(Reply.size(), kMeasuredBlockSize));
  }
  return values;
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
