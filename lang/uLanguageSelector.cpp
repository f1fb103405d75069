#include "lang/uLanguageSelector.h"

#include <any>
#include <filesystem>
#include <memory>

#include "app/uViewElement.h"
#include "lang/uForms.h"
#include "lang/uLanguage.h"
#include "lang/uLanguageChoice.h"

namespace {

const char kSelector[] = "cbbLanguage";

// The entry's language item, or none for plain entries and indexes outside the list.
TLanguageItem* EntryItem(const TViewElement& cbbLanguage, int Index) {
  if (Index < 0 || static_cast<std::size_t>(Index) >= cbbLanguage.ItemCount()) return nullptr;
  TLanguageItem* const* item = std::any_cast<TLanguageItem*>(&cbbLanguage.ItemData(Index));
  return item ? *item : nullptr;
}

// Applies the entry's file to the open windows and once more to Form.
void ApplyEntry(TViewElement& Form, const TLanguageItem& Item) {
  Language().Load(Item.FileName());
  Language().ApplyToForm(Form);
}

// The entry of the language remembered from the last run, or none.
int RememberedEntry(const TViewElement& cbbLanguage) {
  const std::string remembered = RememberedLanguage();
  if (remembered.empty()) return -1;
  for (std::size_t index = 0; index < cbbLanguage.ItemCount(); ++index) {
    const TLanguageItem* item = EntryItem(cbbLanguage, static_cast<int>(index));
    if (item && std::filesystem::path(item->FileName()).filename() == remembered)
      return static_cast<int>(index);
  }
  return -1;
}

}  // namespace

void InitializeLanguages(TViewElement& Form) {
  TViewElement& selector = Form.Component(kSelector);
  // The registration lives in the handler, so it ends when the window and its selector go.
  auto open = std::make_shared<TOpenForm>(Form);
  selector.SetHandler("OnChange", [&Form, open](TViewElement&) { cbbLanguageChange(Form); });
  if (TViewElement* gen = Form.FindComponent("Button1"))
    gen->SetHandler("OnClick", [](TViewElement&) { Button1Click(); });

  // The entries must not point at items that the new scan frees.
  selector.SetItems(selector.Items());
  Language().Scan("*.lng.xml");
  selector.ClearItems();
  for (const auto& [name, item] : Language().Languages())
    selector.AddItem(item->LanguageName(), item.get());
  // The operator's language of the last run; when its file is gone the window starts as on
  // its first run.
  if (const int remembered = RememberedEntry(selector); remembered >= 0) {
    TLanguageItem* item = EntryItem(selector, remembered);
    selector.Set("ItemIndex", remembered);
    ApplyEntry(Form, *item);
  }
}

TLanguageDrawItem cbbLanguageDrawItem(const TViewElement& cbbLanguage, int Index,
                                      const TDrawRect& Rect) {
  TLanguageDrawItem draw;
  draw.Fill = Rect;
  draw.FontName = "Trebuchet MS";
  draw.FontSize = 10;
  if (Index >= 0 && static_cast<std::size_t>(Index) < cbbLanguage.ItemCount())
    draw.Text = cbbLanguage.Items()[Index];
  draw.TextLeft = Rect.Left + 30;
  draw.TextTop = Rect.Top;
  if (const TLanguageItem* item = EntryItem(cbbLanguage, Index)) {
    if (item->LanguageId() == "$405")
      draw.ImageIndex = 0;
    else if (item->LanguageId() == "$409")
      draw.ImageIndex = 1;
  }
  draw.ImageLeft = Rect.Left + 3;
  draw.ImageTop = Rect.Top + 3;
  return draw;
}

void cbbLanguageChange(TViewElement& Form) {
  const TViewElement& selector = Form.Component(kSelector);
  // Taken before the file is applied: the file may replace the selector's own entries.
  TLanguageItem* item = EntryItem(selector, selector.GetInt("ItemIndex"));
  if (!item) return;
  ApplyEntry(Form, *item);
  RememberLanguage(item->FileName());
}

void Button1Click() {
  ExportLanguage("Export.lng.xml");
}
