#include "controls/uUpDown.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace {
constexpr int kRepeatDelayMs = 400;
constexpr int kRepeatIntervalMs = 80;
}  // namespace

TUpDown::TUpDown(QWidget* Parent) : QWidget(Parent) {
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
  resize(kDefaultWidth, 20);
  connect(&FRepeat, &QTimer::timeout, this, [this] {
    FRepeat.setInterval(kRepeatIntervalMs);
    Fire(QGuiApplication::keyboardModifiers());
  });
}

void TUpDown::SetRange(int Min, int Max) {
  FMin = Min;
  FMax = Max;
  if (!Active()) StopRepeat();
  update();
}

QRect TUpDown::ButtonRect(TUDBtnType Button) const {
  const int half = height() / 2;
  return Button == btNext ? QRect(0, 0, width(), half) : QRect(0, half, width(), height() - half);
}

TUDBtnType TUpDown::ButtonAt(const QPoint& Position) const {
  return Position.y() < height() / 2 ? btNext : btPrev;
}

void TUpDown::Fire(Qt::KeyboardModifiers Modifiers) {
  if (FPressed && Active() && OnClick) OnClick(*FPressed, Modifiers);
}

void TUpDown::StopRepeat() {
  FRepeat.stop();
  FPressed.reset();
}

void TUpDown::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton || !Active()) {
    QWidget::mousePressEvent(Event);
    return;
  }
  FPressed = ButtonAt(Event->position().toPoint());
  update();
  FRepeat.start(kRepeatDelayMs);
  Fire(Event->modifiers());
}

void TUpDown::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton) {
    StopRepeat();
    update();
  }
  QWidget::mouseReleaseEvent(Event);
}

void TUpDown::changeEvent(QEvent* Event) {
  if (Event->type() == QEvent::EnabledChange && !isEnabled()) StopRepeat();
  QWidget::changeEvent(Event);
}

void TUpDown::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  for (TUDBtnType button : {btNext, btPrev}) {
    QStyleOption option;
    option.initFrom(this);
    option.rect = ButtonRect(button);
    if (isEnabled() && Active())
      option.state |= QStyle::State_Enabled;
    else
      option.state &= ~QStyle::State_Enabled;
    option.state |= FPressed == button ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &option, &painter, this);
    option.rect = option.rect.adjusted(3, 2, -3, -2);
    style()->drawPrimitive(
        button == btNext ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, &option,
        &painter, this);
  }
}
