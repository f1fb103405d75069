#include "app/uf_MainWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "app/art/uArtwork.h"
#include "app/uViewElement.h"
#include "app/uf_MainBinding.h"
#include "app/uf_MainDraw.h"
#include "app/uf_MainFonts.h"
#include "app/uf_MainShapes.h"
#include "controls/uDoubleEdit.h"
#include "controls/uIntEdit.h"

namespace {

QWidget* CreateContainer(TViewElement&, QWidget* Parent, TElementBinding&) {
  return new QWidget(Parent);
}

QWidget* CreatePanel(TViewElement&, QWidget* Parent, TElementBinding&) {
  auto* panel = new QWidget(Parent);
  panel->setAutoFillBackground(true);
  return panel;
}

QWidget* CreateLabel(TViewElement&, QWidget* Parent, TElementBinding&) {
  auto* label = new QLabel(Parent);
  label->setTextFormat(Qt::PlainText);
  return label;
}

// A label's text and place: both decide the type it is set in.
void WriteLabelCaption(const TViewElement& Element, QWidget& Widget, const std::string& Property,
                       TElementBinding&) {
  auto& label = static_cast<QLabel&>(Widget);
  label.setText(ToQString(Element.GetText(Property)));
  FitLabel(Element, label);
}
void WriteLabelPlace(const TViewElement& Element, QWidget& Widget, const std::string&,
                     TElementBinding&) {
  FitLabel(Element, static_cast<QLabel&>(Widget));
}

const TPropertyRules kLabelRules = {{"Caption", WriteLabelCaption},
                                    {"Left", WriteLabelPlace},
                                    {"Top", WriteLabelPlace},
                                    {"Width", WriteLabelPlace},
                                    {"Height", WriteLabelPlace}};

QWidget* CreateButton(TViewElement& Element, QWidget* Parent, TElementBinding& Binding) {
  auto* button = new QPushButton(Parent);
  QObject::connect(button, &QPushButton::clicked, button,
                   [&Element, &Binding] { Binding.Act([&] { Element.Click(); }); });
  return button;
}

const TPropertyRules kButtonRules = {{"Caption", WriteText<QPushButton, &QPushButton::setText>}};

QWidget* CreateCheckBox(TViewElement& Element, QWidget* Parent, TElementBinding& Binding) {
  auto* checkBox = new QCheckBox(Parent);
  QObject::connect(checkBox, &QCheckBox::clicked, checkBox, [&Element, &Binding](bool checked) {
    Binding.OperatorEdit(Element, "Checked", checked);
  });
  return checkBox;
}

const TPropertyRules kCheckBoxRules = {{"Caption", WriteText<QCheckBox, &QCheckBox::setText>},
                                       {"Checked", WriteBool<QCheckBox, &QCheckBox::setChecked>}};

QWidget* CreateEdit(TViewElement& Element, QWidget* Parent, TElementBinding& Binding) {
  auto* edit = new QLineEdit(Parent);
  QObject::connect(edit, &QLineEdit::textEdited, edit, [&Element, &Binding](const QString& typed) {
    Binding.OperatorEdit(Element, "Text", typed.toStdString());
  });
  return edit;
}

QWidget* CreateMemo(TViewElement& Element, QWidget* Parent, TElementBinding& Binding) {
  auto* memo = new QPlainTextEdit(Parent);
  memo->setTabChangesFocus(true);
  QObject::connect(memo, &QPlainTextEdit::textChanged, memo, [&Element, &Binding, memo] {
    if (Binding.Applying()) return;
    QString text = memo->toPlainText();
    const int maxLength = Element.GetInt("MaxLength");
    if (maxLength > 0 && text.size() > maxLength) {
      // Refuse what goes past the limit, as the line edits do.
      text.truncate(maxLength);
      const QSignalBlocker quiet(memo);
      memo->setPlainText(text);
      memo->moveCursor(QTextCursor::End);
    }
    Binding.OperatorEdit(Element, "Text", text.toStdString());
  });
  return memo;
}

void WriteEditText(const TViewElement& Element, QWidget& Widget, const std::string& Property,
                   TElementBinding&) {
  auto& edit = static_cast<QLineEdit&>(Widget);
  const QString text = ToQString(Element.GetText(Property));
  if (edit.text() != text) edit.setText(text);
}
void WriteEditMaxLength(const TViewElement& Element, QWidget& Widget, const std::string& Property,
                        TElementBinding&) {
  const int maxLength = Element.GetInt(Property);
  static_cast<QLineEdit&>(Widget).setMaxLength(maxLength > 0 ? maxLength : 32767);
}
void WriteMemoText(const TViewElement& Element, QWidget& Widget, const std::string& Property,
                   TElementBinding&) {
  auto& memo = static_cast<QPlainTextEdit&>(Widget);
  const QString text = ToQString(Element.GetText(Property));
  if (memo.toPlainText() != text) memo.setPlainText(text);
}

const TPropertyRules kEditRules = {{"Text", WriteEditText},
                                   {"MaxLength", WriteEditMaxLength},
                                   {"ReadOnly", WriteBool<QLineEdit, &QLineEdit::setReadOnly>}};
// The memo's MaxLength is kept as the operator types (CreateMemo).
const TPropertyRules kMemoRules = {
    {"Text", WriteMemoText}, {"ReadOnly", WriteBool<QPlainTextEdit, &QPlainTextEdit::setReadOnly>}};

template <class TEdit>
QWidget* CreateNumEdit(TViewElement& Element, QWidget* Parent, TElementBinding& Binding) {
  auto* edit = new TEdit(Parent);
  edit->OnChange = [&Element, &Binding, edit](TMyCustomNumEdit*) {
    Binding.OperatorEdit(Element, "Value", edit->Value());
  };
  return edit;
}

// A number property of the element in the type of the field's value.
template <class TNumber>
TNumber NumberOf(const TViewElement& Element, std::string_view Property) {
  if constexpr (std::is_integral_v<TNumber>)
    return Element.GetInt(Property);
  else
    return Element.GetReal(Property);
}

// The element's value stands in the field, also after a new bound moved the value shown.
template <class TEdit>
void WriteNumberValue(const TViewElement& Element, QWidget& Widget, const std::string&,
                      TElementBinding&) {
  auto& edit = static_cast<TEdit&>(Widget);
  const auto value = NumberOf<decltype(edit.Value())>(Element, "Value");
  if (edit.Value() != value) edit.SetValue(value);
}
template <class TEdit, auto Setter>
void WriteBound(const TViewElement& Element, QWidget& Widget, const std::string& Property,
                TElementBinding& Binding) {
  auto& edit = static_cast<TEdit&>(Widget);
  (edit.*Setter)(NumberOf<decltype(edit.Value())>(Element, Property));
  WriteNumberValue<TEdit>(Element, Widget, Property, Binding);
}
void WriteDecimals(const TViewElement& Element, QWidget& Widget, const std::string& Property,
                   TElementBinding& Binding) {
  static_cast<TDoubleEdit&>(Widget).SetDecimals(
      static_cast<std::uint16_t>(Element.GetInt(Property)));
  WriteNumberValue<TDoubleEdit>(Element, Widget, Property, Binding);
}

// The properties every number field has.
const TPropertyRules kNumEditRules = {
    {"ReadOnly", WriteBool<TMyCustomNumEdit, &TMyCustomNumEdit::setReadOnly>},
    {"ShowName", WriteText<TMyCustomNumEdit, &TMyCustomNumEdit::SetShowName>},
    {"RangeMessage", WriteText<TMyCustomNumEdit, &TMyCustomNumEdit::SetRangeMessage>},
    {"AutoCorrect", WriteBool<TMyCustomNumEdit, &TMyCustomNumEdit::SetAutoCorrect>}};
// Bounds, increment and value of a field of whole or real numbers.
template <class TEdit>
const TPropertyRules kNumberRules = {{"MinValue", WriteBound<TEdit, &TEdit::SetMinValue>},
                                     {"MaxValue", WriteBound<TEdit, &TEdit::SetMaxValue>},
                                     {"Increment", WriteBound<TEdit, &TEdit::SetIncrement>},
                                     {"Value", WriteNumberValue<TEdit>}};
const TPropertyRules kDecimalsRules = {{"Decimals", WriteDecimals}};

void FillItems(const TViewElement& Element, QComboBox& ComboBox) {
  ComboBox.clear();
  for (const std::string& item : Element.Items()) ComboBox.addItem(ToQString(item));
  ComboBox.setCurrentIndex(Element.GetInt("ItemIndex"));
}

QWidget* CreateComboBox(TViewElement& Element, QWidget* Parent, TElementBinding& Binding) {
  QComboBox* comboBox;
  if (Element.Name() == "cbADR") {
    comboBox = new TOwnerDrawComboBox(Parent);
    comboBox->setItemDelegate(new TAddressDelegate(comboBox));
    // The drawn item reaches 130 pixels plus "0xFF", and the arrow comes after it.
    comboBox->setMinimumWidth(AddressItemWidth + 24);
  } else if (Element.Name() == "cbbLanguage") {
    comboBox = new TOwnerDrawComboBox(Parent);
    comboBox->setItemDelegate(new TLanguageDelegate(Element, comboBox));
  } else {
    comboBox = new QComboBox(Parent);
  }
  comboBox->setMaxVisibleItems(12);
  QObject::connect(comboBox, &QComboBox::activated, comboBox, [&Element, &Binding](int index) {
    Binding.OperatorEdit(Element, "ItemIndex", index);
  });
  return comboBox;
}

void WriteComboBoxItems(const TViewElement& Element, QWidget& Widget, const std::string&,
                        TElementBinding&) {
  FillItems(Element, static_cast<QComboBox&>(Widget));
}

const TPropertyRules kComboBoxRules = {
    {"Items", WriteComboBoxItems}, {"ItemIndex", WriteInt<QComboBox, &QComboBox::setCurrentIndex>}};

// A list that lets the frame drawn behind it show, keeping clear of its outline.
class TFramedList : public QListWidget {
 public:
  explicit TFramedList(QWidget* Parent) : QListWidget(Parent) {
    setViewportMargins(2, 0, 2, 0);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(false);
  }
};

QWidget* CreateListBox(TViewElement& Element, QWidget* Parent, TElementBinding& Binding) {
  auto* list = new TFramedList(Parent);
  // The modules found, in columns, also while the search lists them.
  if (Element.Name() == "lbFoundedModules" || Element.Name() == "lbSearchingFound")
    list->setItemDelegate(new TFoundModuleDelegate(list));
  QObject::connect(list, &QListWidget::currentRowChanged, list, [&Element, &Binding](int row) {
    Binding.OperatorEdit(Element, "ItemIndex", row);
  });
  return list;
}

void WriteListBoxItems(const TViewElement& Element, QWidget& Widget, const std::string&,
                       TElementBinding&) {
  auto& list = static_cast<QListWidget&>(Widget);
  list.clear();
  for (const std::string& item : Element.Items()) list.addItem(ToQString(item));
  list.setCurrentRow(Element.GetInt("ItemIndex"));
}
void WriteListBoxIndex(const TViewElement& Element, QWidget& Widget, const std::string& Property,
                       TElementBinding&) {
  static_cast<QListWidget&>(Widget).setCurrentRow(Element.GetInt(Property));
}

const TPropertyRules kListBoxRules = {{"Items", WriteListBoxItems},
                                      {"ItemIndex", WriteListBoxIndex}};

QWidget* CreateProgressBar(TViewElement&, QWidget* Parent, TElementBinding&) {
  auto* bar = new QProgressBar(Parent);
  bar->setTextVisible(false);
  return bar;
}

void WriteProgress(const TViewElement& Element, QWidget& Widget, const std::string&,
                   TElementBinding&) {
  auto& bar = static_cast<QProgressBar&>(Widget);
  const int minimum = Element.GetInt("Min");
  // An empty range would turn the bar into a busy indicator; it stays empty instead.
  const int maximum = std::max(Element.GetInt("Max"), minimum + 1);
  bar.setRange(minimum, maximum);
  bar.setValue(std::clamp(Element.GetInt("Position"), minimum, maximum));
}

const TPropertyRules kProgressBarRules = {
    {"Min", WriteProgress}, {"Max", WriteProgress}, {"Position", WriteProgress}};

TModuleArt PictureOf(const std::string& ImageName) {
  if (ImageName == "imgUSB") return TModuleArt::Usb;
  if (ImageName == "imgRS") return TModuleArt::Rs;
  if (ImageName == "imgNovra") return TModuleArt::Novra;
  return TModuleArt::Unknown;
}

QWidget* CreateImage(TViewElement& Element, QWidget* Parent, TElementBinding&) {
  auto* image = new QLabel(Parent);
  image->setPixmap(ModulePicture(PictureOf(Element.Name())));
  image->setAlignment(Qt::AlignCenter);
  return image;
}

const TWidgetKind kWidgetKinds[] = {
    {"TPanel", CreatePanel, {}},
    {"TLabel", CreateLabel, {&kLabelRules}},
    {"TButton", CreateButton, {&kButtonRules}},
    {"TCheckBox", CreateCheckBox, {&kCheckBoxRules}},
    {"TEdit", CreateEdit, {&kEditRules}},
    {"TMemo", CreateMemo, {&kMemoRules}},
    {"TIntEdit", CreateNumEdit<TIntEdit>, {&kNumEditRules, &kNumberRules<TIntEdit>}},
    {"TDoubleEdit",
     CreateNumEdit<TDoubleEdit>,
     {&kNumEditRules, &kNumberRules<TDoubleEdit>, &kDecimalsRules}},
    {"TComboBox", CreateComboBox, {&kComboBoxRules}},
    {"TListBox", CreateListBox, {&kListBoxRules}},
    {"TProgressBar", CreateProgressBar, {&kProgressBarRules}},
    {"TImage", CreateImage, {}},
    {"TShape", CreateShape, {&kShapeRules}},
    {"TShapeEx", CreateShape, {&kShapeRules}},
};

const TWidgetKind kContainerKind{"", CreateContainer, {}};

}  // namespace

const TWidgetKind& WidgetKindOf(const TViewElement& Element) {
  for (const TWidgetKind& kind : kWidgetKinds)
    if (kind.ClassName == Element.ClassName()) return kind;
  return kContainerKind;
}

const TPropertyRule* RuleFor(const TWidgetKind& Kind, std::string_view Property) {
  for (const TPropertyRules* rules : Kind.Rules)
    for (const TPropertyRule& rule : *rules)
      if (rule.Property == Property) return &rule;
  return nullptr;
}

bool IsGeometry(std::string_view Property) {
  return Property == "Left" || Property == "Top" || Property == "Width" || Property == "Height";
}
