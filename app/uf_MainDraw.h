#pragma once
// The list items the window draws itself: the rows of the found modules, the items of the
// address list and the entries of the language list, and a combo box that shows its
// current item with the same drawing.
#include <QComboBox>
#include <QStringList>
#include <QStyledItemDelegate>
#include <string>

class TViewElement;

// The three fields of a found-module row ("model|interface|serial"); missing ones empty.
QStringList FoundModuleFields(const QString& Row);

// Found-module rows: the fields at 10, 150 and 300 pixels, 2 pixels below the row's top.
class TFoundModuleDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
             const QModelIndex& Index) const override;
  QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;
};

// What an address item shows: the address as a character of the window's code page (empty
// for control characters, which draw nothing useful), in decimal, and as "0x" + hex.
struct TAddressTexts {
  QString Character;
  QString Decimal;
  QString Hex;
};
TAddressTexts AddressTexts(int Address);
// Width an address item needs.
inline constexpr int AddressItemWidth = 175;

// Address items: small "asci:", "dec:", "hex:" captions, each followed by the address.
class TAddressDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
             const QModelIndex& Index) const override;
  QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;
};

// Language entries, drawn as the language list prescribes (name, font, flag and their
// places) for the entry's row of List.
class TLanguageDelegate : public QStyledItemDelegate {
 public:
  TLanguageDelegate(const TViewElement& List, QObject* Parent);
  void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
             const QModelIndex& Index) const override;
  QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;

 private:
  const TViewElement& FList;
};

// A drop-down list whose closed face shows the current item through the item delegate, as
// an owner-drawn list does.
class TOwnerDrawComboBox : public QComboBox {
 public:
  using QComboBox::QComboBox;

 protected:
  void paintEvent(QPaintEvent* Event) override;
};
