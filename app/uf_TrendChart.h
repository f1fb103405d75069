#pragma once
// The trend's chart: the four channels' values against time, drawn with QPainter. Each pixel
// column draws the smallest and largest value that fall in it, so a day of readings costs no
// more to draw than a minute's; a reading without a value ("-" or "OVR") breaks the line.
// With own scales each shown channel gets a band of its own, drawn across its own range with
// value labels in its colour, so a 0-16 bar channel beside one in the thousands is readable.
#include <QColor>
#include <QWidget>
#include <array>
#include <optional>

#include "app/uTrend.h"

QColor TrendColor(int Channel);

class TTrendChart : public QWidget {
 public:
  explicit TTrendChart(const TTrend& Trend, QWidget* Parent = nullptr);

  void SetSpan(TTrendSpan Span);
  TTrendSpan Span() const { return FSpan; }
  void SetShown(int Channel, bool Shown);
  const std::array<bool, kTrendChannels>& Shown() const { return FShown; }
  void SetOwnScales(bool OwnScales);
  bool OwnScales() const { return FOwnScales; }

  // Draws the chart into Area; also used without a screen.
  void Render(QPainter& Painter, const QRect& Area) const;

 protected:
  void paintEvent(QPaintEvent* Event) override;

 private:
  void DrawBand(QPainter& Painter, const QRectF& Band, const TTrendColumns& Columns,
                const std::array<bool, kTrendChannels>& Channels,
                const std::optional<TTrendRange>& Range, const QColor& LabelColor) const;

  const TTrend& FTrend;
  TTrendSpan FSpan = TTrendSpan::All;
  std::array<bool, kTrendChannels> FShown{true, true, true, true};
  bool FOwnScales = false;
};
