#pragma once
// A pair of arrow buttons, "next" on top and "previous" below, reporting every press (and
// repeating while held). With an empty range (minimum equal to maximum) the buttons stay
// visible but do nothing.
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>

enum TUDBtnType { btNext = 0, btPrev = 1 };

class TUpDown : public QWidget {
  Q_OBJECT

 public:
  using TClickEvent = std::function<void(TUDBtnType Button, Qt::KeyboardModifiers Modifiers)>;

  static constexpr int kDefaultWidth = 16;

  explicit TUpDown(QWidget* Parent = nullptr);

  void SetRange(int Min, int Max);
  bool Active() const { return FMin != FMax; }

  TClickEvent OnClick;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void changeEvent(QEvent* Event) override;

 private:
  TUDBtnType ButtonAt(const QPoint& Position) const;
  QRect ButtonRect(TUDBtnType Button) const;
  void Fire(Qt::KeyboardModifiers Modifiers);
  void StopRepeat();

  int FMin = 0;
  int FMax = 0;
  std::optional<TUDBtnType> FPressed;
  QTimer FRepeat;
};
