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

TTrendColumns TTrend::Columns(TTrendSpan Span, int Width,
                              const std::array<bool, kTrendChannels>& Shown) const {
  constexpr std::int64_t kShortest = 1000;
  TTrendColumns result;
  result.Columns.resize(static_cast<std::size_t>(std::max(Width, 1)));
  const TTrendSlice slice = Slice(Span);
  if (slice.Empty()) return result;
  result.To = FReadings[slice.Last - 1].TimeMs;
  const std::optional<std::int64_t> span = SpanMs(Span);
  result.From = span ? result.To - *span : FReadings[slice.First].TimeMs;
  result.From = std::min(result.From, result.To - kShortest);
  const double scale =
      static_cast<double>(result.Columns.size()) / static_cast<double>(result.To - result.From);
  const auto last = static_cast<std::ptrdiff_t>(result.Columns.size()) - 1;
  std::array<bool, kTrendChannels> gap{};
  const auto end = FReadings.begin() + static_cast<std::ptrdiff_t>(slice.Last);
  for (auto reading = FReadings.begin() + static_cast<std::ptrdiff_t>(slice.First); reading != end;
       ++reading) {
    const auto index = std::clamp(
        static_cast<std::ptrdiff_t>(static_cast<double>(reading->TimeMs - result.From) * scale),
        std::ptrdiff_t{0}, last);
    auto& columns = result.Columns[static_cast<std::size_t>(index)];
    for (std::size_t channel = 0; channel < kTrendChannels; ++channel) {
      if (!Shown[channel]) continue;
      const TTrendValue& value = reading->Values[channel];
      if (!value.IsValue()) {
        gap[channel] = true;
        continue;
      }
      TTrendColumn& column = columns[channel];
      if (!column.Valid) {
        column = {value.Value, value.Value, value.Value, value.Value, true, gap[channel]};
      } else {
        column.Min = std::min(column.Min, value.Value);
        column.Max = std::max(column.Max, value.Value);
        column.Last = value.Value;
        column.BreakBefore = column.BreakBefore || gap[channel];
      }
      gap[channel] = false;
    }
  }
  const auto widen = [](std::optional<TTrendRange>& Range, const TTrendColumn& Column) {
    Range = Range ? TTrendRange{std::min<double>(Range->Min, Column.Min),
                                std::max<double>(Range->Max, Column.Max)}
                  : TTrendRange{Column.Min, Column.Max};
  };
  for (const auto& columns : result.Columns)
    for (std::size_t channel = 0; channel < kTrendChannels; ++channel) {
      if (!columns[channel].Valid) continue;
      widen(result.Range, columns[channel]);
      widen(result.ChannelRanges[channel], columns[channel]);
    }
  return result;
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
