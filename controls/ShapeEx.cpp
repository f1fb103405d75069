#include "controls/ShapeEx.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

TShapeExColors ShapeExColors(const TShapeExColorSchema& Schema, const TShapeExState& State) {
  TShapeExColors colors;
  if (State.AllowDown && State.Down)
    colors = {Schema.DownBrushColor, Schema.DownFontColor, Schema.DownBorderColor};
  else if (State.MouseOver)
    colors = {Schema.OnMouseBrushColor, Schema.OnMouseFontColor, Schema.OnMouseBorderColor};
  else
    colors = {Schema.DefaultBrushColor, Schema.DefaultFontColor, Schema.DefaultBorderColor};
  if (!State.Enabled)
    colors = {Schema.DisabledBrushColor, Schema.DisabledFontColor, Schema.DisabledBorderColor};
  return colors;
}

TShapeExBox ShapeExFigureBox(int Width, int Height, int PenWidth, TShapeType Shape) {
  TShapeExBox box;
  box.Left = box.Top = PenWidth / 2;
  box.Width = Width - PenWidth + 1;
  box.Height = Height - PenWidth + 1;
  if (PenWidth == 0) {
    --box.Width;
    --box.Height;
  }
  if (Shape == stSquare || Shape == stRoundSquare || Shape == stCircle) {
    const int side = std::min(box.Width, box.Height);
    box.Left += (box.Width - side) / 2;
    box.Top += (box.Height - side) / 2;
    box.Width = box.Height = side;
  }
  return box;
}

QPoint ShapeExCaptionOrigin(const TShapeExBox& Box, int TextWidth, int TextHeight) {
  // Halves go to the even neighbour, as the default rounding mode does.
  const double left = std::nearbyint(Box.Left + Box.Width / 2.0 - TextWidth / 2.0);
  const double top = std::nearbyint(Box.Top + Box.Height / 2.0 - TextHeight / 2.0) - 1;
  return {static_cast<int>(left), static_cast<int>(top)};
}

bool ShapeExDownAfterClick(bool Down, bool AllowDown, bool AllowUp) {
  return Down ? !AllowUp : AllowDown;
}

TShapeEx::TShapeEx(QWidget* Parent) : QWidget(Parent) {
  resize(65, 65);
}

void TShapeEx::SetDown(bool Value) {
  if (Value == FDown) return;
  if (Value && FGroup != 0 && parentWidget()) {
    for (QObject* child : parentWidget()->children()) {
      auto* sibling = qobject_cast<TShapeEx*>(child);
      if (sibling && sibling != this && sibling->FGroup == FGroup) sibling->SetDown(false);
    }
  }
  FDown = Value;
  update();
}

void TShapeEx::ApplySchema() {
  if (!FColorSchema) return;
  // Plain assignments: the paint in progress uses them, no further repaint is wanted.
  const TShapeExColors colors =
      ShapeExColors(*FColorSchema, {FAllowDown, FDown, FMouseOver, isEnabled()});
  FBrushColor = colors.Brush;
  FFontColor = colors.Font;
  FPenColor = colors.Border;
}

void TShapeEx::paintEvent(QPaintEvent*) {
  ApplySchema();
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QPen pen(FPenColor);
  pen.setWidth(FPenWidth);
  pen.setJoinStyle(Qt::MiterJoin);
  painter.setPen(pen);
  painter.setBrush(FBrushColor);

  const TShapeExBox box = ShapeExFigureBox(width(), height(), FPenWidth, FShape);
  // The outline is centred on the path; an odd width needs the path on pixel centres so that
  // the figure covers exactly the box.
  const double offset = (FPenWidth == 0 || FPenWidth % 2 == 1) ? 0.5 : 0.0;
  const QRectF path(box.Left + offset, box.Top + offset, box.Width - 1, box.Height - 1);
  switch (FShape) {
    case stRectangle:
    case stSquare:
      painter.drawRect(path);
      break;
    case stRoundRect:
    case stRoundSquare:
      painter.drawRoundedRect(path, FRoundCorner / 2.0, FRoundCorner / 2.0);
      break;
    case stEllipse:
    case stCircle:
      painter.drawEllipse(path);
      break;
  }

  if (FCaption.isEmpty()) return;
  // Family and size only: the caption ignores the style of the widget's font.
  QFont captionFont(font().family());
  if (font().pointSizeF() > 0)
    captionFont.setPointSizeF(font().pointSizeF());
  else
    captionFont.setPixelSize(font().pixelSize());
  painter.setFont(captionFont);
  const QFontMetrics metrics(captionFont);
  const QPoint origin =
      ShapeExCaptionOrigin(box, metrics.horizontalAdvance(FCaption), metrics.height());
  painter.setPen(FFontColor);
  painter.setBackgroundMode(Qt::OpaqueMode);
  painter.setBackground(FBrushColor);
  painter.drawText(origin.x(), origin.y() + metrics.ascent(), FCaption);
}

void TShapeEx::enterEvent(QEnterEvent* Event) {
  QWidget::enterEvent(Event);
  FMouseOver = true;
  update();
}

void TShapeEx::leaveEvent(QEvent* Event) {
  QWidget::leaveEvent(Event);
  FMouseOver = false;
  update();
}

void TShapeEx::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(Event);
    return;
  }
  // Taken, so that the release comes back here.
  FPressed = true;
  Event->accept();
}

void TShapeEx::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton || !FPressed) {
    QWidget::mouseReleaseEvent(Event);
    return;
  }
  FPressed = false;
  Event->accept();
  OperatorClick(rect().contains(Event->position().toPoint()));
}

void TShapeEx::OperatorClick(bool ReleasedInside) {
  // The handler may close the page that holds this button.
  const QPointer<TShapeEx> self(this);
  if (ReleasedInside && OnClick) OnClick(this);
  if (!self) return;
  SetDown(ShapeExDownAfterClick(FDown, FAllowDown, FAllowUp));
}
