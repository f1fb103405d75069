#include "app/uf_TrendChart.h"

#include <QDateTime>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace {

constexpr int kLeftMargin = 64;
constexpr int kRightMargin = 12;
constexpr int kTopMargin = 10;
constexpr int kBottomMargin = 26;
constexpr int kValueTicks = 5;
constexpr double kTickSpacing = 36;  // the least room between two value labels
constexpr int kTimeTicks = 6;
const QColor kGridColor(226, 220, 216);
const QColor kAxisColor(135, 109, 98);

// 1, 2 or 5 times a power of ten, at least Raw.
double NiceStep(double Raw) {
  const double power = std::pow(10.0, std::floor(std::log10(Raw)));
  for (double factor : {1.0, 2.0, 5.0})
    if (factor * power >= Raw) return factor * power;
  return 10 * power;
}

std::int64_t TimeStepMs(std::int64_t Range) {
  static const std::int64_t kSteps[] = {1,     2,     5,     10,    15,     30,    60,
                                        120,   300,   600,   900,   1800,   3600,  7200,
                                        10800, 21600, 43200, 86400, 172800, 604800};
  for (std::int64_t seconds : kSteps)
    if (seconds * 1000 * kTimeTicks >= Range) return seconds * 1000;
  return Range / kTimeTicks + 1;
}

// Draws a channel's line, and a dot for a value standing alone between gaps.
void DrawLine(QPainter& Painter, QPolygonF& Line) {
  if (Line.size() == 1 || (Line.size() == 2 && Line[0] == Line[1]))
    Painter.drawEllipse(Line[0], 1.5, 1.5);
  else if (Line.size() > 1)
    Painter.drawPolyline(Line);
  Line.clear();
}

}  // namespace

QColor TrendColor(int Channel) {
  static const QColor kColors[kTrendChannels] = {QColor(31, 119, 180), QColor(230, 110, 0),
                                                 QColor(44, 160, 44), QColor(148, 80, 189)};
  return kColors[static_cast<std::size_t>(Channel) % kTrendChannels];
}

TTrendChart::TTrendChart(const TTrend& Trend, QWidget* Parent) : QWidget(Parent), FTrend(Trend) {
  setMinimumSize(320, 180);
}

void TTrendChart::SetSpan(TTrendSpan Span) {
  FSpan = Span;
  update();
}

void TTrendChart::SetShown(int Channel, bool Shown) {
  FShown[static_cast<std::size_t>(Channel)] = Shown;
  update();
}

void TTrendChart::SetOwnScales(bool OwnScales) {
  FOwnScales = OwnScales;
  update();
}

void TTrendChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Render(painter, rect());
}

void TTrendChart::Render(QPainter& Painter, const QRect& Area) const {
  Painter.save();
  Painter.fillRect(Area, Qt::white);
  Painter.setFont(font());
  const QFontMetrics metrics(font());
  const QRectF plot = QRectF(Area).adjusted(kLeftMargin, kTopMargin, -kRightMargin, -kBottomMargin);
  const TTrendColumns columns = FTrend.Columns(FSpan, static_cast<int>(plot.width()), FShown);
  const std::int64_t oldest = columns.From;
  const std::int64_t newest = columns.To;
  const double timeScale =
      plot.width() / static_cast<double>(std::max<std::int64_t>(newest - oldest, 1));

  if (newest > oldest) {
    const std::int64_t timeStep = TimeStepMs(newest - oldest);
    for (std::int64_t tickMs = (oldest / timeStep + 1) * timeStep; tickMs <= newest;
         tickMs += timeStep) {
      const double x = plot.left() + static_cast<double>(tickMs - oldest) * timeScale;
      Painter.setPen(kGridColor);
      Painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
      Painter.setPen(kAxisColor);
      const QString text =
          QDateTime::fromMSecsSinceEpoch(tickMs).toString(QStringLiteral("HH:mm:ss"));
      Painter.drawText(QRectF(x - 40, plot.bottom() + 4, 80, metrics.height()), Qt::AlignCenter,
                       text);
    }
  }

  std::vector<std::size_t> own;
  if (FOwnScales)
    for (std::size_t channel = 0; channel < kTrendChannels; ++channel)
      if (FShown[channel]) own.push_back(channel);
  if (own.empty()) {
    DrawBand(Painter, plot, columns, FShown, columns.Range, kAxisColor);
  } else {
    // Room between the bands for the value labels that stand out over their edges.
    const double gap = metrics.height() + 2;
    const double height = (plot.height() - gap * static_cast<double>(own.size() - 1)) /
                          static_cast<double>(own.size());
    for (std::size_t place = 0; place < own.size(); ++place) {
      const std::size_t channel = own[place];
      const QRectF band(plot.left(), plot.top() + static_cast<double>(place) * (height + gap),
                        plot.width(), height);
      std::array<bool, kTrendChannels> only{};
      only[channel] = true;
      DrawBand(Painter, band, columns, only, columns.ChannelRanges[channel],
               TrendColor(static_cast<int>(channel)));
    }
  }
  Painter.restore();
}

void TTrendChart::DrawBand(QPainter& Painter, const QRectF& Band, const TTrendColumns& Columns,
                           const std::array<bool, kTrendChannels>& Channels,
                           const std::optional<TTrendRange>& Range,
                           const QColor& LabelColor) const {
  // The values with a little room above and below.
  TTrendRange range = Range.value_or(TTrendRange{0, 1});
  if (range.Max - range.Min < 1e-9) {
    const double room = std::max(1.0, std::fabs(range.Max) * 0.05);
    range = {range.Min - room, range.Max + room};
  }
  const int ticks = std::clamp(static_cast<int>(Band.height() / kTickSpacing), 1, kValueTicks);
  const double step = NiceStep((range.Max - range.Min) / ticks);
  const double low = std::floor(range.Min / step) * step;
  const double high = std::ceil(range.Max / step) * step;
  const double valueScale = Band.height() / (high - low);
  const auto yOf = [&](double Value) { return Band.bottom() - (Value - low) * valueScale; };

  const QFontMetrics metrics(font());
  for (double value = low; value <= high + step / 2; value += step) {
    const double y = yOf(value);
    Painter.setPen(kGridColor);
    Painter.drawLine(QPointF(Band.left(), y), QPointF(Band.right(), y));
    Painter.setPen(LabelColor);
    const QString text = QString::number(std::fabs(value) < step / 1e6 ? 0.0 : value, 'g', 7);
    Painter.drawText(QRectF(Band.left() - kLeftMargin, y - metrics.height() / 2.0, kLeftMargin - 6,
                            metrics.height()),
                     Qt::AlignRight | Qt::AlignVCenter, text);
  }
  Painter.setPen(kAxisColor);
  Painter.setBrush(Qt::NoBrush);
  Painter.drawRect(Band);

  Painter.save();
  Painter.setClipRect(Band.adjusted(-2, -2, 2, 2));
  QPolygonF line;
  for (std::size_t channel = 0; channel < kTrendChannels; ++channel) {
    if (!Channels[channel]) continue;
    // A cosmetic pen of one pixel: the thicker, smoothed line costs more than the whole rest.
    Painter.setPen(QPen(TrendColor(static_cast<int>(channel)), 0));
    Painter.setBrush(TrendColor(static_cast<int>(channel)));
    for (std::size_t place = 0; place < Columns.Columns.size(); ++place) {
      const TTrendColumn& column = Columns.Columns[place][channel];
      // Columns without readings lie between two readings of a sparse span: the line runs on.
      if (!column.Valid) continue;
      if (column.BreakBefore) DrawLine(Painter, line);
      const double x = Band.left() + static_cast<double>(place) + 0.5;
      line << QPointF(x, yOf(column.First));
      if (column.Min != column.Max)
        line << QPointF(x, yOf(column.Min)) << QPointF(x, yOf(column.Max));
      line << QPointF(x, yOf(column.Last));
    }
    DrawLine(Painter, line);
  }
  Painter.restore();
}
