#pragma once
// XML document access on libxml2. Texts cross this interface as UTF-8. Parsing never
// touches the network and never expands external entities. A node handle keeps its
// document alive, so an element bound to a channel stays valid as long as it is held.
// Copies of a TXMLDocument share one document. A document and its nodes are not
// guarded: threads that share them lock around every use.
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/uVariant.h"

struct _xmlNode;
struct TXMLDocumentData;

class TXMLNode {
 public:
  TXMLNode() = default;
  TXMLNode(std::shared_ptr<TXMLDocumentData> document, _xmlNode* node);

  explicit operator bool() const { return FNode != nullptr; }
  bool operator==(const TXMLNode& other) const { return FNode == other.FNode; }

  // The element's name as written ("prefix:name" in a prefixed namespace), case preserved.
  std::string NodeName() const;
  // Child elements in document order (text and comments are not nodes here).
  std::vector<TXMLNode> ChildNodes() const;
  int ChildCount() const;
  TXMLNode Child(int index) const;  // none when out of range
  TXMLNode FirstChild() const;      // none when there is no child element
  TXMLNode NextSibling() const;     // none at the end
  // The first child element with exactly that name, or none.
  TXMLNode FindChild(std::string_view name) const;
  // Appends a new element as the last child and returns it.
  TXMLNode AddChild(std::string_view name);

  // The element's attribute names in document order ("prefix:name" when prefixed).
  std::vector<std::string> AttributeNames() const;
  bool HasAttribute(std::string_view name) const;
  // The attribute's text; a Null variant when it is absent.
  TVariant GetAttribute(std::string_view name) const;
  // Creates or replaces; a value that is not text is stored as its text form.
  void SetAttribute(std::string_view name, const TVariant& value);

 private:
  std::shared_ptr<TXMLDocumentData> FDocument;
  _xmlNode* FNode = nullptr;
};

class TXMLDocument {
 public:
  TXMLDocument();  // empty: no document element
  // Load a whole file at once; a file that is not well-formed raises EXMLError.
  static TXMLDocument LoadFromFile(const std::string& path);
  // Parse text as a file would be parsed (the declaration's encoding is honoured).
  static TXMLDocument LoadFromXML(std::string_view text);

  // Added nodes are indented with one tab per level when the document is written.
  void SetAutoIndent(bool on);
  TXMLNode DocumentElement() const;
  // Writes in the encoding that the declaration names (UTF-8 when none is named).
  void SaveToFile(const std::string& path) const;
  // The bytes SaveToFile would write.
  std::string SaveToXML() const;

 private:
  std::shared_ptr<TXMLDocumentData> FData;
};

class EXMLError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
