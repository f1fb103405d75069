#pragma once
// The window as plain data: named elements arranged as the window's components are, each
// with one table of published properties. The controller reads and sets only these; the Qt
// window follows their changes and passes the operator's actions in through Click(),
// Change() or Fire(), so a headless front end and the tests drive the controller the same way.
// Texts are UTF-8. Everything here belongs to the user-interface thread.
#include <any>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/uVariant.h"

// Colours are 0xRRGGBB.
constexpr int RGBColor(int Red, int Green, int Blue) {
  return (Red & 0xFF) << 16 | (Green & 0xFF) << 8 | (Blue & 0xFF);
}
constexpr int clWhite = RGBColor(255, 255, 255);
constexpr int clRed = RGBColor(255, 0, 0);
constexpr int clBlack = 0;
// The number edits' own texts, until a language file gives others.
inline constexpr const char* kNumberValueName = "Hodnota";
inline constexpr const char* kNumberRangeMessage = "%1 musí být v rozmezí od %2 do %3!";

// How a property converts what is set into it (texts from a language file, for instance).
enum class TPropertyKind {
  Text,
  Integer,  // decimal, "$hex" or "0x hex" text, or a whole number
  Real,
  Boolean,  // "True"/"False" in any case, or a number
  Color,    // as Integer, 0xRRGGBB
  Strings,  // the item list; its text form is one item per line
};

class TViewElement {
 public:
  // Called after a property changed its value; Property is the table's spelling. Structural
  // changes are reported the same way: "Items" (list replaced or changed), "ZOrder".
  using TListener = std::function<void(TViewElement& Element, const std::string& Property)>;
  using THandler = std::function<void(TViewElement& Sender)>;

  // A top-level window: owns the components created through it.
  TViewElement(std::string_view ClassName, std::string_view Name);
  ~TViewElement();
  TViewElement(const TViewElement&) = delete;
  TViewElement& operator=(const TViewElement&) = delete;

  // A new component owned by this element and placed on Parent (this element when null).
  // Raises "A component named %s already exists" for a repeated non-empty name.
  TViewElement& CreateComponent(std::string_view ClassName, std::string_view Name,
                                TViewElement* Parent = nullptr);

  const std::string& Name() const { return FName; }
  const std::string& ClassName() const { return FClassName; }
  TViewElement* Owner() const { return FOwner; }
  TViewElement* Parent() const { return FParent; }
  // Owned components in creation order; visual children in z-order (last is on top).
  const std::vector<TViewElement*>& Components() const { return FComponentList; }
  const std::vector<TViewElement*>& Children() const { return FChildren; }
  // A control sits in a window; a windowed control can hold other controls.
  bool IsControl() const { return FIsControl; }
  bool IsWindowed() const { return FIsWindowed; }

  // Exact, case-sensitive name among the owned components (not recursive).
  TViewElement* FindComponent(std::string_view Name) const;
  // As FindComponent; raises "Component %s not found" when there is none.
  TViewElement& Component(std::string_view Name) const;

  // Properties by name, letter case ignored. Unknown names raise
  // "Property %s does not exist"; values that do not convert raise the converter's text.
  bool HasProperty(std::string_view Name) const;
  TVariant Get(std::string_view Name) const;
  void Set(std::string_view Name, const TVariant& Value);
  std::string GetText(std::string_view Name) const;
  int GetInt(std::string_view Name) const;
  double GetReal(std::string_view Name) const;
  bool GetBool(std::string_view Name) const;
  // Adds a property that the class table does not have (front ends with extra settings);
  // an existing one keeps its value.
  void AddProperty(std::string_view Name, TPropertyKind Kind, const TVariant& Default);

  // The item list of list boxes and combo boxes, each item with optional attached data.
  // Replacing or clearing the list drops the selection; ItemIndex outside the list is -1.
  bool HasItems() const { return FHasItems; }
  std::size_t ItemCount() const { return FItems.size(); }
  const std::vector<std::string>& Items() const { return FItems; }
  const std::any& ItemData(std::size_t Index) const;
  void SetItems(std::vector<std::string> Texts);
  void AddItem(std::string Text, std::any Data = {});
  void DeleteItem(std::size_t Index);
  void ClearItems();

  // Moves this element to the top of its parent's children.
  void BringToFront();

  // Event handlers by event name ("OnClick", "OnChange", ...), letter case ignored.
  void SetHandler(std::string_view Event, THandler Handler);
  bool HasHandler(std::string_view Event) const;
  // Runs the handler when there is one; its errors go to the caller.
  void Fire(std::string_view Event);
  void Click() { Fire("OnClick"); }
  void Change() { Fire("OnChange"); }
  // The operator's edit: set the property, then report the change.
  void Edit(std::string_view Name, const TVariant& Value);

  // Listeners hear the changes of this element and of every component it owns.
  int AddListener(TListener Listener);
  void RemoveListener(int Id);

 private:
  struct TProperty {
    std::string Name;
    TPropertyKind Kind;
    TVariant Value;
  };

  TViewElement(std::string_view ClassName, std::string_view Name, TViewElement* Owner,
               TViewElement* Parent);
  TProperty* FindProperty(std::string_view Name);
  const TProperty* FindProperty(std::string_view Name) const;
  const TProperty& Property(std::string_view Name) const;
  void Store(TProperty& Property, TVariant Value);
  void ApplyGroup();
  void Notify(const std::string& Property);

  std::string FClassName;
  std::string FName;
  TViewElement* FOwner = nullptr;
  TViewElement* FParent = nullptr;
  bool FIsControl = false;
  bool FIsWindowed = false;
  bool FHasItems = false;
  std::vector<TProperty> FProperties;
  std::vector<std::string> FItems;
  std::vector<std::any> FItemData;
  std::vector<std::unique_ptr<TViewElement>> FComponents;
  std::vector<TViewElement*> FComponentList;
  std::vector<TViewElement*> FChildren;
  std::vector<std::pair<std::string, THandler>> FHandlers;
  std::vector<std::pair<int, TListener>> FListeners;
  int FNextListenerId = 1;
};
