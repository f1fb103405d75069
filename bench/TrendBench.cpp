// The trend at a day's size (86 400 readings of four channels): the memory the readings take
// and the time to add one reading and draw the chart again, offscreen, with all channels on
// one scale (second argument 0) and each on its own (1).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cmath>

#include "app/uTrend.h"
#include "app/uf_TrendChart.h"

namespace {

constexpr int kDay = 86'400;
constexpr std::int64_t kStart = 1'800'000'000'000;

TTrendReading ReadingAt(int Second) {
  TTrendReading reading;
  reading.TimeMs = kStart + Second * 1000LL;
  for (int ch = 0; ch < kTrendChannels; ++ch)
    reading.Values[ch] = {Second % 600 == 0 ? TReadingState::Missing : TReadingState::Valid,
                          static_cast<float>(100 * ch + 20 * std::sin(Second / (300.0 + ch)))};
  return reading;
}

void FillDay(TTrend& Trend) {
  for (int second = 0; second < kDay; ++second) Trend.Add(ReadingAt(second));
}

void BM_TrendDayMemory(benchmark::State& State) {
  for (auto _ : State) {
    const std::size_t before = mallinfo2().uordblks;
    TTrend trend;
    FillDay(trend);
    const std::size_t after = mallinfo2().uordblks;
    State.counters["MB"] = static_cast<double>(after - before) / (1024.0 * 1024.0);
    State.counters["bytes_per_reading"] = static_cast<double>(after - before) / kDay;
  }
}
BENCHMARK(BM_TrendDayMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_TrendAddAndRedraw(benchmark::State& State) {
  TTrend trend;
  FillDay(trend);
  TTrendChart chart(trend);
  chart.resize(740, 360);
  chart.SetSpan(static_cast<TTrendSpan>(State.range(0)));
  chart.SetOwnScales(State.range(1) != 0);
  QImage image(chart.size(), QImage::Format_ARGB32_Premultiplied);
  int second = kDay;
  for (auto _ : State) {
    trend.Add(ReadingAt(second++));
    QPainter painter(&image);
    chart.Render(painter, image.rect());
  }
}
BENCHMARK(BM_TrendAddAndRedraw)
    ->ArgsProduct({{static_cast<int>(TTrendSpan::All), static_cast<int>(TTrendSpan::Minutes60),
                    static_cast<int>(TTrendSpan::Minutes1)},
                   {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
