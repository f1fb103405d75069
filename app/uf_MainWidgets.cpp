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

bool ApplyNothing(TViewElement&, QWidget&, const std::string&, TElementBinding&) {
  return false;
}

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

bool ApplyLabel(TViewElement& Element, QWidget& Widget, const std::string& Property,
                TElementBinding&) {
  auto& label = static_cast<QLabel&>(Widget);
  if (Property == "Caption")
    label.setText(ToQString(Element.GetText(Property)));
  else if (!IsGeometry(Property))
    return false;
  FitLabel(Element, label);
  return true;
}

QWidget* CreateButton(TViewElement& Element, QWidget* Parent, TElementBinding& Binding) {
  auto* button = new QPushButton(Parent);
  QObject::connect(button, &QPushButton::clicked, button,
                   [&Element, &Binding] { Binding.Act([&] { Element.Click(); }); });
  return button;
}

bool ApplyButton(TViewElement& Element, QWidget& Widget, const std::string& Property,
                 TElementBinding&) {
  if (Property != "Caption") return false;
  static_cast<QPushButton&>(Widget).setText(ToQString(Element.GetText(Property)));
  return true;
}

QWidget* CreateCheckBox(TViewElement& Element, QWidget* Parent, TElementBinding& Binding) {
  auto* checkBox = new QCheckBox(Parent);
  QObject::connect(checkBox, &QCheckBox::clicked, checkBox, [&Element, &Binding](bool checked) {
    Binding.OperatorEdit(Element, "Checked", checked);
  });
  return checkBox;
}

bool ApplyCheckBox(TViewElement& Element, QWidget& Widget, const std::string& Property,
                   TElementBinding&) {
  auto& checkBox = static_cast<QCheckBox&>(Widget);
  if (Property == "Caption")
    checkBox.setText(ToQString(Element.GetText(Property)));
  else if (Property == "Checked")
    checkBox.setChecked(Element.GetBool(Property));
  else
    return false;
  return true;
}

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

// The text fields, of one line or of several.
void ShowText(QLineEdit& Field, const QString& Text) {
  if (Field.text() != Text) Field.setText(Text);
}
void ShowText(QPlainTextEdit& Field, const QString& Text) {
  if (Field.toPlainText() != Text) Field.setPlainText(Text);
}
void LimitLength(QLineEdit& Field, int MaxLength) {
  Field.setMaxLength(MaxLength > 0 ? MaxLength : 32767);
}
void LimitLength(QPlainTextEdit&, int) {
  // Enforced as the operator types (CreateMemo).
}

template <class TField>
bool ApplyTextField(TViewElement& Element, QWidget& Widget, const std::string& Property,
                    TElementBinding&) {
  auto& field = static_cast<TField&>(Widget);
  if (Property == "Text")
    ShowText(field, ToQString(Element.GetText(Property)));
  else if (Property == "MaxLength")
    LimitLength(field, Element.GetInt(Property));
  else if (Property == "ReadOnly")
    field.setReadOnly(Element.GetBool(Property));
  else
    return false;
  return true;
}

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

// Only a real-number field has decimals.
bool ApplyDecimals(const TViewElement&, TIntEdit&) {
  return false;
}
bool ApplyDecimals(const TViewElement& Element, TDoubleEdit& Edit) {
  Edit.SetDecimals(static_cast<std::uint16_t>(Element.GetInt("Decimals")));
  return true;
}

// The properties every number field has.
bool ApplyNumEditCommon(const TViewElement& Element, TMyCustomNumEdit& Edit,
                        const std::string& Property) {
  if (Property == "ReadOnly")
    Edit.setReadOnly(Element.GetBool(Property));
  else if (Property == "ShowName")
    Edit.SetShowName(ToQString(Element.GetText(Property)));
  else if (Property == "RangeMessage")
    Edit.SetRangeMessage(ToQString(Element.GetText(Property)));
  else if (Property == "AutoCorrect")
    Edit.SetAutoCorrect(Element.GetBool(Property));
  else
    return false;
  return true;
}

template <class TEdit>
bool ApplyNumEdit(TViewElement& Element, QWidget& Widget, const std::string& Property,
                  TElementBinding&) {
  auto& edit = static_cast<TEdit&>(Widget);
  if (ApplyNumEditCommon(Element, edit, Property)) return true;
  using TNumber = decltype(edit.Value());
  if (Property == "MinValue") {
    edit.SetMinValue(NumberOf<TNumber>(Element, Property));
  } else if (Property == "MaxValue") {
    edit.SetMaxValue(NumberOf<TNumber>(Element, Property));
  } else if (Property == "Increment") {
    edit.SetIncrement(NumberOf<TNumber>(Element, Property));
  } else if (Property == "Decimals") {
    if (!ApplyDecimals(Element, edit)) return false;
  } else if (Property != "Value") {
    return false;
  }
  // A new bound may have moved the value shown: the element's value stands.
  const TNumber value = NumberOf<TNumber>(Element, "Value");
  if (edit.Value() != value) edit.SetValue(value);
  return true;
}

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

bool ApplyComboBox(TViewElement& Element, QWidget& Widget, const std::string& Property,
                   TElementBinding&) {
  auto& comboBox = static_cast<QComboBox&>(Widget);
  if (Property == "Items")
    FillItems(Element, comboBox);
  else if (Property == "ItemIndex")
    comboBox.setCurrentIndex(Element.GetInt(Property));
  else
    return false;
  return true;
}

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
  if (Element.Name() == "lbFoundedModules") list->setItemDelegate(new TFoundModuleDelegate(list));
  QObject::connect(list, &QListWidget::currentRowChanged, list, [&Element, &Binding](int row) {
    Binding.OperatorEdit(Element, "ItemIndex", row);
  });
  return list;
}

bool ApplyListBox(TViewElement& Element, QWidget& Widget, const std::string& Property,
                  TElementBinding&) {
  auto& list = static_cast<QListWidget&>(Widget);
  if (Property == "Items") {
    list.clear();
    for (const std::string& item : Element.Items()) list.addItem(ToQString(item));
    list.setCurrentRow(Element.GetInt("ItemIndex"));
  } else if (Property == "ItemIndex") {
    list.setCurrentRow(Element.GetInt(Property));
  } else {
    return false;
  }
  return true;
}

QWidget* CreateProgressBar(TViewElement&, QWidget* Parent, TElementBinding&) {
  auto* bar = new QProgressBar(Parent);
  bar->setTextVisible(false);
  return bar;
}

bool ApplyProgressBar(TViewElement& Element, QWidget& Widget, const std::string& Property,
                      TElementBinding&) {
  if (Property != "Min" && Property != "Max" && Property != "Position") return false;
  auto& bar = static_cast<QProgressBar&>(Widget);
  const int minimum = Element.GetInt("Min");
  // An empty range would turn the bar into a busy indicator; it stays empty instead.
  const int maximum = std::max(Element.GetInt("Max"), minimum + 1);
  bar.setRange(minimum, maximum);
  bar.setValue(std::clamp(Element.GetInt("Position"), minimum, maximum));
  return true;
}

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
    {"TPanel", CreatePanel, ApplyNothing},
    {"TLabel", CreateLabel, ApplyLabel},
    {"TButton", CreateButton, ApplyButton},
    {"TCheckBox", CreateCheckBox, ApplyCheckBox},
    {"TEdit", CreateEdit, ApplyTextField<QLineEdit>},
    {"TMemo", CreateMemo, ApplyTextField<QPlainTextEdit>},
    {"TIntEdit", CreateNumEdit<TIntEdit>, ApplyNumEdit<TIntEdit>},
    {"TDoubleEdit", CreateNumEdit<TDoubleEdit>, ApplyNumEdit<TDoubleEdit>},
    {"TComboBox", CreateComboBox, ApplyComboBox},
    {"TListBox", CreateListBox, ApplyListBox},
    {"TProgressBar", CreateProgressBar, ApplyProgressBar},
    {"TImage", CreateImage, ApplyNothing},
    {"TShape", CreateShape, ApplyShape},
    {"TShapeEx", CreateShape, ApplyShape},
};

const TWidgetKind kContainerKind{"", CreateContainer, ApplyNothing};

}  // namespace

const TWidgetKind& WidgetKindOf(const TViewElement& Element) {
  for (const TWidgetKind& kind : kWidgetKinds)
    if (kind.ClassName == Element.ClassName()) return kind;
  return kContainerKind;
}

bool IsGeometry(const std::string& Property) {
  return Property == "Left" || Property == "Top" || Property == "Width" || Property == "Height";
}
