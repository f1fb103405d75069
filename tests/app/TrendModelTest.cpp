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

  const auto range = trend.Columns(TTrendSpan::All, 100, {true, true, true, true}).Range;
  ASSERT_TRUE(range);
  EXPECT_EQ(range->Min, -2);
  EXPECT_EQ(range->Max, 100);

  const auto withoutSecond = trend.Columns(TTrendSpan::All, 100, {true, false, true, true}).Range;
  ASSERT_TRUE(withoutSecond);
  EXPECT_EQ(withoutSecond->Max, 5);

  EXPECT_FALSE(trend.Columns(TTrendSpan::All, 100, {false, false, false, false}).Range);
}

TEST(TrendModel, OverflowAndMissingReadingsBreakTheLineInsteadOfDrawingZeros) {
  TTrend trend;
  for (int second = 0; second < 10; ++second) {
    TTrendReading reading = ReadingAt(second, 10.0f + second);
    if (second == 4) reading.Values[0].State = TReadingState::Overflow;
    if (second >= 6 && second <= 7) reading.Values[0].State = TReadingState::Missing;
    trend.Add(reading);
  }
  // Ten columns for nine seconds: reading n lands in column n (the last one in the last).
  const TTrendColumns columns = trend.Columns(TTrendSpan::All, 10, {true, true, true, true});
  ASSERT_EQ(columns.Columns.size(), 10u);
  const auto first = [&](std::size_t Column) { return columns.Columns[Column][0]; };
  EXPECT_TRUE(first(3).Valid);
  EXPECT_FALSE(first(4).Valid) << "an overflow is no value";
  EXPECT_TRUE(first(5).BreakBefore);
  EXPECT_EQ(first(5).First, 15.0f);
  EXPECT_FALSE(first(6).Valid);
  EXPECT_FALSE(first(7).Valid);
  EXPECT_TRUE(first(8).BreakBefore);
  EXPECT_FALSE(first(9).BreakBefore);
  EXPECT_EQ(columns.Range->Min, 10.0f);  // no zero from the gaps
  // The other channels run on without a break.
  for (std::size_t c = 0; c < 10; ++c) EXPECT_FALSE(columns.Columns[c][1].BreakBefore) << c;
}

TEST(TrendModel, ADayOfReadingsCondensesIntoMinAndMaxPerColumn) {
  TTrend trend;
  for (int second = 0; second < 86'400; ++second)
    trend.Add(ReadingAt(second, static_cast<float>(second % 100)));
  const TTrendColumns columns = trend.Columns(TTrendSpan::All, 720, {true, true, true, true});
  EXPECT_EQ(columns.To - columns.From, 86'399'000);
  for (const auto& column : columns.Columns) {
    EXPECT_EQ(column[0].Min, 0.0f);
    EXPECT_EQ(column[0].Max, 99.0f);
  }
  const TTrendColumns lastMinute =
      trend.Columns(TTrendSpan::Minutes1, 720, {true, true, true, true});
  EXPECT_EQ(lastMinute.To - lastMinute.From, 60'000);
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
