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
  // Smallest and largest value of the shown channels in Slice; none when it holds no value.
  std::optional<TTrendRange> ValueRange(TTrendSlice Slice,
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
