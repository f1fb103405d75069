#pragma once
// The measured values of the connected module over time, as the trend window shows them and
// as recordings and kvxctl's CSV output write them: one reading per measurement tick with the
// four channels' values, where a channel without a value and one in overflow are kept apart
// (both are gaps in a line). Plain data of the user-interface thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

inline constexpr int kTrendChannels = 4;

// A channel as the legend and a recording's header name it (UTF-8, trimmed).
struct TTrendChannel {
  std::string Name;
  std::string Unit;
  int Decimals = 0;
  bool operator==(const TTrendChannel&) const = default;
};
using TTrendChannels = std::array<TTrendChannel, kTrendChannels>;

enum class TReadingState : std::uint8_t { Missing, Overflow, Valid };

struct TTrendValue {
  TReadingState State = TReadingState::Missing;
  float Value = 0;
  bool IsValue() const { return State == TReadingState::Valid; }
};

struct TTrendReading {
  std::int64_t TimeMs = 0;  // Unix time in milliseconds
  std::array<TTrendValue, kTrendChannels> Values{};
};

// The part of the time axis shown: the last 1, 10 or 60 minutes, or everything since
// connecting.
enum class TTrendSpan { Minutes1, Minutes10, Minutes60, All };
std::optional<std::int64_t> SpanMs(TTrendSpan Span);

// Indices [First, Last) of the readings inside a span.
struct TTrendSlice {
  std::size_t First = 0;
  std::size_t Last = 0;
  bool Empty() const { return First >= Last; }
};

struct TTrendRange {
  double Min = 0;
  double Max = 0;
};

// The values of one channel that fall into one pixel column of the chart.
struct TTrendColumn {
  float First = 0;
  float Min = 0;
  float Max = 0;
  float Last = 0;
  bool Valid = false;        // a value fell into the column
  bool BreakBefore = false;  // a reading without a value came before the column's first value
};

// A span of readings condensed into the columns of a chart, so drawing costs the same for a
// minute of readings as for a day.
struct TTrendColumns {
  std::int64_t From = 0;  // time of the left edge, Unix milliseconds
  std::int64_t To = 0;    // time of the right edge: the newest reading
  std::vector<std::array<TTrendColumn, kTrendChannels>> Columns;
  std::optional<TTrendRange> Range;  // of the shown channels' values; none without a value
  std::array<std::optional<TTrendRange>, kTrendChannels> ChannelRanges;  // each shown channel's
};

class TTrend {
 public:
  enum class TChange { Added, Cleared };
  using TListener = std::function<void(TChange Change)>;

  void SetChannels(const TTrendChannels& Channels) { FChannels = Channels; }
  const TTrendChannels& Channels() const { return FChannels; }

  void Add(const TTrendReading& Reading);
  // A new module, or none: the readings of the last one go.
  void Clear();

  const std::deque<TTrendReading>& Readings() const { return FReadings; }
  // The readings of the last Span of time, counted back from the newest reading.
  TTrendSlice Slice(TTrendSpan Span) const;
  // The readings of Span in Width columns (at least one), the shown channels only.
  TTrendColumns Columns(TTrendSpan Span, int Width,
                        const std::array<bool, kTrendChannels>& Shown) const;

  // Listeners hear every reading added and every clearing.
  int AddListener(TListener Listener);
  void RemoveListener(int Id);

 private:
  void Notify(TChange Change);

  TTrendChannels FChannels;
  // A deque grows without copying what it holds: a day of readings never needs twice its size.
  std::deque<TTrendReading> FReadings;
  std::vector<std::pair<int, TListener>> FListeners;
  int FNextListener = 1;
};
