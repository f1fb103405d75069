#pragma once
// Drawn buttons, page tabs and panel frames: a filled, outlined shape with a centred caption,
// a click event and an optional "down" state shared within a group of sibling buttons.
#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <algorithm>
#include <functional>

// Twelve colours, one set per state; a button linked to a schema paints with them.
class TShapeExColorSchema : public QObject {
  Q_OBJECT
  Q_PROPERTY(QColor DefaultBrushColor MEMBER DefaultBrushColor)
  Q_PROPERTY(QColor DefaultFontColor MEMBER DefaultFontColor)
  Q_PROPERTY(QColor DefaultBorderColor MEMBER DefaultBorderColor)
  Q_PROPERTY(QColor OnMouseBrushColor MEMBER OnMouseBrushColor)
  Q_PROPERTY(QColor OnMouseFontColor MEMBER OnMouseFontColor)
  Q_PROPERTY(QColor OnMouseBorderColor MEMBER OnMouseBorderColor)
  Q_PROPERTY(QColor DownBorderColor MEMBER DownBorderColor)
  Q_PROPERTY(QColor DownFontColor MEMBER DownFontColor)
  Q_PROPERTY(QColor DownBrushColor MEMBER DownBrushColor)
  Q_PROPERTY(QColor DisabledBrushColor MEMBER DisabledBrushColor)
  Q_PROPERTY(QColor DisabledFontColor MEMBER DisabledFontColor)
  Q_PROPERTY(QColor DisabledBorderColor MEMBER DisabledBorderColor)

 public:
  explicit TShapeExColorSchema(QObject* Parent = nullptr) : QObject(Parent) {}

  QColor DefaultBrushColor{Qt::black};
  QColor DefaultFontColor{Qt::black};
  QColor DefaultBorderColor{Qt::black};
  QColor OnMouseBrushColor{Qt::black};
  QColor OnMouseFontColor{Qt::black};
  QColor OnMouseBorderColor{Qt::black};
  QColor DownBorderColor{Qt::black};
  QColor DownFontColor{Qt::black};
  QColor DownBrushColor{Qt::black};
  QColor DisabledBrushColor{Qt::black};
  QColor DisabledFontColor{Qt::black};
  QColor DisabledBorderColor{Qt::black};
};

enum TShapeType { stRectangle, stSquare, stRoundRect, stRoundSquare, stEllipse, stCircle };

// Fill, caption and outline colour of one paint.
struct TShapeExColors {
  QColor Brush;
  QColor Font;
  QColor Border;
  bool operator==(const TShapeExColors&) const = default;
};

// The state a button is painted in.
struct TShapeExState {
  bool AllowDown = false;
  bool Down = false;
  bool MouseOver = false;
  bool Enabled = true;
};

// Colours the schema gives for a state: down (only with AllowDown), else pointer over, else
// normal; disabled overrides all. A down button's outline takes DownBorderColor.
TShapeExColors ShapeExColors(const TShapeExColorSchema& Schema, const TShapeExState& State);

// The figure's box, right and bottom edges exclusive.
struct TShapeExBox {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool operator==(const TShapeExBox&) const = default;
};

// Box of the figure in a control of Width x Height with a pen of PenWidth pixels; the square
// kinds are centred in it.
TShapeExBox ShapeExFigureBox(int Width, int Height, int PenWidth, TShapeType Shape);

// Top-left corner of a caption of TextWidth x TextHeight centred in Box.
QPoint ShapeExCaptionOrigin(const TShapeExBox& Box, int TextWidth, int TextHeight);

// The down state a click leaves: a down button goes up when AllowUp, an up one goes down when
// AllowDown; otherwise it stays as it is.
bool ShapeExDownAfterClick(bool Down, bool AllowDown, bool AllowUp);

class TShapeEx : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(int RoundCorner READ RoundCorner WRITE SetRoundCorner)
  Q_PROPERTY(TShapeExColorSchema* ColorSchema READ ColorSchema WRITE SetColorSchema)
  Q_PROPERTY(QColor FontColor READ FontColor WRITE SetFontColor)
  Q_PROPERTY(bool Down READ Down WRITE SetDown)
  Q_PROPERTY(int Group READ Group WRITE SetGroup)
  Q_PROPERTY(bool AllowDown READ AllowDown WRITE SetAllowDown)
  Q_PROPERTY(bool AllowUp READ AllowUp WRITE SetAllowUp)

 public:
  using TClickEvent = std::function<void(TShapeEx* Sender)>;

  explicit TShapeEx(QWidget* Parent = nullptr);

  TShapeType Shape() const { return FShape; }
  void SetShape(TShapeType Value) { Assign(FShape, Value); }
  QColor BrushColor() const { return FBrushColor; }
  void SetBrushColor(const QColor& Value) { Assign(FBrushColor, Value); }
  QColor PenColor() const { return FPenColor; }
  void SetPenColor(const QColor& Value) { Assign(FPenColor, Value); }
  int PenWidth() const { return FPenWidth; }
  void SetPenWidth(int Value) { Assign(FPenWidth, std::max(0, Value)); }
  // The caption's colour; family and size come from font().
  QColor FontColor() const { return FFontColor; }
  void SetFontColor(const QColor& Value) { Assign(FFontColor, Value); }

  int RoundCorner() const { return FRoundCorner; }
  void SetRoundCorner(int Value) { Assign(FRoundCorner, Value); }
  // Not owned; a schema destroyed elsewhere unlinks itself.
  TShapeExColorSchema* ColorSchema() const { return FColorSchema; }
  void SetColorSchema(TShapeExColorSchema* Value) {
    Assign(FColorSchema, QPointer<TShapeExColorSchema>(Value));
  }
  QString Caption() const { return FCaption; }
  void SetCaption(const QString& Value) { Assign(FCaption, Value); }
  bool Down() const { return FDown; }
  // Putting a grouped button down first releases the other buttons of its group under the
  // same parent. Raises no event.
  void SetDown(bool Value);
  int Group() const { return FGroup; }
  void SetGroup(int Value) { FGroup = Value; }
  bool AllowDown() const { return FAllowDown; }
  void SetAllowDown(bool Value) { Assign(FAllowDown, Value); }
  bool AllowUp() const { return FAllowUp; }
  void SetAllowUp(bool Value) { FAllowUp = Value; }
  bool MouseOver() const { return FMouseOver; }

  TClickEvent OnClick;

  QSize sizeHint() const override { return {65, 65}; }

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  // The operator's click: the left button released after it was pressed on this button,
  // over it (ReleasedInside) or beside it. Runs OnClick when released over it, then goes
  // down or up as ShapeExDownAfterClick says.
  virtual void OperatorClick(bool ReleasedInside);

 private:
  void ApplySchema();
  // Stores a property's new value and repaints.
  template <class TValue>
  void Assign(TValue& Field, const TValue& Value) {
    Field = Value;
    update();
  }

  TShapeType FShape = stRectangle;
  QColor FBrushColor{Qt::white};
  QColor FPenColor{Qt::black};
  int FPenWidth = 1;
  QColor FFontColor{Qt::black};
  int FRoundCorner = 0;
  QPointer<TShapeExColorSchema> FColorSchema;
  QString FCaption;
  bool FDown = false;
  int FGroup = 0;
  bool FAllowDown = false;
  bool FAllowUp = false;
  bool FMouseOver = false;
  bool FPressed = false;
};
