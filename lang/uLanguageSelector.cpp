#include "lang/uLanguageSelector.h"

#include <any>
#include <memory>

#include "app/uViewElement.h"
#include "lang/uForms.h"
#include "lang/uLanguage.h"

namespace {

const char kSelector[] = "cbbLanguage";

// The entry's language item, or none for plain entries and indexes outside the list.
TLanguageItem* EntryItem(const TViewElement& cbbLanguage, int Index) {
  if (Index < 0 || static_cast<std::size_t>(Index) >= cbbLanguage.ItemCount()) return nullptr;
  TLanguageItem* const* item = std::any_cast<TLanguageItem*>(&cbbLanguage.ItemData(Index));
  return item ? *item : nullptr;
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
  Language().Load(item->FileName());
  Language().ApplyToForm(Form);
}

void Button1Click() {
  ExportLanguage("Export.lng.xml");
}
