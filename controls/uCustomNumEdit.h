#pragma once
// The common part of the number fields: a line edit with arrow buttons at its right edge, a
// key filter that lets only number characters through, stepping by keys and buttons, and a
// check of the entry when the field is left.
#include <QColor>
#include <QLineEdit>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "controls/uUpDown.h"

class TMyCustomNumEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(bool UpDownEnable READ UpDownEnable WRITE SetUpDownEnable)
  Q_PROPERTY(QString ShowName READ ShowName WRITE SetShowName)
  Q_PROPERTY(QString RangeMessage READ RangeMessage WRITE SetRangeMessage)
  Q_PROPERTY(bool AutoCorrect READ AutoCorrect WRITE SetAutoCorrect)
  Q_PROPERTY(bool FailureBeep READ FailureBeep WRITE SetFailureBeep)
  Q_PROPERTY(bool EditorEnabled READ EditorEnabled WRITE SetEditorEnabled)
  Q_PROPERTY(bool Colored READ Colored WRITE SetColored)
  Q_PROPERTY(ushort PageMult READ PageMult WRITE SetPageMult)

 public:
  using TNotifyEvent = std::function<void(TMyCustomNumEdit* Sender)>;

  static inline const QColor kNegativeColor{128, 0, 0};
  static inline const QColor kPositiveColor{0, 0, 128};

  explicit TMyCustomNumEdit(QWidget* Parent = nullptr);

  // One step up (btNext) or down (btPrev); a page is PageMult steps, Ctrl makes it ten times
  // more.
  virtual void Step(TUDBtnType Direction, bool Page) = 0;
  // Writes the stored value into the text.
  virtual void ShowValue();
  // Accepts, corrects or refuses the text; false keeps the focus in the field.
  virtual bool CheckValue();
  // CheckValue of the number field that has the focus, for an action that does not take the
  // focus (a shape button): true when there is none or it did not refuse its entry.
  static bool CheckFocusedEntry();

  bool UpDownEnable() const { return FUpDownEnable; }
  void SetUpDownEnable(bool Value);
  QString ShowName() const { return FShowName; }
  void SetShowName(const QString& Value) { FShowName = Value; }
  // The refusal's text: %1 the field's name, %2 and %3 the bounds.
  QString RangeMessage() const { return FRangeMessage; }
  void SetRangeMessage(const QString& Value) { FRangeMessage = Value; }
  bool AutoCorrect() const { return FAutoCorrect; }
  void SetAutoCorrect(bool Value) { FAutoCorrect = Value; }
  bool FailureBeep() const { return FFailureBeep; }
  void SetFailureBeep(bool Value) { FFailureBeep = Value; }
  // Cut and paste are allowed only with this and not read-only.
  bool EditorEnabled() const { return FEditorEnabled; }
  void SetEditorEnabled(bool Value) { FEditorEnabled = Value; }
  // The text is dark red below 0, black at 0, dark blue above 0.
  bool Colored() const { return FColored; }
  void SetColored(bool Value);
  std::uint16_t PageMult() const { return FPageMult; }
  void SetPageMult(std::uint16_t Value) { FPageMult = Value; }

  TUpDown& UpDown() { return FUpDown; }
  QColor FontColor() const;

  // On every change of the text, typed or set; OnChangeText runs before OnChange.
  TNotifyEvent OnChangeText;
  TNotifyEvent OnChange;
  // After the field was left with an accepted entry.
  TNotifyEvent OnExit;

 protected:
  // Number of increments in one step.
  int StepCount(bool Page) const;
  // Colours the text by the sign of the value shown (only when Colored).
  void SetSignColor(double Value);
  // A refused entry: the range message with these bounds, the focus back and the text selected.
  void Refuse(const std::string& Min, const std::string& Max);
  // The beep of a wrong entry.
  static void Beep();
  std::string TextUtf8() const { return text().toStdString(); }

  // A typed character beyond digits and "-": true lets it pass (after mapping it).
  virtual bool MapExtraCharacter(QChar& Character) const;
  // Keys the subclass handles when pressed; true when taken.
  virtual bool HandleKeyDown(QKeyEvent* Event);

  void keyPressEvent(QKeyEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

 private:
  bool CanEdit() const { return FEditorEnabled && !isReadOnly(); }
  void PlaceUpDown();
  void UpDownClick(TUDBtnType Button, Qt::KeyboardModifiers Modifiers);
  void StepWith(TUDBtnType Direction, bool Page, Qt::KeyboardModifiers Modifiers);

  TUpDown FUpDown{this};
  bool FUpDownEnable = true;
  QString FShowName = QStringLiteral("Hodnota");
  QString FRangeMessage = QStringLiteral("%1 musí být v rozmezí od %2 do %3!");
  bool FAutoCorrect = true;
  bool FFailureBeep = false;
  bool FEditorEnabled = true;
  bool FColored = false;
  std::uint16_t FPageMult = 10;
  // Modifiers of the key press or click that is stepping the value; without one the keyboard
  // is asked.
  std::optional<Qt::KeyboardModifiers> FInputModifiers;
  // Entered by a focus-in that was not undone by a focus-out since; a widget that is passed
  // over while another one takes the focus back sees a focus-out alone and checks nothing.
  bool FEntered = false;
  bool FLeaving = false;
  bool FRefused = false;  // the last check showed the range message
  // Entered by a click: its release selects the whole number, so typing replaces it.
  bool FSelectOnRelease = false;
};
