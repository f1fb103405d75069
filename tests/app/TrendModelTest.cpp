// The trend's readings: the spans of the time axis and the value axis of the shown channels.
#include <gtest/gtest.h>

#include "app/uTrend.h"

namespace {

constexpr std::int64_t kStart = 1'800'000'000'000;

TTrendReading ReadingAt(std::int64_t Seconds, float Value) {
  TTrendReading reading;
  reading.TimeMs = kStart + Seconds * 1000;
  for (TTrendValue& value : reading.Values) value = {TReadingState::Valid, Value};
  return reading;
}

TEST(TrendModel, EachSpanShowsTheLastMinutesCountedFromTheNewestReading) {
  TTrend trend;
  for (std::int64_t second = 0; second <= 2 * 3600; second += 10)
    trend.Add(ReadingAt(second, static_cast<float>(second)));
  const auto firstShown = [&](TTrendSpan Span) {
    const TTrendSlice slice = trend.Slice(Span);
    EXPECT_EQ(slice.Last, trend.Readings().size());
    return (trend.Readings()[slice.First].TimeMs - kStart) / 1000;
  };
  EXPECT_EQ(firstShown(TTrendSpan::Minutes1), 2 * 3600 - 60);
  EXPECT_EQ(firstShown(TTrendSpan::Minutes10), 2 * 3600 - 600);
  EXPECT_EQ(firstShown(TTrendSpan::Minutes60), 3600);
  EXPECT_EQ(firstShown(TTrendSpan::All), 0);
}

TEST(TrendModel, ValueAxisSpansTheShownChannelsValuesAndSkipsGaps) {
  TTrend trend;
  TTrendReading reading = ReadingAt(0, 5);
  reading.Values[1] = {TReadingState::Valid, 100};
  reading.Values[2] = {TReadingState::Overflow, 1e6f};
  reading.Values[3] = {TReadingState::Missing, -1e6f};
  trend.Add(reading);
  trend.Add(ReadingAt(1, -2));
  const TTrendSlice all = trend.Slice(TTrendSpan::All);

  const auto range = trend.ValueRange(all, {true, true, true, true});
  ASSERT_TRUE(range);
  EXPECT_EQ(range->Min, -2);
  EXPECT_EQ(range->Max, 100);

  const auto withoutSecond = trend.ValueRange(all, {true, false, true, true});
  ASSERT_TRUE(withoutSecond);
  EXPECT_EQ(withoutSecond->Max, 5);

  EXPECT_FALSE(trend.ValueRange(all, {false, false, false, false}));
}

TEST(TrendModel, ClearingDropsEveryReadingAndTellsTheListeners) {
  TTrend trend;
  std::vector<TTrend::TChange> heard;
  const int id = trend.AddListener([&](TTrend::TChange Change) { heard.push_back(Change); });
  trend.Add(ReadingAt(0, 1));
  trend.Clear();
  EXPECT_TRUE(trend.Readings().empty());
  EXPECT_TRUE(trend.Slice(TTrendSpan::Minutes1).Empty());
  trend.RemoveListener(id);
  trend.Add(ReadingAt(1, 1));
  EXPECT_EQ(heard, (std::vector{TTrend::TChange::Added, TTrend::TChange::Cleared}));
}

}  // namespace
