#include "app/uf_MainFonts.h"

#include <QLabel>
#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "app/uViewElement.h"

namespace {

struct TLook {
  int PointSize;
  bool Bold;
};

std::optional<TLook> LookOf(std::string_view Name) {
  static const std::pair<std::string_view, TLook> kLooks[] = {
      {"lSearchHeading", {14, true}},
      {"lSearchingHeading", {14, true}},
      {"Label13", {14, true}},
      {"lModuleName", {14, true}},
      {"Label12", {12, true}},
      {"lInformaceOModulu", {11, true}},
      {"lKomunikacniParametry", {11, true}},
      {"lWatchingMearuredValue", {11, true}},
      {"lChannel", {12, true}},
      {"lFoundedModules", {10, true}},
      {"lConnectionDesc", {9, true}},
  };
  for (const auto& [lookName, look] : kLooks)
    if (Name == lookName) return look;
  // Rows of the measurement page: lMeasuringChannel<n>Value, lChannel<n>Channel and the rest.
  if (Name.starts_with("lMeasuringChannel") && Name.ends_with("Value")) return TLook{18, true};
  if (Name.starts_with("lChannel") && Name.ends_with("Channel")) return TLook{11, true};
  if (Name.starts_with("lChannel") || Name.starts_with("lMeasuringChannel"))
    return TLook{11, false};
  return std::nullopt;
}

}  // namespace

QFont WindowFont(int PointSize) {
  QFont font(QString::fromLatin1(kWindowFontFamily), PointSize);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

void ApplyFont(const TViewElement& Element, QWidget& Widget) {
  if (const auto look = LookOf(Element.Name())) {
    QFont font = WindowFont(look->PointSize);
    font.setBold(look->Bold);
    Widget.setFont(font);
  }
}

void FitLabel(const TViewElement& Element, QLabel& Label) {
  ApplyFont(Element, Label);
  Label.setWordWrap(false);
  const int width = Element.GetInt("Width");
  const int height = Element.GetInt("Height");
  if (width <= 0 || height <= 0) {
    Label.move(Element.GetInt("Left"), Element.GetInt("Top"));
    Label.adjustSize();
    return;
  }
  Label.setGeometry(Element.GetInt("Left"), Element.GetInt("Top"), width, height);
  auto fits = [&] { return Label.fontMetrics().horizontalAdvance(Label.text()) <= width; };
  if (fits()) return;
  QFont smaller = Label.font();
  if (!Label.text().contains(QLatin1Char(' '))) {
    const int smallest = std::max(6, smaller.pointSize() * 6 / 10);
    while (!fits() && smaller.pointSize() > smallest) {
      smaller.setPointSize(smaller.pointSize() - 1);
      Label.setFont(smaller);
    }
    return;
  }
  smaller.setPointSize(std::max(6, smaller.pointSize() - 1));
  Label.setFont(smaller);
  Label.setWordWrap(true);
  const int needed = std::max(height, Label.heightForWidth(width));
  int top = Element.GetInt("Top") + height / 2 - needed / 2;
  if (const QWidget* parent = Label.parentWidget())
    top = std::clamp(top, 0, std::max(0, parent->height() - needed));
  Label.setGeometry(Element.GetInt("Left"), top, width, needed);
}
