#include <gtest/gtest.h>

#include <QImage>
#include <QListWidget>
#include <QPainter>
#include <algorithm>

#include "app/art/uArtwork.h"
#include "app/uf_MainDraw.h"
#include "app/uf_MainFonts.h"
#include "app/uf_TrendChart.h"
#include "tests/controls/QtTestApp.h"

namespace {

// Left-most column with ink (darker than mid grey) between From and To, or -1.
int FirstInkColumn(const QImage& Image, int From, int To) {
  for (int column = From; column < To; ++column)
    for (int row = 0; row < Image.height(); ++row)
      if (qGray(Image.pixel(column, row)) < 128) return column;
  return -1;
}

int FirstInkRow(const QImage& Image) {
  for (int row = 0; row < Image.height(); ++row)
    for (int column = 0; column < Image.width(); ++column)
      if (qGray(Image.pixel(column, row)) < 128) return row;
  return -1;
}

// Paints row Text of a list with Delegate into a white image of Width x Height.
QImage PaintRow(QStyledItemDelegate& Delegate, const QString& Text, int Width, int Height) {
  QListWidget list;
  list.addItem(Text);
  QImage image(Width, Height, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  QStyleOptionViewItem option;
  option.initFrom(&list);
  option.rect = QRect(0, 0, Width, Height);
  option.font = WindowFont(9);
  option.palette.setColor(QPalette::Base, Qt::white);
  option.palette.setColor(QPalette::Text, Qt::black);
  option.state &= ~QStyle::State_Selected;
  Delegate.paint(&painter, option, list.model()->index(0, 0));
  painter.end();
  return image;
}

}  // namespace

TEST(FoundModuleRow, SplitsIntoThreeFieldsAndFillsMissingOnes) {
  EXPECT_EQ(FoundModuleFields("DAZAZE|USB|0042"), (QStringList{"DAZAZE", "USB", "0042"}));
  EXPECT_EQ(FoundModuleFields("|COM3|12345"), (QStringList{"", "COM3", "12345"}));
  EXPECT_EQ(FoundModuleFields("VIROD"), (QStringList{"VIROD", "", ""}));
}

TEST(FoundModuleRow, FieldsStartAtTheirColumnsBelowTheTop) {
  TFoundModuleDelegate delegate;
  const QImage row = PaintRow(delegate, "WWW|WWW|WWW", 420, 24);
  // A glyph's ink starts at or just right of its pen position.
  EXPECT_GE(FirstInkColumn(row, 0, 140), 10);
  EXPECT_LE(FirstInkColumn(row, 0, 140), 13);
  EXPECT_GE(FirstInkColumn(row, 140, 290), 150);
  EXPECT_LE(FirstInkColumn(row, 140, 290), 153);
  EXPECT_GE(FirstInkColumn(row, 290, 420), 300);
  EXPECT_LE(FirstInkColumn(row, 290, 420), 303);
  EXPECT_GE(FirstInkRow(row), 2);
}

TEST(AddressItem, TextsOfAnAddress) {
  const TAddressTexts texts = AddressTexts(65);
  EXPECT_EQ(texts.Character, "A");
  EXPECT_EQ(texts.Decimal, "65");
  EXPECT_EQ(texts.Hex, "0x41");
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
  TAddressDelegate delegate;
  // Row 200: character, "200", "0xC8".
  QListWidget list;
  for (int item = 0; item <= 200; ++item) list.addItem(QString::number(item));
  QImage image(AddressItemWidth, 20, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  QStyleOptionViewItem option;
  option.rect = QRect(0, 0, AddressItemWidth, 20);
  option.palette.setColor(QPalette::Base, Qt::white);
  option.palette.setColor(QPalette::Text, Qt::black);
  delegate.paint(&painter, option, list.model()->index(200, 0));
  painter.end();
  EXPECT_GE(FirstInkColumn(image, 0, 28), 5);
  EXPECT_LE(FirstInkColumn(image, 0, 28), 7);
  EXPECT_GE(FirstInkColumn(image, 70, 100), 70);
  EXPECT_LE(FirstInkColumn(image, 70, 100), 72);
  EXPECT_GE(FirstInkColumn(image, 129, AddressItemWidth), 130);
  EXPECT_LE(FirstInkColumn(image, 129, AddressItemWidth), 132);
  // Everything drawn fits in the item's width.
  EXPECT_EQ(FirstInkColumn(image, AddressItemWidth - 2, AddressItemWidth), -1);
}

TEST(Artwork, PicturesAndFlagsHaveTheirSizesAndTellTheFlagsApart) {
  for (TModuleArt kind : {TModuleArt::Usb, TModuleArt::Rs, TModuleArt::Novra, TModuleArt::Unknown})
    EXPECT_EQ(ModulePicture(kind).size(), QSize(ModuleArtWidth, ModuleArtHeight));
  const QImage czech = FlagImage(0).toImage();
  const QImage british = FlagImage(1).toImage();
  ASSERT_EQ(czech.size(), QSize(16, 16));
  ASSERT_EQ(british.size(), QSize(16, 16));
  // Czech: white over red at the fly end, blue at the hoist.
  EXPECT_EQ(QColor(czech.pixel(13, 5)), QColor(Qt::white));
  EXPECT_GT(QColor(czech.pixel(13, 10)).red(), 200);
  EXPECT_GT(QColor(czech.pixel(2, 8)).blue(), 100);
  // British: the red cross through the middle, blue fields around it.
  EXPECT_GT(QColor(british.pixel(8, 8)).red(), 180);
  int blueCount = 0;
  for (int row = 0; row < 16; ++row)
    for (int column = 0; column < 16; ++column) {
      const QColor pixel(british.pixel(column, row));
      if (pixel.blue() > pixel.red() + 50) ++blueCount;
    }
  EXPECT_GT(blueCount, 10);
  EXPECT_NE(czech, british);
  // Images without a flag of their own are empty.
  EXPECT_EQ(FlagImage(2).toImage().pixelColor(8, 8).alpha(), 0);
}

namespace {

// How many rows of the chart's plot a channel's line reaches.
int LineHeight(const QImage& Image, int Channel) {
  const QRgb colour = TrendColor(Channel).rgb();
  int top = Image.height(), bottom = -1;
  for (int row = 0; row < Image.height(); ++row)
    for (int column = 80; column < Image.width(); ++column)
      if (Image.pixel(column, row) == colour) {
        top = std::min(top, row);
        bottom = std::max(bottom, row);
      }
  return bottom < 0 ? 0 : bottom - top + 1;
}

}  // namespace

TEST(TrendChart, OwnScalesDrawEachChannelAcrossItsOwnRange) {
  // Ramps: a channel in the thousands beside a 0-16 bar one and two narrow ones.
  constexpr float kLow[kTrendChannels] = {1000, 0, -1, 100},
                  kRise[kTrendChannels] = {4000, 16, 2, 1};
  TTrend trend;
  for (int second = 0; second <= 120; ++second) {
    TTrendReading reading{1'000'000 + second * 1000LL, {}};
    for (std::size_t channel = 0; channel < kTrendChannels; ++channel)
      reading.Values[channel] = {TReadingState::Valid,
                                 kLow[channel] + kRise[channel] * static_cast<float>(second) / 120};
    trend.Add(reading);
  }
  for (const bool own : {false, true}) {
    SCOPED_TRACE(own ? "own scales" : "one scale");
    TTrendChart chart(trend);
    chart.SetOwnScales(own);
    QImage image(640, 480, QImage::Format_RGB32);
    QPainter painter(&image);
    chart.Render(painter, image.rect());
    painter.end();
    const int thousands = LineHeight(image, 0);
    ASSERT_GT(thousands, 60);
    for (int channel = 1; channel < kTrendChannels; ++channel) {
      SCOPED_TRACE(channel);
      // On one scale the small channels are flat lines; on their own each spans its band.
      if (own)
        EXPECT_GT(LineHeight(image, channel), thousands * 6 / 10);
      else
        EXPECT_LE(LineHeight(image, channel), 3);
    }
  }
}
