#include <gtest/gtest.h>

#include <QImage>
#include <QListWidget>
#include <QPainter>

#include "app/art/uArtwork.h"
#include "app/uf_MainDraw.h"
#include "app/uf_MainFonts.h"
#include "tests/controls/QtTestApp.h"

namespace {

// Left-most column with ink (darker than mid grey) between From and To, or -1.
int FirstInkColumn(const QImage& Image, int From, int To) {
  for (int X = From; X < To; ++X)
    for (int Y = 0; Y < Image.height(); ++Y)
      if (qGray(Image.pixel(X, Y)) < 128) return X;
  return -1;
}

int FirstInkRow(const QImage& Image) {
  for (int Y = 0; Y < Image.height(); ++Y)
    for (int X = 0; X < Image.width(); ++X)
      if (qGray(Image.pixel(X, Y)) < 128) return Y;
  return -1;
}

// Paints row Text of a list with Delegate into a white image of Width x Height.
QImage PaintRow(QStyledItemDelegate& Delegate, const QString& Text, int Width, int Height) {
  QListWidget List;
  List.addItem(Text);
  QImage Image(Width, Height, QImage::Format_RGB32);
  Image.fill(Qt::white);
  QPainter Painter(&Image);
  QStyleOptionViewItem Option;
  Option.initFrom(&List);
  Option.rect = QRect(0, 0, Width, Height);
  Option.font = WindowFont(9);
  Option.palette.setColor(QPalette::Base, Qt::white);
  Option.palette.setColor(QPalette::Text, Qt::black);
  Option.state &= ~QStyle::State_Selected;
  Delegate.paint(&Painter, Option, List.model()->index(0, 0));
  Painter.end();
  return Image;
}

}  // namespace

TEST(FoundModuleRow, SplitsIntoThreeFieldsAndFillsMissingOnes) {
  EXPECT_EQ(FoundModuleFields("DAZAZE|USB|0042"), (QStringList{"DAZAZE", "USB", "0042"}));
  EXPECT_EQ(FoundModuleFields("|COM3|12345"), (QStringList{"", "COM3", "12345"}));
  EXPECT_EQ(FoundModuleFields("VIROD"), (QStringList{"VIROD", "", ""}));
}

TEST(FoundModuleRow, FieldsStartAtTheirColumnsBelowTheTop) {
  TFoundModuleDelegate Delegate;
  const QImage Row = PaintRow(Delegate, "WWW|WWW|WWW", 420, 24);
  // A glyph's ink starts at or just right of its pen position.
  EXPECT_GE(FirstInkColumn(Row, 0, 140), 10);
  EXPECT_LE(FirstInkColumn(Row, 0, 140), 13);
  EXPECT_GE(FirstInkColumn(Row, 140, 290), 150);
  EXPECT_LE(FirstInkColumn(Row, 140, 290), 153);
  EXPECT_GE(FirstInkColumn(Row, 290, 420), 300);
  EXPECT_LE(FirstInkColumn(Row, 290, 420), 303);
  EXPECT_GE(FirstInkRow(Row), 2);
}

TEST(AddressItem, TextsOfAnAddress) {
  const TAddressTexts A = AddressTexts(65);
  EXPECT_EQ(A.Character, "A");
  EXPECT_EQ(A.Decimal, "65");
  EXPECT_EQ(A.Hex, "0x41");
  // Upper-case digits after a lower-case "0x"; two digits always.
  EXPECT_EQ(AddressTexts(171).Hex, "0xAB");
  EXPECT_EQ(AddressTexts(7).Hex, "0x07");
  // The character is the byte of the window's code page, not Latin-1.
  EXPECT_EQ(AddressTexts(0x8A).Character, QString::fromUtf8("Š"));
  // Control characters draw nothing.
  EXPECT_TRUE(AddressTexts(0).Character.isEmpty());
  EXPECT_TRUE(AddressTexts(10).Character.isEmpty());
  EXPECT_EQ(AddressTexts(253).Decimal, "253");
}

TEST(AddressItem, SmallCaptionsThenTheValuesInTheirPlaces) {
  TAddressDelegate Delegate;
  // Row 200: character, "200", "0xC8".
  QListWidget List;
  for (int I = 0; I <= 200; ++I) List.addItem(QString::number(I));
  QImage Image(AddressItemWidth, 20, QImage::Format_RGB32);
  Image.fill(Qt::white);
  QPainter Painter(&Image);
  QStyleOptionViewItem Option;
  Option.rect = QRect(0, 0, AddressItemWidth, 20);
  Option.palette.setColor(QPalette::Base, Qt::white);
  Option.palette.setColor(QPalette::Text, Qt::black);
  Delegate.paint(&Painter, Option, List.model()->index(200, 0));
  Painter.end();
  EXPECT_GE(FirstInkColumn(Image, 0, 28), 5);
  EXPECT_LE(FirstInkColumn(Image, 0, 28), 7);
  EXPECT_GE(FirstInkColumn(Image, 70, 100), 70);
  EXPECT_LE(FirstInkColumn(Image, 70, 100), 72);
  EXPECT_GE(FirstInkColumn(Image, 129, AddressItemWidth), 130);
  EXPECT_LE(FirstInkColumn(Image, 129, AddressItemWidth), 132);
  // Everything drawn fits in the item's width.
  EXPECT_EQ(FirstInkColumn(Image, AddressItemWidth - 2, AddressItemWidth), -1);
}

TEST(Artwork, PicturesAndFlagsHaveTheirSizesAndTellTheFlagsApart) {
  for (TModuleArt Kind : {TModuleArt::Usb, TModuleArt::Rs, TModuleArt::Novra, TModuleArt::Unknown})
    EXPECT_EQ(ModulePicture(Kind).size(), QSize(ModuleArtWidth, ModuleArtHeight));
  const QImage Czech = FlagImage(0).toImage();
  const QImage British = FlagImage(1).toImage();
  ASSERT_EQ(Czech.size(), QSize(16, 16));
  ASSERT_EQ(British.size(), QSize(16, 16));
  // Czech: white over red at the fly end, blue at the hoist.
  EXPECT_EQ(QColor(Czech.pixel(13, 5)), QColor(Qt::white));
  EXPECT_GT(QColor(Czech.pixel(13, 10)).red(), 200);
  EXPECT_GT(QColor(Czech.pixel(2, 8)).blue(), 100);
  // British: the red cross through the middle, blue fields around it.
  EXPECT_GT(QColor(British.pixel(8, 8)).red(), 180);
  int Blue = 0;
  for (int Y = 0; Y < 16; ++Y)
    for (int X = 0; X < 16; ++X)
      if (QColor(British.pixel(X, Y)).blue() > QColor(British.pixel(X, Y)).red() + 50) ++Blue;
  EXPECT_GT(Blue, 10);
  EXPECT_NE(Czech, British);
  // Images without a flag of their own are empty.
  EXPECT_EQ(FlagImage(2).toImage().pixelColor(8, 8).alpha(), 0);
}
