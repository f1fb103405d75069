#include "app/art/uArtwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include "app/uWindowColors.h"
#include "app/uf_MainColors.h"
#include "app/uf_MainFonts.h"

namespace {

const QColor kHousing{246, 243, 238};
const QString kLetteringFamily = QString::fromLatin1(kWindowFontFamily);
const QColor kHousingEdge = ToQColor(kTextColor);
const QColor kFace = ToQColor(kFrameColor);
const QColor kText = ToQColor(kTextColor);

// Sets the lettering of the pictures: Family at PixelSize pixels.
void SetLettering(QPainter& Painter, const QString& Family, int PixelSize, bool Bold) {
  QFont font(Family);
  font.setPixelSize(PixelSize);
  font.setBold(Bold);
  Painter.setFont(font);
}

// The DIN-rail housing shared by every module: body, front strip with the model name, four
// channel lamps and the terminal row along the top.
void DrawHousing(QPainter& Painter, const QString& Model, const QColor& Accent) {
  const QRectF body(30.5, 8.5, 106, 84);
  QLinearGradient shade(body.topLeft(), body.topRight());
  shade.setColorAt(0, kHousing);
  shade.setColorAt(1, QColor(228, 222, 214));
  Painter.setPen(QPen(kHousingEdge, 1.2));
  Painter.setBrush(shade);
  Painter.drawRoundedRect(body, 6, 6);
  // Terminal row: eight screws.
  Painter.setBrush(QColor(190, 180, 170));
  for (int screw = 0; screw < 8; ++screw)
    Painter.drawEllipse(QRectF(36.5 + screw * 12.2, 12.5, 7, 7));
  // front strip.
  const QRectF front(38.5, 26.5, 90, 34);
  Painter.setBrush(kFace);
  Painter.drawRoundedRect(front, 3, 3);
  Painter.setBrush(Accent);
  Painter.setPen(Qt::NoPen);
  Painter.drawRect(QRectF(39, 27, 6, 33));
  SetLettering(Painter, kLetteringFamily, 12, true);
  Painter.setPen(kText);
  Painter.drawText(front.adjusted(8, 0, 0, -12), Qt::AlignCenter, Model);
  SetLettering(Painter, kLetteringFamily, 8, false);
  Painter.drawText(front.adjusted(8, 18, 0, 0), Qt::AlignCenter, QStringLiteral("KVX  4 AI"));
  // Channel lamps.
  for (int lamp = 0; lamp < 4; ++lamp) {
    Painter.setPen(QPen(kHousingEdge, 0.8));
    Painter.setBrush(lamp == 0 ? QColor(90, 190, 90) : QColor(170, 215, 170));
    Painter.drawEllipse(QRectF(46 + lamp * 20, 66, 6, 6));
  }
}

void DrawUsbPlug(QPainter& Painter) {
  Painter.setPen(QPen(kHousingEdge, 1));
  Painter.setBrush(QColor(200, 200, 205));
  Painter.drawRect(QRectF(72.5, 78.5, 22, 9));
  Painter.setBrush(QColor(60, 60, 70));
  Painter.drawRect(QRectF(76.5, 81.5, 14, 3));
  // cable to the right.
  Painter.setPen(QPen(QColor(60, 60, 70), 3, Qt::SolidLine, Qt::RoundCap));
  QPainterPath cable(QPointF(95, 83));
  cable.cubicTo(QPointF(130, 83), QPointF(140, 60), QPointF(160, 58));
  Painter.setBrush(Qt::NoBrush);
  Painter.drawPath(cable);
}

void DrawSerialTerminals(QPainter& Painter) {
  Painter.setPen(QPen(kHousingEdge, 1));
  Painter.setBrush(QColor(60, 140, 80));
  Painter.drawRect(QRectF(62.5, 76.5, 42, 11));
  Painter.setBrush(QColor(190, 180, 170));
  for (int terminal = 0; terminal < 4; ++terminal)
    Painter.drawEllipse(QRectF(65.5 + terminal * 10, 78.5, 7, 7));
  // Twisted pair to the right.
  Painter.setBrush(Qt::NoBrush);
  Painter.setPen(QPen(QColor(60, 60, 70), 2, Qt::SolidLine, Qt::RoundCap));
  QPainterPath darkWire(QPointF(105, 80));
  darkWire.cubicTo(QPointF(135, 80), QPointF(140, 60), QPointF(160, 57));
  Painter.drawPath(darkWire);
  Painter.setPen(QPen(QColor(200, 60, 50), 2, Qt::SolidLine, Qt::RoundCap));
  QPainterPath redWire(QPointF(105, 84));
  redWire.cubicTo(QPointF(138, 84), QPointF(143, 64), QPointF(160, 62));
  Painter.drawPath(redWire);
}

void DrawNovraDisplay(QPainter& Painter) {
  Painter.setPen(QPen(kHousingEdge, 1));
  Painter.setBrush(QColor(30, 40, 35));
  Painter.drawRoundedRect(QRectF(58.5, 75.5, 50, 13), 2, 2);
  SetLettering(Painter, QStringLiteral("DejaVu Sans Mono"), 10, true);
  Painter.setPen(QColor(240, 90, 60));
  Painter.drawText(QRectF(58, 75, 50, 13), Qt::AlignCenter, QStringLiteral("12.34"));
}

void DrawQuestion(QPainter& Painter) {
  Painter.setPen(QPen(kHousingEdge, 1));
  Painter.setBrush(Qt::white);
  Painter.drawEllipse(QRectF(75.5, 74.5, 16, 16));
  SetLettering(Painter, kLetteringFamily, 12, true);
  Painter.setPen(kText);
  Painter.drawText(QRectF(75, 74, 17, 17), Qt::AlignCenter, QStringLiteral("?"));
}

}  // namespace

QPixmap ModulePicture(TModuleArt Kind) {
  QPixmap picture(ModuleArtWidth, ModuleArtHeight);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  switch (Kind) {
    case TModuleArt::Usb:
      DrawHousing(painter, QStringLiteral("DAZAZE"), QColor(40, 110, 170));
      DrawUsbPlug(painter);
      break;
    case TModuleArt::Rs:
      DrawHousing(painter, QStringLiteral("VIROD"), QColor(60, 140, 80));
      DrawSerialTerminals(painter);
      break;
    case TModuleArt::Novra:
      DrawHousing(painter, QStringLiteral("NOVRA"), QColor(200, 60, 50));
      DrawNovraDisplay(painter);
      break;
    case TModuleArt::Unknown:
      DrawHousing(painter, QStringLiteral("KVX"), kFace.darker(130));
      DrawQuestion(painter);
      break;
  }
  return picture;
}

QPixmap FlagImage(int Index) {
  QPixmap flag(16, 16);
  flag.fill(Qt::transparent);
  QPainter painter(&flag);
  const QRectF cloth(0, 3, 16, 10);
  if (Index == 0) {
    // White over red, a blue wedge from the hoist to the middle.
    painter.fillRect(QRectF(0, 3, 16, 5), Qt::white);
    painter.fillRect(QRectF(0, 8, 16, 5), QColor(215, 20, 26));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(17, 69, 126));
    painter.drawPolygon(QPolygonF({QPointF(0, 3), QPointF(8, 8), QPointF(0, 13)}));
  } else if (Index == 1) {
    // Blue field, white and red saltires, white and red crosses, thin enough at this size
    // to leave the blue showing.
    painter.fillRect(cloth, QColor(1, 33, 105));
    painter.setClipRect(cloth);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 1.6));
    painter.drawLine(QPointF(0, 3), QPointF(16, 13));
    painter.drawLine(QPointF(0, 13), QPointF(16, 3));
    painter.setPen(QPen(QColor(200, 16, 46), 0.6));
    painter.drawLine(QPointF(0, 3), QPointF(16, 13));
    painter.drawLine(QPointF(0, 13), QPointF(16, 3));
    painter.fillRect(QRectF(6.5, 3, 3, 10), Qt::white);
    painter.fillRect(QRectF(0, 6.5, 16, 3), Qt::white);
    painter.fillRect(QRectF(7, 3, 2, 10), QColor(200, 16, 46));
    painter.fillRect(QRectF(0, 7, 16, 2), QColor(200, 16, 46));
  }
  if (Index == 0 || Index == 1) {
    painter.setClipping(false);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QColor(120, 120, 120));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(0, 3, 15, 9));
  }
  return flag;
}
