#pragma once
// Language files: "*.lng.xml" documents that give the open windows' components new values
// for their properties (captions and hints) and new entries for their lists. A file names
// windows under "forms", and in them components, matched by component name; attributes set
// the property of the same name through the element's generic setter. The export writes a
// file from the windows as they are, the starting point of a translation.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/uXmlDocument.h"

class TViewElement;

// One language file, loaded when the item is made.
class TLanguageItem {
 public:
  // Raises the parser's error when the file cannot be read or is not well-formed.
  explicit TLanguageItem(const std::string& FileName);

  const std::string& FileName() const { return FFileName; }
  const std::string& LanguageName() const { return FLanguageName; }  // "?" when absent
  const std::string& LanguageId() const { return FLanguageId; }      // "-1" when absent

 private:
  TXMLDocument FDocument;
  std::string FFileName;
  std::string FLanguageName;
  std::string FLanguageId;
};

class TLanguage {
 public:
  // A found file name and its item; the item is missing for the files from a faulty one on.
  using TEntry = std::pair<std::string, std::unique_ptr<TLanguageItem>>;

  // Lists the files that match Mask (a wildcard pattern in its last part), sorted by name so
  // every machine lists them alike, and loads each. An absolute Mask names its one folder; a
  // relative one is looked for in each of LanguageDirs(), a name found in several of them
  // listed once, from the first. A file that is not well-formed raises the parser's error after
  // all names are listed; the entries from that file on then have no item.
  void Scan(const std::string& Mask);
  // Loads the file, makes it the current document and applies it to the open windows.
  // False, with nothing changed, when the file does not exist. A leading "\" stands for the
  // program's directory. Parse errors leave the current document; an error while applying
  // ("Property %s does not exist") stops there and keeps what was set before it.
  bool Load(const std::string& FileName);
  // Applies the current document's element for Form, its name matched ignoring case.
  void ApplyToForm(TViewElement& Form);

  const std::vector<TEntry>& Languages() const { return FLanguages; }

 private:
  std::vector<TEntry> FLanguages;
  std::optional<TXMLDocument> FDocument;
};

// Where language files are looked for, each with its trailing '/', the one that wins a name
// first: the user's own ($XDG_DATA_HOME/kvxsetup), the program's directory (not for an
// installed program), the kvxsetup folders of $XDG_DATA_DIRS in their order, and the
// installed program's data folder.
std::vector<std::string> LanguageDirs();

// The one instance of the running program.
TLanguage& Language();

// Applies each window element of a "forms" element to the open window of exactly that name.
void ApplyForms(const TXMLNode& Forms);
// Applies Element (list entries, property attributes, then child elements) to Component.
// Does nothing when either is missing.
void ApplyComponent(TViewElement* Component, const TXMLNode& Element);
// Replaces the list of a combo box from the element's "items"; every error is swallowed.
void ApplyItems(TViewElement& Component, const TXMLNode& Element);
// Among the visual children (windowed controls only), then among the owned components.
TViewElement* FindComponentByName(TViewElement& Component, const std::string& Name);

// Writes the texts of all open windows into FileName ("default.lng.xml" when empty),
// appending to the file when it exists. A relative name is taken from the current directory.
void ExportLanguage(std::string FileName);
// Appends Component's element (list entries, caption, hint, owned components) to Parent.
void ExportComponent(const TViewElement& Component, TXMLNode Parent);
