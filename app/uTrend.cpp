#include "app/uTrend.h"

#include <algorithm>

std::optional<std::int64_t> SpanMs(TTrendSpan Span) {
  switch (Span) {
    case TTrendSpan::Minutes1:
      return 60 * 1000;
    case TTrendSpan::Minutes10:
      return 10 * 60 * 1000;
    case TTrendSpan::Minutes60:
      return 60 * 60 * 1000;
    case TTrendSpan::All:
      break;
  }
  return std::nullopt;
}

void TTrend::Add(const TTrendReading& Reading) {
  FReadings.push_back(Reading);
  Notify(TChange::Added);
}

void TTrend::Clear() {
  FReadings.clear();
  FReadings.shrink_to_fit();
  Notify(TChange::Cleared);
}

TTrendSlice TTrend::Slice(TTrendSpan Span) const {
  TTrendSlice slice{0, FReadings.size()};
  const std::optional<std::int64_t> span = SpanMs(Span);
  if (!span || FReadings.empty()) return slice;
  const std::int64_t from = FReadings.back().TimeMs - *span;
  const auto first = std::lower_bound(
      FReadings.begin(), FReadings.end(), from,
      [](const TTrendReading& Reading, std::int64_t Time) { return Reading.TimeMs < Time; });
  slice.First = static_cast<std::size_t>(first - FReadings.begin());
  return slice;
}

std::optional<TTrendRange> TTrend::ValueRange(TTrendSlice Slice,
                                              const std::array<bool, kTrendChannels>& Shown) const {
  std::optional<TTrendRange> range;
  for (std::size_t i = Slice.First; i < Slice.Last && i < FReadings.size(); ++i) {
    for (int ch = 0; ch < kTrendChannels; ++ch) {
      const TTrendValue& value = FReadings[i].Values[ch];
      if (!Shown[ch] || !value.IsValue()) continue;
      if (!range)
        range = TTrendRange{value.Value, value.Value};
      else
        range = TTrendRange{std::min<double>(range->Min, value.Value),
                            std::max<double>(range->Max, value.Value)};
    }
  }
  return range;
}

int TTrend::AddListener(TListener Listener) {
  FListeners.emplace_back(FNextListener, std::move(Listener));
  return FNextListener++;
}

void TTrend::RemoveListener(int Id) {
  std::erase_if(FListeners, [Id](const auto& Entry) { return Entry.first == Id; });
}

void TTrend::Notify(TChange Change) {
  // A listener may remove itself while it is told.
  const auto listeners = FListeners;
  for (const auto& [id, listener] : listeners) listener(Change);
}
