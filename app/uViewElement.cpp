#include "app/uViewElement.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <system_error>

#include "app/uViewClasses.h"
#include "support/uErrors.h"
#include "support/uNumberText.h"
#include "support/uStringUtils.h"

namespace {

bool ParseInteger(std::string_view Text, long long& Value) {
  const std::string trimmed = Trim(Text);
  std::string_view digits = trimmed;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  int base = 10;
  if (!digits.empty() && digits[0] == '$') {
    base = 16;
    digits.remove_prefix(1);
  } else if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  const std::optional<std::uint64_t> magnitude = ParseDigits(digits, base);
  if (!magnitude || *magnitude > static_cast<unsigned long long>(LLONG_MAX)) return false;
  Value = negative ? -static_cast<long long>(*magnitude) : static_cast<long long>(*magnitude);
  return true;
}

int ToInteger(const TVariant& Value) {
  const std::string text = Value.ToText();
  long long number = 0;
  bool valid = false;
  if (Value.IsNumber()) {
    double real = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), real);
    valid =
        result.ec == std::errc{} && std::trunc(real) == real && real >= INT_MIN && real <= INT_MAX;
    number = valid ? static_cast<long long>(real) : 0;
  } else if (Value.IsText()) {
    valid = ParseInteger(text, number) && number >= INT_MIN && number <= INT_MAX;
  }
  if (!valid) throw Exception(Format("'%s' is not a valid integer value", text.c_str()));
  return static_cast<int>(number);
}

double ToReal(const TVariant& Value) {
  if (Value.IsText() || Value.IsNumber())
    if (const std::optional<double> real = ParseDecimalReal(Value.ToText())) return *real;
  throw Exception(Format("'%s' is not a valid floating point value", Value.ToText().c_str()));
}

std::vector<std::string> SplitLines(const std::string& Text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < Text.size()) {
    std::size_t end = Text.find('\n', start);
    if (end == std::string::npos) end = Text.size();
    std::string line = Text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string>& Lines) {
  std::string text;
  for (std::size_t i = 0; i < Lines.size(); ++i) {
    if (i > 0) text += '\n';
    text += Lines[i];
  }
  return text;
}

}  // namespace

TViewElement::TViewElement(std::string_view ClassName, std::string_view Name)
    : TViewElement(ClassName, Name, nullptr, nullptr) {}

TViewElement::TViewElement(std::string_view ClassName, std::string_view Name, TViewElement* Owner,
                           TViewElement* Parent)
    : FClassName(ClassName), FName(Name), FOwner(Owner), FParent(Parent) {
  const TViewClass& viewClass = ViewClass(ClassName);
  FIsControl = viewClass.Control;
  FIsWindowed = viewClass.Windowed;
  ForEachProperty(viewClass, [this](const TPropertyDef& property) {
    AddProperty(property.Name, property.Kind, property.Default);
  });
}

TViewElement::~TViewElement() = default;

TViewElement& TViewElement::CreateComponent(std::string_view ClassName, std::string_view Name,
                                            TViewElement* Parent) {
  if (!Name.empty() && FindComponent(Name))
    throw Exception("A component named " + std::string(Name) + " already exists");
  if (!Parent) Parent = this;
  auto element = std::unique_ptr<TViewElement>(new TViewElement(ClassName, Name, this, Parent));
  TViewElement& result = *element;
  FComponents.push_back(std::move(element));
  FComponentList.push_back(&result);
  Parent->FChildren.push_back(&result);
  return result;
}

TViewElement* TViewElement::FindComponent(std::string_view Name) const {
  for (TViewElement* component : FComponentList)
    if (component->FName == Name) return component;
  return nullptr;
}

TViewElement& TViewElement::Component(std::string_view Name) const {
  if (TViewElement* component = FindComponent(Name)) return *component;
  throw Exception("Component " + std::string(Name) + " not found");
}

TViewElement::TProperty* TViewElement::FindProperty(std::string_view Name) {
  for (TProperty& property : FProperties)
    if (SameText(property.Name, Name)) return &property;
  return nullptr;
}

const TViewElement::TProperty* TViewElement::FindProperty(std::string_view Name) const {
  for (const TProperty& property : FProperties)
    if (SameText(property.Name, Name)) return &property;
  return nullptr;
}

const TViewElement::TProperty& TViewElement::Property(std::string_view Name) const {
  if (const TProperty* property = FindProperty(Name)) return *property;
  throw Exception("Property " + std::string(Name) + " does not exist");
}

bool TViewElement::HasProperty(std::string_view Name) const {
  return FindProperty(Name);
}

void TViewElement::AddProperty(std::string_view Name, TPropertyKind Kind, const TVariant& Default) {
  if (FindProperty(Name)) return;
  if (Kind == TPropertyKind::Strings) {
    FHasItems = true;
    FProperties.push_back({std::string(Name), Kind, TVariant()});
    return;
  }
  FProperties.push_back({std::string(Name), Kind, Default});
}

TVariant TViewElement::Get(std::string_view Name) const {
  const TProperty& property = Property(Name);
  if (property.Kind == TPropertyKind::Strings) return TVariant(JoinLines(FItems));
  return property.Value;
}

std::string TViewElement::GetText(std::string_view Name) const {
  return Get(Name).ToText();
}
int TViewElement::GetInt(std::string_view Name) const {
  return ToInteger(Get(Name));
}
double TViewElement::GetReal(std::string_view Name) const {
  return ToReal(Get(Name));
}
bool TViewElement::GetBool(std::string_view Name) const {
  return Get(Name).ToBool();
}

void TViewElement::Set(std::string_view Name, const TVariant& Value) {
  TProperty* property = FindProperty(Name);
  if (!property) throw Exception("Property " + std::string(Name) + " does not exist");
  switch (property->Kind) {
    case TPropertyKind::Text:
      Store(*property, TVariant(Value.ToText()));
      break;
    case TPropertyKind::Integer:
    case TPropertyKind::Color:
      Store(*property, TVariant(ToInteger(Value)));
      break;
    case TPropertyKind::Real:
      Store(*property, TVariant(ToReal(Value)));
      break;
    case TPropertyKind::Boolean:
      Store(*property, TVariant(Value.ToBool()));
      break;
    case TPropertyKind::Strings:
      SetItems(SplitLines(Value.ToText()));
      break;
  }
}

void TViewElement::Store(TProperty& Property, TVariant Value) {
  if (SameText(Property.Name, "ItemIndex") && FHasItems) {
    const int index = ToInteger(Value);
    if (index < -1 || index >= static_cast<int>(FItems.size())) Value = TVariant(-1);
  }
  if (Property.Value == Value) return;
  Property.Value = std::move(Value);
  const std::string name = Property.Name;  // the table may grow inside a listener
  if (SameText(name, "Down")) ApplyGroup();
  Notify(name);
}

// A shape button that goes down releases the other buttons of its group on the same parent.
void TViewElement::ApplyGroup() {
  const TProperty* group = FindProperty("Group");
  if (!FParent || !group || ToInteger(group->Value) == 0 || !GetBool("Down")) return;
  for (TViewElement* sibling : FParent->FChildren) {
    if (sibling == this || !sibling->HasProperty("Down") || !sibling->HasProperty("Group"))
      continue;
    if (sibling->GetInt("Group") == ToInteger(group->Value)) sibling->Set("Down", false);
  }
}

const std::any& TViewElement::ItemData(std::size_t Index) const {
  if (Index >= FItemData.size()) throw Exception(Format("List index out of bounds (%zu)", Index));
  return FItemData[Index];
}

void TViewElement::SetItems(std::vector<std::string> Texts) {
  Property("Items");
  FItems = std::move(Texts);
  FItemData.assign(FItems.size(), std::any());
  Notify("Items");
  Set("ItemIndex", -1);
}

void TViewElement::AddItem(std::string Text, std::any Data) {
  Property("Items");
  FItems.push_back(std::move(Text));
  FItemData.push_back(std::move(Data));
  Notify("Items");
}

void TViewElement::DeleteItem(std::size_t Index) {
  Property("Items");
  if (Index >= FItems.size()) throw Exception(Format("List index out of bounds (%zu)", Index));
  const int selected = GetInt("ItemIndex");
  FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(Index));
  FItemData.erase(FItemData.begin() + static_cast<std::ptrdiff_t>(Index));
  Notify("Items");
  // The selection stays on its item; the deleted item itself leaves no selection.
  if (selected == static_cast<int>(Index))
    Set("ItemIndex", -1);
  else if (selected > static_cast<int>(Index))
    Set("ItemIndex", selected - 1);
}

void TViewElement::ClearItems() {
  SetItems({});
}

void TViewElement::BringToFront() {
  if (!FParent) return;
  auto& siblings = FParent->FChildren;
  auto it = std::find(siblings.begin(), siblings.end(), this);
  if (it + 1 == siblings.end()) return;
  std::rotate(it, it + 1, siblings.end());
  Notify("ZOrder");
}

void TViewElement::SetHandler(std::string_view Event, THandler Handler) {
  for (auto& [name, handler] : FHandlers)
    if (SameText(name, Event)) {
      handler = std::move(Handler);
      return;
    }
  FHandlers.emplace_back(std::string(Event), std::move(Handler));
}

bool TViewElement::HasHandler(std::string_view Event) const {
  for (const auto& [name, handler] : FHandlers)
    if (SameText(name, Event)) return static_cast<bool>(handler);
  return false;
}

void TViewElement::Fire(std::string_view Event) {
  for (const auto& [name, handler] : FHandlers)
    if (SameText(name, Event)) {
      if (handler) {
        const THandler call = handler;  // the handler may replace itself
        call(*this);
      }
      return;
    }
}

void TViewElement::Edit(std::string_view Name, const TVariant& Value) {
  Set(Name, Value);
  Change();
}

int TViewElement::AddListener(TListener Listener) {
  const int id = FNextListenerId++;
  FListeners.emplace_back(id, std::move(Listener));
  return id;
}

void TViewElement::RemoveListener(int Id) {
  std::erase_if(FListeners, [Id](const auto& entry) { return entry.first == Id; });
}

void TViewElement::Notify(const std::string& Property) {
  for (TViewElement* element = this; element; element = element->FOwner) {
    const auto listeners = element->FListeners;  // listeners may add or remove listeners
    for (const auto& [id, listener] : listeners) listener(*this, Property);
  }
}
