#include "lang/uLanguage.h"

#include <fnmatch.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <map>
#include <system_error>

#include "app/uViewElement.h"
#include "lang/uForms.h"
#include "support/uPaths.h"
#include "support/uStringUtils.h"
#include "support/uXmlUtils.h"

namespace {

const char kExportTemplate[] =
    "<?xml version=\"1.0\" encoding=\"windows-1250\" ?><language name=\"language\"/>";
const char kMissingValue[] = "<Error In Lng File>";

// Only combo boxes and radio groups take their lists from a language file; list boxes hold
// data, not texts of the window.
bool HasLanguageItems(const TViewElement& Component) {
  return Component.HasItems() &&
         (Component.ClassName() == "TComboBox" || Component.ClassName() == "TRadioGroup");
}

bool IsRegularFile(const std::string& Path) {
  std::error_code error;
  return std::filesystem::is_regular_file(Path, error);
}

}  // namespace

TLanguageItem::TLanguageItem(const std::string& FileName)
    : FDocument(TXMLDocument::LoadFromFile(FileName)), FFileName(FileName) {
  const TXMLNode root = FDocument.DocumentElement();
  FLanguageName = ReadAttr(root, "name", "?").ToText();
  FLanguageId = ReadAttr(root, "id", "-1").ToText();
}

std::vector<std::string> LanguageDirs() {
  std::vector<std::string> dirs{ProgramSubdir(XdgDataHome()) + "/"};
  if (const std::string own = OwnProgramDir(); !own.empty()) dirs.push_back(own);
  for (const std::string& base : XdgDataDirs()) dirs.push_back(ProgramSubdir(base) + "/");
  dirs.push_back(ProgramDataDir() + "/");
  return dirs;
}

void TLanguage::Scan(const std::string& Mask) {
  FLanguages.clear();
  const std::size_t slash = Mask.rfind('/');
  const std::string folder = Mask.substr(0, slash + 1);  // empty when Mask has no '/'
  const std::string pattern = Mask.substr(slash + 1);
  const bool absolute = !Mask.empty() && Mask[0] == '/';
  const std::vector<std::string> dirs = absolute ? std::vector<std::string>{""} : LanguageDirs();

  // File name -> path in the first folder that has it; the map keeps the names sorted so
  // every machine lists them alike.
  std::map<std::string, std::string> found;
  for (const std::string& dir : dirs) {
    const std::string directory = dir + folder;
    std::error_code error;
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
      const std::string name = it->path().filename().string();
      if (fnmatch(pattern.c_str(), name.c_str(), 0) == 0) found.emplace(name, directory + name);
    }
  }

  for (const auto& entry : found) FLanguages.emplace_back(entry.first, nullptr);
  for (TEntry& entry : FLanguages)
    entry.second = std::make_unique<TLanguageItem>(found.at(entry.first));
}

bool TLanguage::Load(const std::string& FileName) {
  std::string path = FileName;
  if (!path.empty() && path[0] == '\\') path = GetExeDir() + path.substr(1);
  if (!IsRegularFile(path)) return false;
  FDocument = TXMLDocument::LoadFromFile(path);
  const TXMLNode root = FDocument->DocumentElement();
  for (TXMLNode child = root.FirstChild(); child; child = child.NextSibling())
    if (child.NodeName() == "forms") ApplyForms(child);
  return true;
}

void TLanguage::ApplyToForm(TViewElement& Form) {
  if (!FDocument) return;
  const TXMLNode forms = FDocument->DocumentElement().FindChild("forms");
  const std::string name = UpperCase(Form.Name());
  for (TXMLNode child = forms.FirstChild(); child; child = child.NextSibling())
    if (UpperCase(child.NodeName()) == name) {
      ApplyComponent(&Form, child);
      return;
    }
}

TLanguage& Language() {
  static TLanguage instance;
  return instance;
}

void ApplyForms(const TXMLNode& Forms) {
  const std::vector<TViewElement*> windows = OpenForms();
  for (TXMLNode child = Forms.FirstChild(); child; child = child.NextSibling()) {
    const std::string name = child.NodeName();
    const auto window = std::find_if(windows.begin(), windows.end(),
                                     [&](TViewElement* form) { return form->Name() == name; });
    if (window != windows.end() && (*window)->IsControl()) ApplyComponent(*window, child);
  }
}

void ApplyComponent(TViewElement* Component, const TXMLNode& Element) {
  if (!Component || !Element) return;
  ApplyItems(*Component, Element);
  for (const std::string& name : Element.AttributeNames())
    Component->Set(name, Element.GetAttribute(name));
  for (TXMLNode child = Element.FirstChild(); child; child = child.NextSibling())
    ApplyComponent(FindComponentByName(*Component, child.NodeName()), child);
}

void ApplyItems(TViewElement& Component, const TXMLNode& Element) {
  try {
    const TXMLNode items = Element.FindChild("items");
    if (!items || !HasLanguageItems(Component)) return;
    int selected = -1;
    try {
      selected = Component.GetInt("ItemIndex");
    } catch (const std::exception&) {
    }
    std::vector<std::string> texts;
    for (TXMLNode item = items.FirstChild(); item; item = item.NextSibling())
      if (item.NodeName() == "item")
        texts.push_back(ReadAttr(item, "value", kMissingValue).ToText());
    Component.SetItems(std::move(texts));
    try {
      Component.Set("ItemIndex", selected);
    } catch (const std::exception&) {
    }
  } catch (const std::exception&) {
    // A broken list entry must not stop the captions of the rest of the file.
  }
}

TViewElement* FindComponentByName(TViewElement& Component, const std::string& Name) {
  if (Component.IsWindowed())
    for (TViewElement* child : Component.Children())
      if (child->Name() == Name) return child;
  for (TViewElement* owned : Component.Components())
    if (owned->Name() == Name) return owned;
  return nullptr;
}

void ExportLanguage(std::string FileName) {
  if (FileName.empty()) FileName = "default.lng.xml";
  TXMLDocument document = IsRegularFile(FileName) ? TXMLDocument::LoadFromFile(FileName)
                                                  : TXMLDocument::LoadFromXML(kExportTemplate);
  document.SetAutoIndent(true);
  TXMLNode root = document.DocumentElement();
  TXMLNode forms = root.FindChild("forms");
  if (!forms) forms = root.AddChild("forms");
  for (TViewElement* form : OpenForms()) ExportComponent(*form, forms);
  document.SaveToFile(FileName);
}

void ExportComponent(const TViewElement& Component, TXMLNode Parent) {
  if (Component.Name().empty()) return;
  TXMLNode element = Parent.AddChild(Component.Name());
  if (HasLanguageItems(Component)) {
    TXMLNode items = element.AddChild("items");
    for (const std::string& text : Component.Items())
      items.AddChild("item").SetAttribute("value", text);
  }
  try {
    if (Component.HasProperty("Caption")) {
      const std::string caption = Component.GetText("Caption");
      if (!caption.empty()) element.SetAttribute("caption", caption);
    }
    if (Component.IsControl() && Component.HasProperty("Hint")) {
      const std::string hint = Component.GetText("Hint");
      if (!hint.empty()) element.SetAttribute("hint", hint);
    }
    for (const TViewElement* owned : Component.Components()) ExportComponent(*owned, element);
  } catch (const std::exception&) {
    // One component that cannot be written (a name XML cannot carry, say) costs only the
    // rest of its own element, not the whole export.
  }
}
