#include "app/uf_MainDraw.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <algorithm>

#include "app/art/uArtwork.h"
#include "app/uf_MainFonts.h"
#include "lang/uLanguageSelector.h"
#include "support/uCodePage.h"
#include "support/uConversionUtils.h"

namespace {

constexpr int kItemHeight = 18;

// Clears an item's rectangle and sets the pen to the matching text colour.
void ClearItem(QPainter& Painter, const QStyleOptionViewItem& Option) {
  const bool selected = Option.state & QStyle::State_Selected;
  Painter.fillRect(Option.rect,
                   Option.palette.brush(selected ? QPalette::Highlight : QPalette::Base));
  Painter.setPen(Option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
}

// Writes Words with their top-left corner at (Left, Top).
void WriteAt(QPainter& Painter, int Left, int Top, const QString& Words) {
  const QFontMetrics metrics(Painter.font());
  Painter.drawText(Left, Top + metrics.ascent(), Words);
}

}  // namespace

QStringList FoundModuleFields(const QString& Row) {
  QStringList fields = Row.split(QLatin1Char('|'));
  while (fields.size() < 3) fields.append(QString());
  return fields.mid(0, 3);
}

void TFoundModuleDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                                 const QModelIndex& Index) const {
  Painter->save();
  ClearItem(*Painter, Option);
  Painter->setFont(Option.font);
  const QStringList fields = FoundModuleFields(Index.data().toString());
  const int columns[3] = {10, 150, 300};
  for (int column = 0; column < 3; ++column)
    WriteAt(*Painter, Option.rect.left() + columns[column], Option.rect.top() + 2, fields[column]);
  Painter->restore();
}

QSize TFoundModuleDelegate::sizeHint(const QStyleOptionViewItem& Option, const QModelIndex&) const {
  return {Option.rect.width(), QFontMetrics(Option.font).height() + 4};
}

TAddressTexts AddressTexts(int Address) {
  TAddressTexts texts;
  if (Address >= 0x20 && Address != 0x7F && Address <= 0xFF) {
    texts.Character =
        QString::fromStdString(Cp1250ToUtf8(Byte(static_cast<std::uint8_t>(Address))));
  }
  texts.Decimal = QString::number(Address);
  texts.Hex = QStringLiteral("0x") +
              QString::number(Address, 16).rightJustified(2, QLatin1Char('0')).toUpper();
  return texts;
}

void TAddressDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                             const QModelIndex& Index) const {
  Painter->save();
  ClearItem(*Painter, Option);
  const int left = Option.rect.left();
  const int top = Option.rect.top();
  Painter->setFont(WindowFont(7));
  WriteAt(*Painter, left + 5, top + 3, QStringLiteral("asci:"));
  WriteAt(*Painter, left + 50, top + 3, QStringLiteral("dec:"));
  WriteAt(*Painter, left + 105, top + 3, QStringLiteral("hex:"));
  const TAddressTexts texts = AddressTexts(Index.row());
  Painter->setFont(WindowFont(10));
  WriteAt(*Painter, left + 30, top, texts.Character);
  WriteAt(*Painter, left + 70, top, texts.Decimal);
  WriteAt(*Painter, left + 130, top, texts.Hex);
  Painter->restore();
}

QSize TAddressDelegate::sizeHint(const QStyleOptionViewItem& Option, const QModelIndex&) const {
  return {std::max(Option.rect.width(), AddressItemWidth), kItemHeight + 2};
}

TLanguageDelegate::TLanguageDelegate(const TViewElement& List, QObject* Parent)
    : QStyledItemDelegate(Parent), FList(List) {}

void TLanguageDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                              const QModelIndex& Index) const {
  const QRect rect = Option.rect;
  const TLanguageDrawItem entry = cbbLanguageDrawItem(
      FList, Index.row(), {rect.left(), rect.top(), rect.width(), rect.height()});
  Painter->save();
  ClearItem(*Painter, Option);
  QFont font(QString::fromStdString(entry.FontName), entry.FontSize);
  font.setStyleHint(QFont::SansSerif);
  Painter->setFont(font);
  WriteAt(*Painter, entry.TextLeft, entry.TextTop, QString::fromStdString(entry.Text));
  if (entry.ImageIndex >= 0)
    Painter->drawPixmap(entry.ImageLeft, entry.ImageTop, FlagImage(entry.ImageIndex));
  Painter->restore();
}

QSize TLanguageDelegate::sizeHint(const QStyleOptionViewItem& Option, const QModelIndex&) const {
  return {Option.rect.width(), kItemHeight};
}

void TOwnerDrawComboBox::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionComboBox frame;
  initStyleOption(&frame);
  frame.currentText.clear();
  frame.currentIcon = QIcon();
  painter.drawComplexControl(QStyle::CC_ComboBox, frame);
  if (currentIndex() < 0) return;
  QStyleOptionViewItem current;
  current.initFrom(this);
  current.rect =
      style()->subControlRect(QStyle::CC_ComboBox, &frame, QStyle::SC_ComboBoxEditField, this);
  current.font = font();
  current.state &= ~QStyle::State_Selected;
  if (!isEnabled()) current.palette.setCurrentColorGroup(QPalette::Disabled);
  current.palette.setBrush(QPalette::Base, palette().brush(QPalette::Base));
  view()->itemDelegate()->paint(&painter, current, model()->index(currentIndex(), modelColumn()));
}
