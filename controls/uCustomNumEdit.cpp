#include "controls/uCustomNumEdit.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QStyle>
#include <memory>

#include "support/uMessages.h"
#include "support/uStringUtils.h"

namespace {

// Sets a member for the duration of one event and clears it again.
class TScopedModifiers {
 public:
  TScopedModifiers(std::optional<Qt::KeyboardModifiers>& Target, Qt::KeyboardModifiers Value)
      : FTarget(Target) {
    FTarget = Value;
  }
  ~TScopedModifiers() { FTarget.reset(); }
  TScopedModifiers(const TScopedModifiers&) = delete;
  TScopedModifiers& operator=(const TScopedModifiers&) = delete;

 private:
  std::optional<Qt::KeyboardModifiers>& FTarget;
};

}  // namespace

TMyCustomNumEdit::TMyCustomNumEdit(QWidget* parent) : QLineEdit(parent) {
  // Dropped text would bypass the key filter.
  setAcceptDrops(false);
  FUpDown.resize(TUpDown::kDefaultWidth, FUpDown.height());
  FUpDown.SetRange(-32000, 32000);
  FUpDown.OnClick = [this](TUDBtnType Button, Qt::KeyboardModifiers Modifiers) {
    UpDownClick(Button, Modifiers);
  };
  // The text stops short of the arrow buttons.
  setTextMargins(0, 0, FUpDown.width() + 2, 0);
  PlaceUpDown();
  connect(this, &QLineEdit::textChanged, this, [this] {
    if (OnChangeText) OnChangeText(this);
    if (OnChange) OnChange(this);
  });
}

void TMyCustomNumEdit::ShowValue() {
  setText(QString());
}

bool TMyCustomNumEdit::CheckValue() {
  return true;
}

bool TMyCustomNumEdit::CheckFocusedEntry() {
  auto* edit = qobject_cast<TMyCustomNumEdit*>(QApplication::focusWidget());
  if (!edit || !edit->isVisible()) return true;
  // CheckValue's result tells only whether the text was a number; a number out of range is
  // refused all the same.
  edit->FRefused = false;
  edit->CheckValue();
  return !edit->FRefused;
}

void TMyCustomNumEdit::SetUpDownEnable(bool Value) {
  FUpDownEnable = Value;
  // An empty range leaves the buttons visible but inert.
  if (Value)
    FUpDown.SetRange(-100, 100);
  else
    FUpDown.SetRange(0, 0);
}

void TMyCustomNumEdit::SetColored(bool Value) {
  FColored = Value;
  if (!Value) {
    QPalette colours = palette();
    colours.setColor(QPalette::Text, Qt::black);
    setPalette(colours);
  }
  ShowValue();
}

QColor TMyCustomNumEdit::FontColor() const {
  return palette().color(QPalette::Text);
}

void TMyCustomNumEdit::SetSignColor(double Value) {
  if (!FColored) return;
  QPalette colours = palette();
  colours.setColor(QPalette::Text, Value < 0    ? kNegativeColor
                                   : Value == 0 ? QColor(Qt::black)
                                                : kPositiveColor);
  setPalette(colours);
}

int TMyCustomNumEdit::StepCount(bool Page) const {
  const Qt::KeyboardModifiers modifiers =
      FInputModifiers ? *FInputModifiers : QGuiApplication::queryKeyboardModifiers();
  const int n = (modifiers & Qt::ControlModifier) ? 10 : 1;
  return Page ? n * FPageMult : n;
}

void TMyCustomNumEdit::StepWith(TUDBtnType Direction, bool Page, Qt::KeyboardModifiers Modifiers) {
  const TScopedModifiers scope(FInputModifiers, Modifiers);
  Step(Direction, Page);
}

void TMyCustomNumEdit::UpDownClick(TUDBtnType Button, Qt::KeyboardModifiers Modifiers) {
  StepWith(Button, false, Modifiers);
  if ((focusPolicy() & Qt::TabFocus) && isEnabled() && isVisible()) setFocus(Qt::MouseFocusReason);
}

void TMyCustomNumEdit::Beep() {
  QApplication::beep();
}

void TMyCustomNumEdit::Refuse(const std::string& Min, const std::string& Max) {
  FRefused = true;
  ShowMessage(FillIn(FRangeMessage.toStdString(), {FShowName.toStdString(), Min, Max}));
  setFocus(Qt::OtherFocusReason);
  selectAll();
}

bool TMyCustomNumEdit::MapExtraCharacter(QChar&) const {
  return false;
}

bool TMyCustomNumEdit::HandleKeyDown(QKeyEvent*) {
  return false;
}

void TMyCustomNumEdit::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_PageUp:
      StepWith(btNext, true, event->modifiers());
      return;
    case Qt::Key_PageDown:
      StepWith(btPrev, true, event->modifiers());
      return;
    case Qt::Key_Up:
      StepWith(btNext, false, event->modifiers());
      return;
    case Qt::Key_Down:
      StepWith(btPrev, false, event->modifiers());
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      CheckValue();
      return;
    default:
      break;
  }
  if (HandleKeyDown(event)) return;

  // Copy always; cut and paste by Shift+Delete, Ctrl+V and Shift+Insert only while editing
  // is allowed. Ctrl+X, Ctrl+A, Ctrl+Z and other control characters are swallowed.
  if (event->matches(QKeySequence::Copy)) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  if (event->matches(QKeySequence::Paste) ||
      (event->matches(QKeySequence::Cut) && event->key() != Qt::Key_X)) {
    if (CanEdit()) QLineEdit::keyPressEvent(event);
    return;
  }
  const int key = event->key();
  if ((event->modifiers() & Qt::ControlModifier) && key >= Qt::Key_Space &&
      key <= Qt::Key_AsciiTilde)
    return;

  // Keys without a character (moving, Delete, Escape) keep their usual meaning.
  const QString text = event->text();
  if (text.isEmpty() || key == Qt::Key_Delete || key == Qt::Key_Escape ||
      key == Qt::Key_Backspace) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  if (text.size() != 1) return;
  QChar character = text.front();
  if ((character >= QLatin1Char('0') && character <= QLatin1Char('9')) ||
      character == QLatin1Char('-')) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  if (MapExtraCharacter(character)) {
    QKeyEvent mapped(event->type(), event->key(), event->modifiers(), QString(character),
                     event->isAutoRepeat(), event->count());
    QLineEdit::keyPressEvent(&mapped);
  }
}

void TMyCustomNumEdit::focusInEvent(QFocusEvent* event) {
  FEntered = true;
  QLineEdit::focusInEvent(event);
}

void TMyCustomNumEdit::focusOutEvent(QFocusEvent* event) {
  // Another window coming to the front (such as the range message) does not leave the field.
  const bool leaving =
      event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason;
  if (!leaving || !FEntered || FLeaving) {
    QLineEdit::focusOutEvent(event);
    return;
  }
  FLeaving = true;
  const bool accepted = CheckValue();
  FLeaving = false;
  if (!accepted) setFocus(Qt::OtherFocusReason);
  // A refused entry has taken the focus back: the text stays selected. The exit
  // notification still follows an accepted check (an integer out of range).
  if (!hasFocus()) {
    FEntered = false;
    QLineEdit::focusOutEvent(event);
  }
  if (accepted && OnExit) OnExit(this);
}

void TMyCustomNumEdit::PlaceUpDown() {
  if (FUpDown.isHidden()) return;
  // Flush with the inside of the frame, over the narrowed text rectangle's right margin.
  const int frame =
      hasFrame() ? style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) : 0;
  FUpDown.setGeometry(width() - FUpDown.width() - frame, frame, FUpDown.width(),
                      height() - 2 * frame);
}

void TMyCustomNumEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  PlaceUpDown();
}

void TMyCustomNumEdit::contextMenuEvent(QContextMenuEvent* event) {
  if (CanEdit() || isReadOnly()) {
    QLineEdit::contextMenuEvent(event);
    return;
  }
  // Without cut and paste: the menu that a read-only field gets.
  setReadOnly(true);
  const std::unique_ptr<QMenu> menu(createStandardContextMenu());
  setReadOnly(false);
  menu->exec(event->globalPos());
}

void TMyCustomNumEdit::mouseReleaseEvent(QMouseEvent* event) {
  // The middle button pastes the selection.
  if (event->button() == Qt::MiddleButton && !CanEdit()) {
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}
