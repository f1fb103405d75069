#include "app/uf_MainDraw.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <algorithm>

#include "app/art/uArtwork.h"
#include "lang/uLanguageSelector.h"
#include "support/uCodePage.h"
#include "support/uConversionUtils.h"

namespace {

constexpr int kItemHeight = 18;

// Clears an item's rectangle and sets the pen to the matching text colour.
void ClearItem(QPainter& P, const QStyleOptionViewItem& Option) {
  const bool Selected = Option.state & QStyle::State_Selected;
  P.fillRect(Option.rect, Option.palette.brush(Selected ? QPalette::Highlight : QPalette::Base));
  P.setPen(Option.palette.color(Selected ? QPalette::HighlightedText : QPalette::Text));
}

// Writes Text with its top-left corner at (X, Y).
void TextAt(QPainter& P, int X, int Y, const QString& Text) {
  const QFontMetrics Metrics(P.font());
  P.drawText(X, Y + Metrics.ascent(), Text);
}

}  // namespace

QFont WindowFont(int PointSize) {
  QFont Font(QStringLiteral("Trebuchet MS"), PointSize);
  Font.setStyleHint(QFont::SansSerif);
  return Font;
}

QStringList FoundModuleFields(const QString& Row) {
  QStringList Fields = Row.split(QLatin1Char('|'));
  while (Fields.size() < 3) Fields.append(QString());
  return Fields.mid(0, 3);
}

void TFoundModuleDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                                 const QModelIndex& Index) const {
  Painter->save();
  ClearItem(*Painter, Option);
  Painter->setFont(Option.font);
  const QStringList Fields = FoundModuleFields(Index.data().toString());
  const int Columns[3] = {10, 150, 300};
  for (int I = 0; I < 3; ++I)
    TextAt(*Painter, Option.rect.left() + Columns[I], Option.rect.top() + 2, Fields[I]);
  Painter->restore();
}

QSize TFoundModuleDelegate::sizeHint(const QStyleOptionViewItem& Option, const QModelIndex&) const {
  return {Option.rect.width(), QFontMetrics(Option.font).height() + 4};
}

TAddressTexts AddressTexts(int Address) {
  TAddressTexts Texts;
  if (Address >= 0x20 && Address != 0x7F && Address <= 0xFF) {
    Texts.Character =
        QString::fromStdString(Cp1250ToUtf8(Byte(static_cast<std::uint8_t>(Address))));
  }
  Texts.Decimal = QString::number(Address);
  Texts.Hex = QStringLiteral("0x") +
              QString::number(Address, 16).rightJustified(2, QLatin1Char('0')).toUpper();
  return Texts;
}

void TAddressDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                             const QModelIndex& Index) const {
  Painter->save();
  ClearItem(*Painter, Option);
  const int X = Option.rect.left();
  const int Y = Option.rect.top();
  Painter->setFont(WindowFont(7));
  TextAt(*Painter, X + 5, Y + 3, QStringLiteral("asci:"));
  TextAt(*Painter, X + 50, Y + 3, QStringLiteral("dec:"));
  TextAt(*Painter, X + 105, Y + 3, QStringLiteral("hex:"));
  const TAddressTexts Texts = AddressTexts(Index.row());
  Painter->setFont(WindowFont(10));
  TextAt(*Painter, X + 30, Y, Texts.Character);
  TextAt(*Painter, X + 70, Y, Texts.Decimal);
  TextAt(*Painter, X + 130, Y, Texts.Hex);
  Painter->restore();
}

QSize TAddressDelegate::sizeHint(const QStyleOptionViewItem& Option, const QModelIndex&) const {
  return {std::max(Option.rect.width(), AddressItemWidth), kItemHeight + 2};
}

TLanguageDelegate::TLanguageDelegate(const TViewElement& List, QObject* Parent)
    : QStyledItemDelegate(Parent), FList(List) {}

void TLanguageDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                              const QModelIndex& Index) const {
  const QRect R = Option.rect;
  const TLanguageDrawItem Item =
      cbbLanguageDrawItem(FList, Index.row(), {R.left(), R.top(), R.width(), R.height()});
  Painter->save();
  ClearItem(*Painter, Option);
  QFont Font(QString::fromStdString(Item.FontName), Item.FontSize);
  Font.setStyleHint(QFont::SansSerif);
  Painter->setFont(Font);
  TextAt(*Painter, Item.TextLeft, Item.TextTop, QString::fromStdString(Item.Text));
  if (Item.ImageIndex >= 0)
    Painter->drawPixmap(Item.ImageLeft, Item.ImageTop, FlagImage(Item.ImageIndex));
  Painter->restore();
}

QSize TLanguageDelegate::sizeHint(const QStyleOptionViewItem& Option, const QModelIndex&) const {
  return {Option.rect.width(), kItemHeight};
}

void TOwnerDrawComboBox::paintEvent(QPaintEvent*) {
  QStylePainter Painter(this);
  QStyleOptionComboBox Frame;
  initStyleOption(&Frame);
  Frame.currentText.clear();
  Frame.currentIcon = QIcon();
  Painter.drawComplexControl(QStyle::CC_ComboBox, Frame);
  if (currentIndex() < 0) return;
  QStyleOptionViewItem Item;
  Item.initFrom(this);
  Item.rect =
      style()->subControlRect(QStyle::CC_ComboBox, &Frame, QStyle::SC_ComboBoxEditField, this);
  Item.font = font();
  Item.state &= ~QStyle::State_Selected;
  if (!isEnabled()) Item.palette.setCurrentColorGroup(QPalette::Disabled);
  Item.palette.setBrush(QPalette::Base, palette().brush(QPalette::Base));
  view()->itemDelegate()->paint(&Painter, Item, model()->index(currentIndex(), modelColumn()));
}
