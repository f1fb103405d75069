#include "controls/uCustomNumEdit.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QStyle>
#include <memory>
#include <utility>

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

// The keys that step the value: up or down, by one step or by a page.
struct TStepKey {
  int Key;
  TUDBtnType Direction;
  bool Page;
};
constexpr TStepKey kStepKeys[] = {{Qt::Key_PageUp, btNext, true},
                                  {Qt::Key_PageDown, btPrev, true},
                                  {Qt::Key_Up, btNext, false},
                                  {Qt::Key_Down, btPrev, false}};

}  // namespace

TMyCustomNumEdit::TMyCustomNumEdit(QWidget* Parent) : QLineEdit(Parent) {
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
  const int increments = (modifiers & Qt::ControlModifier) ? 10 : 1;
  return Page ? increments * FPageMult : increments;
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

void TMyCustomNumEdit::keyPressEvent(QKeyEvent* Event) {
  for (const TStepKey& stepKey : kStepKeys)
    if (Event->key() == stepKey.Key) {
      StepWith(stepKey.Direction, stepKey.Page, Event->modifiers());
      return;
    }
  if (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) {
    CheckValue();
    return;
  }
  if (HandleKeyDown(Event)) return;

  // Copy and select all always; cut and paste by Shift+Delete, Ctrl+V and Shift+Insert only
  // while editing is allowed. Ctrl+X, Ctrl+Z and other control characters are swallowed.
  if (Event->matches(QKeySequence::SelectAll)) {
    selectAll();
    return;
  }
  if (Event->matches(QKeySequence::Copy)) {
    QLineEdit::keyPressEvent(Event);
    return;
  }
  if (Event->matches(QKeySequence::Paste) ||
      (Event->matches(QKeySequence::Cut) && Event->key() != Qt::Key_X)) {
    if (CanEdit()) QLineEdit::keyPressEvent(Event);
    return;
  }
  const int key = Event->key();
  if ((Event->modifiers() & Qt::ControlModifier) && key >= Qt::Key_Space &&
      key <= Qt::Key_AsciiTilde)
    return;

  // Keys without a character (moving, Delete, Escape) keep their usual meaning.
  const QString text = Event->text();
  if (text.isEmpty() || key == Qt::Key_Delete || key == Qt::Key_Escape ||
      key == Qt::Key_Backspace) {
    QLineEdit::keyPressEvent(Event);
    return;
  }
  if (text.size() != 1) return;
  QChar character = text.front();
  if ((character >= QLatin1Char('0') && character <= QLatin1Char('9')) ||
      character == QLatin1Char('-')) {
    QLineEdit::keyPressEvent(Event);
    return;
  }
  if (MapExtraCharacter(character)) {
    QKeyEvent mapped(Event->type(), Event->key(), Event->modifiers(), QString(character),
                     Event->isAutoRepeat(), Event->count());
    QLineEdit::keyPressEvent(&mapped);
  }
}

void TMyCustomNumEdit::focusInEvent(QFocusEvent* Event) {
  FEntered = true;
  FSelectOnRelease = Event->reason() == Qt::MouseFocusReason;
  QLineEdit::focusInEvent(Event);
}

void TMyCustomNumEdit::focusOutEvent(QFocusEvent* Event) {
  // Another window coming to the front (such as the range message) does not leave the field.
  const bool leaving =
      Event->reason() != Qt::ActiveWindowFocusReason && Event->reason() != Qt::PopupFocusReason;
  if (!leaving || !FEntered || FLeaving) {
    QLineEdit::focusOutEvent(Event);
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
    QLineEdit::focusOutEvent(Event);
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

void TMyCustomNumEdit::resizeEvent(QResizeEvent* Event) {
  QLineEdit::resizeEvent(Event);
  PlaceUpDown();
}

void TMyCustomNumEdit::contextMenuEvent(QContextMenuEvent* Event) {
  if (CanEdit() || isReadOnly()) {
    QLineEdit::contextMenuEvent(Event);
    return;
  }
  // Without cut and paste: the menu that a read-only field gets.
  setReadOnly(true);
  const std::unique_ptr<QMenu> menu(createStandardContextMenu());
  setReadOnly(false);
  menu->exec(Event->globalPos());
}

void TMyCustomNumEdit::mouseReleaseEvent(QMouseEvent* Event) {
  // The middle button pastes the selection.
  if (Event->button() == Qt::MiddleButton && !CanEdit()) {
    Event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(Event);
  // A number is replaced more often than edited; a drag that selected part of it stands.
  if (std::exchange(FSelectOnRelease, false) && !hasSelectedText()) selectAll();
}
