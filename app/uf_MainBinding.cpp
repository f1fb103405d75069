#include "app/uf_MainBinding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <optional>
#include <string_view>

#include "app/art/uArtwork.h"
#include "app/uViewElement.h"
#include "app/uf_MainDraw.h"
#include "controls/ShapeEx.h"
#include "controls/uDoubleEdit.h"
#include "controls/uIntEdit.h"
#include "support/uMessages.h"

namespace {

constexpr int clBtnFace = RGBColor(240, 240, 240);
constexpr int kWindowFontSize = 9;

QColor ToQColor(int Color) {
  return QColor::fromRgb(static_cast<QRgb>(Color) & 0xFFFFFFu);
}
QString Q(const std::string& Text) {
  return QString::fromStdString(Text);
}
std::string S(const QString& Text) {
  return Text.toStdString();
}

// A shape button whose clicks and down state belong to its element: a click goes to the
// controller first, then the element goes down or up as the button's rules say, and the
// widget follows the element.
class TBoundShapeEx : public TShapeEx {
 public:
  TBoundShapeEx(TViewElement& Element, TElementBinding& Binding, QWidget* Parent)
      : TShapeEx(Parent), FElement(Element), FBinding(Binding) {}

 protected:
  void mousePressEvent(QMouseEvent* Event) override {
    if (Event->button() == Qt::LeftButton) FPressedHere = true;
    TShapeEx::mousePressEvent(Event);
  }
  void mouseReleaseEvent(QMouseEvent* Event) override {
    if (Event->button() != Qt::LeftButton || !FPressedHere) return;
    FPressedHere = false;
    const bool Inside = rect().contains(Event->position().toPoint());
    // The button takes no focus, so the number field being typed in is checked here, as
    // leaving it would be: a refused entry stops the click.
    if (!TMyCustomNumEdit::CheckFocusedEntry()) return;
    FBinding.Act([&] {
      if (Inside) FElement.Click();
      if (FElement.GetBool("Down") && FElement.GetBool("AllowUp"))
        FElement.Set("Down", false);
      else if (!FElement.GetBool("Down") && FElement.GetBool("AllowDown"))
        FElement.Set("Down", true);
    });
  }

 private:
  TViewElement& FElement;
  TElementBinding& FBinding;
  bool FPressedHere = false;
};

// How one kind of element becomes a widget: Create builds it and routes the operator's
// actions into the element; Apply writes one property into it (false when the property is
// not this kind's).
struct TKind {
  std::string_view ClassName;
  QWidget* (*Create)(TViewElement&, QWidget*, TElementBinding&);
  bool (*Apply)(TViewElement&, QWidget*, const std::string&, TElementBinding&);
};

bool Is(const std::string& Property, std::string_view Name) {
  return Property == Name;
}

bool IsGeometry(const std::string& P) {
  return P == "Left" || P == "Top" || P == "Width" || P == "Height";
}

// Shape buttons come in three looks: page tabs (grouped), command buttons (with a caption)
// and panel frames.
void StyleShape(TViewElement& E, TShapeEx& W, TElementBinding& B) {
  const bool Tab = E.HasProperty("Group") && E.GetInt("Group") != 0;
  const bool Command = !Tab && E.HasProperty("Caption") && !E.GetText("Caption").empty();
  W.SetShape(Tab ? stRectangle : stRoundRect);
  W.SetRoundCorner(Tab ? 0 : Command ? 8 : 16);
  W.SetColorSchema(Tab ? &B.TabSchema() : Command ? &B.CommandSchema() : nullptr);
  W.setFont(WindowFont(Command ? 10 : kWindowFontSize));
}

QWidget* CreatePanel(TViewElement&, QWidget* P, TElementBinding&) {
  auto* W = new QWidget(P);
  W->setAutoFillBackground(true);
  return W;
}

QWidget* CreateGroupBox(TViewElement&, QWidget* P, TElementBinding&) {
  return new QGroupBox(P);
}

bool ApplyGroupBox(TViewElement& E, QWidget* W, const std::string& Prop, TElementBinding&) {
  if (!Is(Prop, "Caption")) return false;
  static_cast<QGroupBox*>(W)->setTitle(Q(E.GetText(Prop)));
  return true;
}

bool ApplyNothing(TViewElement&, QWidget*, const std::string&, TElementBinding&) {
  return false;
}

QWidget* CreateLabel(TViewElement&, QWidget* P, TElementBinding&) {
  auto* W = new QLabel(P);
  W->setTextFormat(Qt::PlainText);
  return W;
}

void ApplyFont(const TViewElement& E, QWidget* W);

// A label shows its whole text. One that is too long for its width (a translation, say)
// is set in a smaller type: a single word shrinks until it fits on its line, several words
// wrap in a point smaller type, centred on the line the label was placed for.
void FitLabel(const TViewElement& E, QLabel* L) {
  ApplyFont(E, L);
  L->setWordWrap(false);
  const int Width = E.GetInt("Width");
  const int Height = E.GetInt("Height");
  if (Width <= 0 || Height <= 0) {
    L->move(E.GetInt("Left"), E.GetInt("Top"));
    L->adjustSize();
    return;
  }
  L->setGeometry(E.GetInt("Left"), E.GetInt("Top"), Width, Height);
  auto Fits = [&] { return L->fontMetrics().horizontalAdvance(L->text()) <= Width; };
  if (Fits()) return;
  QFont Smaller = L->font();
  if (!L->text().contains(QLatin1Char(' '))) {
    const int Smallest = std::max(6, Smaller.pointSize() * 6 / 10);
    while (!Fits() && Smaller.pointSize() > Smallest) {
      Smaller.setPointSize(Smaller.pointSize() - 1);
      L->setFont(Smaller);
    }
    return;
  }
  Smaller.setPointSize(std::max(6, Smaller.pointSize() - 1));
  L->setFont(Smaller);
  L->setWordWrap(true);
  const int Needed = std::max(Height, L->heightForWidth(Width));
  int Top = E.GetInt("Top") + Height / 2 - Needed / 2;
  if (const QWidget* Parent = L->parentWidget())
    Top = std::clamp(Top, 0, std::max(0, Parent->height() - Needed));
  L->setGeometry(E.GetInt("Left"), Top, Width, Needed);
}

bool ApplyLabel(TViewElement& E, QWidget* W, const std::string& Prop, TElementBinding&) {
  auto* L = static_cast<QLabel*>(W);
  if (Is(Prop, "Caption"))
    L->setText(Q(E.GetText(Prop)));
  else if (!IsGeometry(Prop))
    return false;
  FitLabel(E, L);
  return true;
}

QWidget* CreateButton(TViewElement& E, QWidget* P, TElementBinding& B) {
  auto* W = new QPushButton(P);
  QObject::connect(W, &QPushButton::clicked, W, [&E, &B] { B.Act([&] { E.Click(); }); });
  return W;
}

bool ApplyButton(TViewElement& E, QWidget* W, const std::string& Prop, TElementBinding&) {
  if (!Is(Prop, "Caption")) return false;
  static_cast<QPushButton*>(W)->setText(Q(E.GetText(Prop)));
  return true;
}

QWidget* CreateCheckBox(TViewElement& E, QWidget* P, TElementBinding& B) {
  auto* W = new QCheckBox(P);
  QObject::connect(W, &QCheckBox::clicked, W, [&E, &B](bool Checked) {
    if (!B.Applying()) B.Act([&] { E.Edit("Checked", Checked); });
  });
  return W;
}

bool ApplyCheckBox(TViewElement& E, QWidget* W, const std::string& Prop, TElementBinding&) {
  auto* C = static_cast<QCheckBox*>(W);
  if (Is(Prop, "Caption"))
    C->setText(Q(E.GetText(Prop)));
  else if (Is(Prop, "Checked"))
    C->setChecked(E.GetBool(Prop));
  else
    return false;
  return true;
}

QWidget* CreateEdit(TViewElement& E, QWidget* P, TElementBinding& B) {
  auto* W = new QLineEdit(P);
  QObject::connect(W, &QLineEdit::textEdited, W, [&E, &B](const QString& Text) {
    if (!B.Applying()) B.Act([&] { E.Edit("Text", S(Text)); });
  });
  return W;
}

bool ApplyEdit(TViewElement& E, QWidget* W, const std::string& Prop, TElementBinding&) {
  auto* L = static_cast<QLineEdit*>(W);
  if (Is(Prop, "Text")) {
    if (L->text() != Q(E.GetText(Prop))) L->setText(Q(E.GetText(Prop)));
  } else if (Is(Prop, "MaxLength")) {
    L->setMaxLength(E.GetInt(Prop) > 0 ? E.GetInt(Prop) : 32767);
  } else if (Is(Prop, "ReadOnly")) {
    L->setReadOnly(E.GetBool(Prop));
  } else {
    return false;
  }
  return true;
}

QWidget* CreateMemo(TViewElement& E, QWidget* P, TElementBinding& B) {
  auto* W = new QPlainTextEdit(P);
  W->setTabChangesFocus(true);
  QObject::connect(W, &QPlainTextEdit::textChanged, W, [&E, &B, W] {
    if (B.Applying()) return;
    QString Text = W->toPlainText();
    const int Max = E.GetInt("MaxLength");
    if (Max > 0 && Text.size() > Max) {
      // Refuse what goes past the limit, as the line edits do.
      Text.truncate(Max);
      const QSignalBlocker Quiet(W);
      W->setPlainText(Text);
      W->moveCursor(QTextCursor::End);
    }
    B.Act([&] { E.Edit("Text", S(Text)); });
  });
  return W;
}

bool ApplyMemo(TViewElement& E, QWidget* W, const std::string& Prop, TElementBinding&) {
  auto* M = static_cast<QPlainTextEdit*>(W);
  if (Is(Prop, "Text")) {
    if (M->toPlainText() != Q(E.GetText(Prop))) M->setPlainText(Q(E.GetText(Prop)));
  } else if (Is(Prop, "ReadOnly")) {
    M->setReadOnly(E.GetBool(Prop));
  } else {
    return Is(Prop, "MaxLength");
  }
  return true;
}

template <class TEditClass>
QWidget* CreateNumEdit(TViewElement& E, QWidget* P, TElementBinding& B) {
  auto* W = new TEditClass(P);
  W->OnChange = [&E, &B, W](TMyCustomNumEdit*) {
    if (!B.Applying()) B.Act([&] { E.Edit("Value", W->Value()); });
  };
  return W;
}

bool ApplyNumEditCommon(TViewElement& E, TMyCustomNumEdit& W, const std::string& Prop) {
  if (Is(Prop, "ReadOnly"))
    W.setReadOnly(E.GetBool(Prop));
  else if (Is(Prop, "ShowName"))
    W.SetShowName(Q(E.GetText(Prop)));
  else if (Is(Prop, "RangeMessage"))
    W.SetRangeMessage(Q(E.GetText(Prop)));
  else if (Is(Prop, "AutoCorrect"))
    W.SetAutoCorrect(E.GetBool(Prop));
  else
    return false;
  return true;
}

bool ApplyIntEdit(TViewElement& E, QWidget* W, const std::string& Prop, TElementBinding&) {
  auto* I = static_cast<TIntEdit*>(W);
  if (ApplyNumEditCommon(E, *I, Prop)) return true;
  if (Is(Prop, "MinValue"))
    I->SetMinValue(E.GetInt(Prop));
  else if (Is(Prop, "MaxValue"))
    I->SetMaxValue(E.GetInt(Prop));
  else if (Is(Prop, "Increment"))
    I->SetIncrement(E.GetInt(Prop));
  else if (!Is(Prop, "Value"))
    return false;
  // A new bound may have moved the value shown: the element's value stands.
  if (I->Value() != E.GetInt("Value")) I->SetValue(E.GetInt("Value"));
  return true;
}

bool ApplyDoubleEdit(TViewElement& E, QWidget* W, const std::string& Prop, TElementBinding&) {
  auto* D = static_cast<TDoubleEdit*>(W);
  if (ApplyNumEditCommon(E, *D, Prop)) return true;
  if (Is(Prop, "MinValue"))
    D->SetMinValue(E.GetReal(Prop));
  else if (Is(Prop, "MaxValue"))
    D->SetMaxValue(E.GetReal(Prop));
  else if (Is(Prop, "Increment"))
    D->SetIncrement(E.GetReal(Prop));
  else if (Is(Prop, "Decimals"))
    D->SetDecimals(static_cast<std::uint16_t>(E.GetInt(Prop)));
  else if (!Is(Prop, "Value"))
    return false;
  if (D->Value() != E.GetReal("Value")) D->SetValue(E.GetReal("Value"));
  return true;
}

void FillItems(TViewElement& E, QComboBox* C) {
  C->clear();
  for (const std::string& Item : E.Items()) C->addItem(Q(Item));
  C->setCurrentIndex(E.GetInt("ItemIndex"));
}

QWidget* CreateComboBox(TViewElement& E, QWidget* P, TElementBinding& B) {
  QComboBox* W;
  if (E.Name() == "cbADR") {
    W = new TOwnerDrawComboBox(P);
    W->setItemDelegate(new TAddressDelegate(W));
    // The drawn item reaches 130 pixels plus "0xFF", and the arrow comes after it.
    W->setMinimumWidth(AddressItemWidth + 24);
  } else if (E.Name() == "cbbLanguage") {
    W = new TOwnerDrawComboBox(P);
    W->setItemDelegate(new TLanguageDelegate(E, W));
  } else {
    W = new QComboBox(P);
  }
  W->setMaxVisibleItems(12);
  QObject::connect(W, &QComboBox::activated, W, [&E, &B](int Index) {
    if (!B.Applying()) B.Act([&] { E.Edit("ItemIndex", Index); });
  });
  return W;
}

bool ApplyComboBox(TViewElement& E, QWidget* W, const std::string& Prop, TElementBinding&) {
  auto* C = static_cast<QComboBox*>(W);
  if (Is(Prop, "Items"))
    FillItems(E, C);
  else if (Is(Prop, "ItemIndex"))
    C->setCurrentIndex(E.GetInt(Prop));
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

QWidget* CreateListBox(TViewElement& E, QWidget* P, TElementBinding& B) {
  auto* W = new TFramedList(P);
  if (E.Name() == "lbFoundedModules") W->setItemDelegate(new TFoundModuleDelegate(W));
  QObject::connect(W, &QListWidget::currentRowChanged, W, [&E, &B](int Row) {
    if (!B.Applying()) B.Act([&] { E.Edit("ItemIndex", Row); });
  });
  return W;
}

bool ApplyListBox(TViewElement& E, QWidget* W, const std::string& Prop, TElementBinding&) {
  auto* L = static_cast<QListWidget*>(W);
  if (Is(Prop, "Items")) {
    L->clear();
    for (const std::string& Item : E.Items()) L->addItem(Q(Item));
    L->setCurrentRow(E.GetInt("ItemIndex"));
  } else if (Is(Prop, "ItemIndex")) {
    L->setCurrentRow(E.GetInt(Prop));
  } else {
    return false;
  }
  return true;
}

QWidget* CreateProgressBar(TViewElement&, QWidget* P, TElementBinding&) {
  auto* W = new QProgressBar(P);
  W->setTextVisible(false);
  return W;
}

bool ApplyProgressBar(TViewElement& E, QWidget* W, const std::string& Prop, TElementBinding&) {
  if (!Is(Prop, "Min") && !Is(Prop, "Max") && !Is(Prop, "Position")) return false;
  auto* Bar = static_cast<QProgressBar*>(W);
  const int Min = E.GetInt("Min");
  // An empty range would turn the bar into a busy indicator; it stays empty instead.
  const int Max = std::max(E.GetInt("Max"), Min + 1);
  Bar->setRange(Min, Max);
  Bar->setValue(std::clamp(E.GetInt("Position"), Min, Max));
  return true;
}

TModuleArt PictureOf(const std::string& Name) {
  if (Name == "imgUSB") return TModuleArt::Usb;
  if (Name == "imgRS") return TModuleArt::Rs;
  if (Name == "imgNovra") return TModuleArt::Novra;
  return TModuleArt::Unknown;
}

QWidget* CreateImage(TViewElement& E, QWidget* P, TElementBinding&) {
  auto* W = new QLabel(P);
  W->setPixmap(ModulePicture(PictureOf(E.Name())));
  W->setAlignment(Qt::AlignCenter);
  return W;
}

QWidget* CreateShape(TViewElement& E, QWidget* P, TElementBinding& B) {
  auto* W = new TBoundShapeEx(E, B, P);
  StyleShape(E, *W, B);
  return W;
}

bool ApplyShape(TViewElement& E, QWidget* W, const std::string& Prop, TElementBinding& B) {
  auto* Shape = static_cast<TShapeEx*>(W);
  if (Is(Prop, "Caption")) {
    Shape->SetCaption(Q(E.GetText(Prop)));
  } else if (Is(Prop, "PenColor")) {
    Shape->SetPenColor(ToQColor(E.GetInt(Prop)));
  } else if (Is(Prop, "BrushColor")) {
    Shape->SetBrushColor(ToQColor(E.GetInt(Prop)));
  } else if (Is(Prop, "Down")) {
    Shape->SetDown(E.GetBool(Prop));
  } else if (Is(Prop, "Group")) {
    Shape->SetGroup(E.GetInt(Prop));
    StyleShape(E, *Shape, B);
  } else if (Is(Prop, "AllowDown")) {
    Shape->SetAllowDown(E.GetBool(Prop));
  } else if (Is(Prop, "AllowUp")) {
    Shape->SetAllowUp(E.GetBool(Prop));
  } else {
    return false;
  }
  return true;
}

QWidget* CreateForeign(TViewElement&, QWidget* P, TElementBinding&) {
  return new QWidget(P);
}

const TKind kKinds[] = {
    {"TPanel", CreatePanel, ApplyNothing},
    {"TGroupBox", CreateGroupBox, ApplyGroupBox},
    {"TLabel", CreateLabel, ApplyLabel},
    {"TButton", CreateButton, ApplyButton},
    {"TCheckBox", CreateCheckBox, ApplyCheckBox},
    {"TEdit", CreateEdit, ApplyEdit},
    {"TMemo", CreateMemo, ApplyMemo},
    {"TIntEdit", CreateNumEdit<TIntEdit>, ApplyIntEdit},
    {"TDoubleEdit", CreateNumEdit<TDoubleEdit>, ApplyDoubleEdit},
    {"TComboBox", CreateComboBox, ApplyComboBox},
    {"TListBox", CreateListBox, ApplyListBox},
    {"TProgressBar", CreateProgressBar, ApplyProgressBar},
    {"TImage", CreateImage, ApplyNothing},
    {"TShape", CreateShape, ApplyShape},
    {"TShapeEx", CreateShape, ApplyShape},
};

// Unknown classes become plain containers, so their children still show.
const TKind kForeign{"", CreateForeign, ApplyNothing};

const TKind& KindOf(const TViewElement& E) {
  for (const TKind& Kind : kKinds)
    if (Kind.ClassName == E.ClassName()) return Kind;
  return kForeign;
}

// Whether the element's background is drawn over its parent's: panels always; fields and
// lists take white unless the element names another colour; the rest is transparent.
enum class TBackground { Fill, Field, None };

TBackground BackgroundOf(const TViewElement& E) {
  const std::string& C = E.ClassName();
  if (C == "TPanel" || C == "TGroupBox" || C == "TfMain") return TBackground::Fill;
  if (C == "TEdit" || C == "TMemo" || C == "TIntEdit" || C == "TDoubleEdit" || C == "TComboBox" ||
      C == "TListBox")
    return TBackground::Field;
  return TBackground::None;
}

void ApplyColor(const TViewElement& E, QWidget* W) {
  const int Color = E.GetInt("Color");
  QPalette P = W->palette();
  switch (BackgroundOf(E)) {
    case TBackground::Fill:
      P.setColor(QPalette::Window, ToQColor(Color));
      break;
    case TBackground::Field: {
      const QColor Base = Color == clBtnFace ? QColor(Qt::white) : ToQColor(Color);
      for (auto Group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        P.setColor(Group, QPalette::Base, Base);
        P.setColor(Group, QPalette::Button, Base);
      }
      break;
    }
    case TBackground::None:
      return;
  }
  W->setPalette(P);
}

void ApplyFontColor(const TViewElement& E, QWidget* W) {
  const QColor Color = ToQColor(E.GetInt("FontColor"));
  if (auto* Shape = qobject_cast<TShapeEx*>(W)) {
    Shape->SetFontColor(Color);
    return;
  }
  QPalette P = W->palette();
  for (auto Group : {QPalette::Active, QPalette::Inactive}) {
    P.setColor(Group, QPalette::WindowText, Color);
    P.setColor(Group, QPalette::Text, Color);
    P.setColor(Group, QPalette::ButtonText, Color);
  }
  W->setPalette(P);
}

// The window's type sizes: page headings, section headings, the measured values and their
// rows; everything else keeps the window's font.
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
  for (const auto& [LookName, Look] : kLooks)
    if (Name == LookName) return Look;
  // Rows of the measurement page: lMeasuringChannel<n>Value, lChannel<n>Channel and the rest.
  if (Name.starts_with("lMeasuringChannel") && Name.ends_with("Value")) return TLook{18, true};
  if (Name.starts_with("lChannel") && Name.ends_with("Channel")) return TLook{11, true};
  if (Name.starts_with("lChannel") || Name.starts_with("lMeasuringChannel"))
    return TLook{11, false};
  return std::nullopt;
}

void ApplyFont(const TViewElement& E, QWidget* W) {
  if (const auto Look = LookOf(E.Name())) {
    QFont F = WindowFont(Look->PointSize);
    F.setBold(Look->Bold);
    W->setFont(F);
  }
}

void ApplyGeometry(const TViewElement& E, QWidget* W) {
  const int Width = E.GetInt("Width");
  const int Height = E.GetInt("Height");
  if (Width > 0 && Height > 0)
    W->setGeometry(E.GetInt("Left"), E.GetInt("Top"), std::max(Width, W->minimumWidth()), Height);
  else
    W->move(E.GetInt("Left"), E.GetInt("Top"));
}

QColor Rgb(int R, int G, int B) {
  return QColor(R, G, B);
}

}  // namespace

TElementBinding::TElementBinding(TViewElement& Form, QWidget& Window)
    : FForm(Form),
      FWindow(Window),
      FCommandSchema(new TShapeExColorSchema(this)),
      FTabSchema(new TShapeExColorSchema(this)) {
  for (TShapeExColorSchema* Schema : {FCommandSchema, FTabSchema}) {
    Schema->DefaultBrushColor = Rgb(239, 230, 230);
    Schema->DefaultFontColor = Rgb(135, 109, 98);
    Schema->DefaultBorderColor = Rgb(214, 197, 181);
    Schema->OnMouseFontColor = Qt::black;
    Schema->DownBorderColor = Rgb(135, 109, 98);
    Schema->DownFontColor = Qt::black;
    Schema->DownBrushColor = Rgb(214, 197, 181);
  }
  FCommandSchema->OnMouseBrushColor = Rgb(214, 197, 181);
  FCommandSchema->OnMouseBorderColor = Rgb(135, 109, 98);
  FTabSchema->OnMouseBrushColor = Rgb(231, 217, 217);
  FTabSchema->OnMouseBorderColor = Qt::black;

  FWindow.setObjectName(Q(Form.Name()));
  FWindow.setFont(WindowFont(kWindowFontSize));
  FWidgets[&Form] = &FWindow;
  ++FApplying;
  Build(Form, &FWindow);
  for (TViewElement* Component : Form.Components())
    if (!Component->IsControl() && Component->ClassName() == "TTimer") CreateTimer(*Component);
  if (Form.HasProperty("Caption")) FWindow.setWindowTitle(Q(Form.GetText("Caption")));
  --FApplying;
  FListener = Form.AddListener(
      [this](TViewElement& Element, const std::string& Property) { Apply(Element, Property); });
}

TElementBinding::~TElementBinding() {
  FForm.RemoveListener(FListener);
}

void TElementBinding::Build(TViewElement& Parent, QWidget* ParentWidget) {
  for (TViewElement* Child : Parent.Children()) {
    if (!Child->IsControl()) continue;
    QWidget* W = KindOf(*Child).Create(*Child, ParentWidget, *this);
    W->setObjectName(Q(Child->Name()));
    W->installEventFilter(this);
    FWidgets[Child] = W;
    FByName[Child->Name()] = W;
    FElementOf[W] = Child;
    ApplyAll(*Child);
    Build(*Child, W);
    W->raise();
  }
}

void TElementBinding::CreateTimer(TViewElement& Element) {
  auto* T = new QTimer(this);
  T->setObjectName(Q(Element.Name()));
  FTimers[Element.Name()] = T;
  // A tick that takes longer than the interval (a module that does not answer) is not
  // followed by a queue of late ticks.
  auto Busy = std::make_shared<bool>(false);
  connect(T, &QTimer::timeout, this, [this, &Element, Busy] {
    if (*Busy) return;
    *Busy = true;
    Act([&] { Element.Fire("OnTimer"); });
    *Busy = false;
  });
  T->setInterval(Element.GetInt("Interval"));
  if (Element.GetBool("Enabled")) T->start();
}

void TElementBinding::ApplyAll(TViewElement& Element) {
  static const char* const kOrder[] = {
      "Left",     "Top",      "Width",        "Height",      "Color",     "FontColor",
      "Hint",     "Enabled",  "Items",        "MinValue",    "MaxValue",  "Increment",
      "Decimals", "ShowName", "RangeMessage", "AutoCorrect", "MaxLength", "ReadOnly",
      "Caption",  "Text",     "Value",        "ItemIndex",   "Checked",   "Min",
      "Max",      "Position", "PenColor",     "BrushColor",  "Group",     "AllowDown",
      "AllowUp",  "Down",     "Visible"};
  ApplyFont(Element, FWidgets[&Element]);
  for (const char* Property : kOrder)
    if (Element.HasProperty(Property)) Apply(Element, Property);
}

void TElementBinding::Apply(TViewElement& Element, const std::string& Property) {
  if (Property == "ZOrder") {
    if (Element.Parent()) Restack(*Element.Parent());
    return;
  }
  const auto Timer = FTimers.find(Element.Name());
  if (Timer != FTimers.end() && &Element != &FForm && !Element.IsControl()) {
    if (Property == "Interval") Timer->second->setInterval(Element.GetInt(Property));
    if (Property == "Enabled") {
      if (!Element.GetBool(Property))
        Timer->second->stop();
      else if (!Timer->second->isActive())
        Timer->second->start();
    }
    return;
  }
  if (&Element == &FForm) {
    if (Property == "Caption") FWindow.setWindowTitle(Q(Element.GetText(Property)));
    if (Property == "ActiveControl")
      if (QWidget* W = Widget(Element.GetText(Property))) W->setFocus();
    return;
  }
  const auto Found = FWidgets.find(&Element);
  if (Found == FWidgets.end() || !Found->second) return;
  QWidget* W = Found->second;
  ++FApplying;
  try {
    if (IsGeometry(Property) && !KindOf(Element).Apply(Element, W, Property, *this))
      ApplyGeometry(Element, W);
    else if (Property == "Visible")
      W->setVisible(Element.GetBool(Property));
    else if (Property == "Enabled")
      W->setEnabled(Element.GetBool(Property));
    else if (Property == "Hint")
      W->setToolTip(Q(Element.GetText(Property)));
    else if (Property == "Color")
      ApplyColor(Element, W);
    else if (Property == "FontColor")
      ApplyFontColor(Element, W);
    else
      KindOf(Element).Apply(Element, W, Property, *this);
  } catch (...) {
    --FApplying;
    throw;
  }
  --FApplying;
}

void TElementBinding::Restack(TViewElement& Parent) {
  for (TViewElement* Child : Parent.Children()) {
    const auto Found = FWidgets.find(Child);
    if (Found != FWidgets.end() && Found->second) Found->second->raise();
  }
}

bool TElementBinding::eventFilter(QObject* Watched, QEvent* Event) {
  // Clicks on panels, labels and pictures reach their elements' click handlers; buttons,
  // fields and shape buttons report their own.
  if (Event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
    const auto Found = FElementOf.find(Watched);
    if (Found != FElementOf.end()) {
      TViewElement& E = *Found->second;
      const std::string& C = E.ClassName();
      if ((C == "TPanel" || C == "TLabel" || C == "TImage") && E.HasHandler("OnClick")) {
        Act([&] { E.Click(); });
        return true;
      }
    }
  }
  return QObject::eventFilter(Watched, Event);
}

QWidget* TElementBinding::Widget(std::string_view Name) const {
  const auto Found = FByName.find(Name);
  return Found == FByName.end() ? nullptr : Found->second.data();
}

QTimer* TElementBinding::Timer(std::string_view Name) const {
  const auto Found = FTimers.find(Name);
  return Found == FTimers.end() ? nullptr : Found->second.data();
}

void TElementBinding::Act(const std::function<void()>& Action) const {
  try {
    Action();
  } catch (const std::exception& E) {
    ShowMessage(E.what());
  }
}
