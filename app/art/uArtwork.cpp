#include "app/art/uArtwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace {

const QColor kHousing{246, 243, 238};
const QColor kHousingEdge{135, 109, 98};
const QColor kFace{214, 197, 181};
const QColor kText{135, 109, 98};

// The DIN-rail housing shared by every module: body, front strip with the model name, four
// channel lamps and the terminal row along the top.
void DrawHousing(QPainter& P, const QString& Model, const QColor& Accent) {
  const QRectF Body(30.5, 8.5, 106, 84);
  QLinearGradient Shade(Body.topLeft(), Body.topRight());
  Shade.setColorAt(0, kHousing);
  Shade.setColorAt(1, QColor(228, 222, 214));
  P.setPen(QPen(kHousingEdge, 1.2));
  P.setBrush(Shade);
  P.drawRoundedRect(Body, 6, 6);
  // Terminal row: eight screws.
  P.setBrush(QColor(190, 180, 170));
  for (int I = 0; I < 8; ++I) P.drawEllipse(QRectF(36.5 + I * 12.2, 12.5, 7, 7));
  // Front strip.
  const QRectF Front(38.5, 26.5, 90, 34);
  P.setBrush(kFace);
  P.drawRoundedRect(Front, 3, 3);
  P.setBrush(Accent);
  P.setPen(Qt::NoPen);
  P.drawRect(QRectF(39, 27, 6, 33));
  QFont F(QStringLiteral("Trebuchet MS"));
  F.setPixelSize(12);
  F.setBold(true);
  P.setFont(F);
  P.setPen(kText);
  P.drawText(Front.adjusted(8, 0, 0, -12), Qt::AlignCenter, Model);
  F.setPixelSize(8);
  F.setBold(false);
  P.setFont(F);
  P.drawText(Front.adjusted(8, 18, 0, 0), Qt::AlignCenter, QStringLiteral("KVX  4 AI"));
  // Channel lamps.
  for (int I = 0; I < 4; ++I) {
    P.setPen(QPen(kHousingEdge, 0.8));
    P.setBrush(I == 0 ? QColor(90, 190, 90) : QColor(170, 215, 170));
    P.drawEllipse(QRectF(46 + I * 20, 66, 6, 6));
  }
}

void DrawUsbPlug(QPainter& P) {
  P.setPen(QPen(kHousingEdge, 1));
  P.setBrush(QColor(200, 200, 205));
  P.drawRect(QRectF(72.5, 78.5, 22, 9));
  P.setBrush(QColor(60, 60, 70));
  P.drawRect(QRectF(76.5, 81.5, 14, 3));
  // Cable to the right.
  P.setPen(QPen(QColor(60, 60, 70), 3, Qt::SolidLine, Qt::RoundCap));
  QPainterPath Cable(QPointF(95, 83));
  Cable.cubicTo(QPointF(130, 83), QPointF(140, 60), QPointF(160, 58));
  P.setBrush(Qt::NoBrush);
  P.drawPath(Cable);
}

void DrawSerialTerminals(QPainter& P) {
  P.setPen(QPen(kHousingEdge, 1));
  P.setBrush(QColor(60, 140, 80));
  P.drawRect(QRectF(62.5, 76.5, 42, 11));
  P.setBrush(QColor(190, 180, 170));
  for (int I = 0; I < 4; ++I) P.drawEllipse(QRectF(65.5 + I * 10, 78.5, 7, 7));
  // Twisted pair to the right.
  P.setBrush(Qt::NoBrush);
  P.setPen(QPen(QColor(60, 60, 70), 2, Qt::SolidLine, Qt::RoundCap));
  QPainterPath A(QPointF(105, 80));
  A.cubicTo(QPointF(135, 80), QPointF(140, 60), QPointF(160, 57));
  P.drawPath(A);
  P.setPen(QPen(QColor(200, 60, 50), 2, Qt::SolidLine, Qt::RoundCap));
  QPainterPath B(QPointF(105, 84));
  B.cubicTo(QPointF(138, 84), QPointF(143, 64), QPointF(160, 62));
  P.drawPath(B);
}

void DrawNovraDisplay(QPainter& P) {
  P.setPen(QPen(kHousingEdge, 1));
  P.setBrush(QColor(30, 40, 35));
  P.drawRoundedRect(QRectF(58.5, 75.5, 50, 13), 2, 2);
  QFont F(QStringLiteral("DejaVu Sans Mono"));
  F.setPixelSize(10);
  F.setBold(true);
  P.setFont(F);
  P.setPen(QColor(240, 90, 60));
  P.drawText(QRectF(58, 75, 50, 13), Qt::AlignCenter, QStringLiteral("12.34"));
}

void DrawQuestion(QPainter& P) {
  P.setPen(QPen(kHousingEdge, 1));
  P.setBrush(Qt::white);
  P.drawEllipse(QRectF(75.5, 74.5, 16, 16));
  QFont F(QStringLiteral("Trebuchet MS"));
  F.setPixelSize(12);
  F.setBold(true);
  P.setFont(F);
  P.setPen(kText);
  P.drawText(QRectF(75, 74, 17, 17), Qt::AlignCenter, QStringLiteral("?"));
}

}  // namespace

QPixmap ModulePicture(TModuleArt Kind) {
  QPixmap Picture(ModuleArtWidth, ModuleArtHeight);
  Picture.fill(Qt::white);
  QPainter P(&Picture);
  P.setRenderHint(QPainter::Antialiasing);
  switch (Kind) {
    case TModuleArt::Usb:
      DrawHousing(P, QStringLiteral("DAZAZE"), QColor(40, 110, 170));
      DrawUsbPlug(P);
      break;
    case TModuleArt::Rs:
      DrawHousing(P, QStringLiteral("VIROD"), QColor(60, 140, 80));
      DrawSerialTerminals(P);
      break;
    case TModuleArt::Novra:
      DrawHousing(P, QStringLiteral("NOVRA"), QColor(200, 60, 50));
      DrawNovraDisplay(P);
      break;
    case TModuleArt::Unknown:
      DrawHousing(P, QStringLiteral("KVX"), kFace.darker(130));
      DrawQuestion(P);
      break;
  }
  return Picture;
}

QPixmap FlagImage(int Index) {
  QPixmap Flag(16, 16);
  Flag.fill(Qt::transparent);
  QPainter P(&Flag);
  const QRectF Cloth(0, 3, 16, 10);
  if (Index == 0) {
    // White over red, a blue wedge from the hoist to the middle.
    P.fillRect(QRectF(0, 3, 16, 5), Qt::white);
    P.fillRect(QRectF(0, 8, 16, 5), QColor(215, 20, 26));
    P.setRenderHint(QPainter::Antialiasing);
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(17, 69, 126));
    P.drawPolygon(QPolygonF({QPointF(0, 3), QPointF(8, 8), QPointF(0, 13)}));
  } else if (Index == 1) {
    // Blue field, white and red saltires, white and red crosses, thin enough at this size
    // to leave the blue showing.
    P.fillRect(Cloth, QColor(1, 33, 105));
    P.setClipRect(Cloth);
    P.setRenderHint(QPainter::Antialiasing);
    P.setPen(QPen(Qt::white, 1.6));
    P.drawLine(QPointF(0, 3), QPointF(16, 13));
    P.drawLine(QPointF(0, 13), QPointF(16, 3));
    P.setPen(QPen(QColor(200, 16, 46), 0.6));
    P.drawLine(QPointF(0, 3), QPointF(16, 13));
    P.drawLine(QPointF(0, 13), QPointF(16, 3));
    P.fillRect(QRectF(6.5, 3, 3, 10), Qt::white);
    P.fillRect(QRectF(0, 6.5, 16, 3), Qt::white);
    P.fillRect(QRectF(7, 3, 2, 10), QColor(200, 16, 46));
    P.fillRect(QRectF(0, 7, 16, 2), QColor(200, 16, 46));
  }
  if (Index == 0 || Index == 1) {
    P.setClipping(false);
    P.setRenderHint(QPainter::Antialiasing, false);
    P.setPen(QColor(120, 120, 120));
    P.setBrush(Qt::NoBrush);
    P.drawRect(QRectF(0, 3, 15, 9));
  }
  return Flag;
}
