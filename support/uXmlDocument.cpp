#include "support/uXmlDocument.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

#include "support/uFileUtils.h"
#include "support/uStringUtils.h"

struct TXMLDocumentData {
  explicit TXMLDocumentData(xmlDocPtr document) : doc(document) {}
  ~TXMLDocumentData() { xmlFreeDoc(doc); }
  TXMLDocumentData(const TXMLDocumentData&) = delete;
  TXMLDocumentData& operator=(const TXMLDocumentData&) = delete;

  xmlDocPtr doc;
  bool autoIndent = false;
};

namespace {

const xmlChar* ToXmlChars(const std::string& text) {
  return reinterpret_cast<const xmlChar*>(text.c_str());
}
std::string FromXmlChars(const xmlChar* text) {
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

// Nothing outside the document itself is ever read: no DTDs, no external entities.
xmlParserInputPtr RefuseExternal(const char*, const char*, xmlParserCtxtPtr) {
  return nullptr;
}

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(RefuseExternal);
  });
}

// Keeps the first error of a parse instead of letting the library print it.
struct TParseErrors {
  std::string first;
};

void CollectError(void* data, xmlErrorPtr error) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(data);
  auto* errors = static_cast<TParseErrors*>(ctxt->_private);
  if (!errors || !error || error->level < XML_ERR_ERROR || !errors->first.empty()) return;
  std::string message = Trim(error->message ? error->message : "unknown error");
  const std::string file = error->file ? error->file : "";
  errors->first = file.empty() ? Format("line %d: %s", error->line, message.c_str())
                               : Format("%s(%d): %s", file.c_str(), error->line, message.c_str());
}

struct TParserCtxtDeleter {
  void operator()(xmlParserCtxtPtr ctxt) const { xmlFreeParserCtxt(ctxt); }
};

std::shared_ptr<TXMLDocumentData> Parse(std::string_view text, const std::string& url) {
  if (text.size() > static_cast<std::size_t>(INT_MAX))
    throw EXMLError(Format("%s: XML text too large", url.c_str()));
  InitLibrary();
  std::unique_ptr<xmlParserCtxt, TParserCtxtDeleter> ctxt(xmlNewParserCtxt());
  if (!ctxt) throw EXMLError("Out of memory creating the XML parser");
  TParseErrors errors;
  ctxt->_private = &errors;
  ctxt->sax->serror = CollectError;
  // No network, no DTD loading, no entity substitution; the library's own depth and
  // amplification limits stay on (no XML_PARSE_HUGE).
  const int options = XML_PARSE_NONET | XML_PARSE_NOWARNING;
  xmlDocPtr doc = xmlCtxtReadMemory(ctxt.get(), text.data(), static_cast<int>(text.size()),
                                    url.empty() ? nullptr : url.c_str(), nullptr, options);
  if (!doc || !ctxt->wellFormed) {
    xmlFreeDoc(doc);
    throw EXMLError(errors.first.empty() ? Format("%s: not well-formed XML", url.c_str())
                                         : errors.first);
  }
  return std::make_shared<TXMLDocumentData>(doc);
}

std::string ReadWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throw EXMLError(Format("%s: cannot open file (%s)", path.c_str(), std::strerror(errno)));
  std::string content;
  char buffer[65536];
  int error = 0;
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) error = errno;
    if (count <= 0) break;
    content.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(fd);
  if (error)
    throw EXMLError(Format("%s: cannot read file (%s)", path.c_str(), std::strerror(error)));
  return content;
}

// Element and attribute names are checked so that a bad name is refused here instead
// of producing a file that cannot be read back.
void CheckName(const std::string& name) {
  if (name.find('\0') != std::string::npos || xmlValidateName(ToXmlChars(name), 0) != 0)
    throw EXMLError(Format("Invalid XML name '%s'", name.c_str()));
}

// XML 1.0 cannot carry control characters other than tab, line feed and carriage return.
void CheckValue(const std::string& value) {
  for (unsigned char character : value)
    if (character < 0x20 && character != '\t' && character != '\n' && character != '\r')
      throw EXMLError(Format("Attribute value contains control character 0x%02X", character));
  if (!xmlCheckUTF8(ToXmlChars(value))) throw EXMLError("Attribute value is not valid UTF-8 text");
}

bool IsElement(xmlNodePtr node) {
  return node && node->type == XML_ELEMENT_NODE;
}

xmlNodePtr NextElement(xmlNodePtr node) {
  while (node && !IsElement(node)) node = node->next;
  return node;
}

// "prefix:name" for names in a prefixed namespace, as written in the file.
std::string QualifiedName(const xmlChar* name, xmlNsPtr ns) {
  return ns && ns->prefix ? FromXmlChars(ns->prefix) + ":" + FromXmlChars(name)
                          : FromXmlChars(name);
}

xmlAttrPtr FindAttribute(xmlNodePtr node, std::string_view name) {
  if (!IsElement(node)) return nullptr;
  for (xmlAttrPtr attr = node->properties; attr; attr = attr->next)
    if (QualifiedName(attr->name, attr->ns) == name) return attr;
  return nullptr;
}

// Whitespace-only text between child elements would stop the serializer from
// indenting; it is removed where an element holds nothing but elements and blanks.
void StripIndentation(xmlNodePtr root) {
  std::vector<xmlNodePtr> pending{root};
  while (!pending.empty()) {
    xmlNodePtr node = pending.back();
    pending.pop_back();
    bool elementOnly = true;
    bool hasElement = false;
    for (xmlNodePtr child = node->children; child; child = child->next) {
      if (IsElement(child)) {
        hasElement = true;
        pending.push_back(child);
      } else if (child->type == XML_TEXT_NODE
                     ? !xmlIsBlankNode(child)
                     : child->type != XML_COMMENT_NODE && child->type != XML_PI_NODE) {
        elementOnly = false;
      }
    }
    if (!hasElement || !elementOnly) continue;
    for (xmlNodePtr child = node->children; child;) {
      xmlNodePtr next = child->next;
      if (child->type == XML_TEXT_NODE) {
        xmlUnlinkNode(child);
        xmlFreeNode(child);
      }
      child = next;
    }
  }
}

// The document's bytes in the encoding that its declaration names.
std::string Serialize(const TXMLDocumentData& data) {
  InitLibrary();
  const char* encoding =
      data.doc->encoding ? reinterpret_cast<const char*>(data.doc->encoding) : nullptr;
  // The indentation string is a per-thread setting of the library.
  const char* savedIndent = xmlTreeIndentString;
  const int savedIndentOutput = xmlIndentTreeOutput;
  xmlTreeIndentString = "\t";
  xmlIndentTreeOutput = 1;
  xmlChar* buffer = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(data.doc, &buffer, &size, encoding, data.autoIndent ? 1 : 0);
  xmlTreeIndentString = savedIndent;
  xmlIndentTreeOutput = savedIndentOutput;
  if (!buffer)
    throw EXMLError(
        Format("Cannot write the document in encoding '%s'", encoding ? encoding : "UTF-8"));
  std::string result(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(size));
  xmlFree(buffer);
  return result;
}

// Written beside the target and renamed over it, so a failed save leaves the old file whole.
void WriteFileReplacing(const std::string& path, const std::string& content) {
  const std::string temp = path + ".tmp~";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0)
    throw EXMLError(Format("%s: cannot create file (%s)", path.c_str(), std::strerror(errno)));
  int error = WriteAll(fd, content);
  if (!error && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  if (!error && std::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error) {
    ::unlink(temp.c_str());
    throw EXMLError(Format("%s: cannot write file (%s)", path.c_str(), std::strerror(error)));
  }
}

}  // namespace

TXMLNode::TXMLNode(std::shared_ptr<TXMLDocumentData> document, _xmlNode* node)
    : FDocument(std::move(document)), FNode(node) {}

std::string TXMLNode::NodeName() const {
  return FNode ? QualifiedName(FNode->name, FNode->ns) : std::string();
}

std::vector<TXMLNode> TXMLNode::ChildNodes() const {
  std::vector<TXMLNode> result;
  for (xmlNodePtr child = FNode ? NextElement(FNode->children) : nullptr; child;
       child = NextElement(child->next))
    result.emplace_back(FDocument, child);
  return result;
}

int TXMLNode::ChildCount() const {
  int count = 0;
  for (xmlNodePtr child = FNode ? NextElement(FNode->children) : nullptr; child;
       child = NextElement(child->next))
    ++count;
  return count;
}

TXMLNode TXMLNode::Child(int index) const {
  if (index < 0) return TXMLNode();
  xmlNodePtr child = FNode ? NextElement(FNode->children) : nullptr;
  for (; child && index > 0; --index) child = NextElement(child->next);
  return child ? TXMLNode(FDocument, child) : TXMLNode();
}

TXMLNode TXMLNode::FirstChild() const {
  return Child(0);
}

TXMLNode TXMLNode::NextSibling() const {
  xmlNodePtr next = FNode ? NextElement(FNode->next) : nullptr;
  return next ? TXMLNode(FDocument, next) : TXMLNode();
}

TXMLNode TXMLNode::FindChild(std::string_view name) const {
  for (xmlNodePtr child = FNode ? NextElement(FNode->children) : nullptr; child;
       child = NextElement(child->next))
    if (QualifiedName(child->name, child->ns) == name) return TXMLNode(FDocument, child);
  return TXMLNode();
}

TXMLNode TXMLNode::AddChild(std::string_view name) {
  if (!FNode) throw EXMLError("Cannot add a child to no node");
  const std::string text(name);
  CheckName(text);
  xmlNodePtr child = xmlNewDocNode(FNode->doc, nullptr, ToXmlChars(text), nullptr);
  if (!child || !xmlAddChild(FNode, child)) {
    xmlFreeNode(child);
    throw EXMLError(Format("Cannot add element '%s'", text.c_str()));
  }
  return TXMLNode(FDocument, child);
}

std::vector<std::string> TXMLNode::AttributeNames() const {
  std::vector<std::string> result;
  if (IsElement(FNode))
    for (xmlAttrPtr attr = FNode->properties; attr; attr = attr->next)
      result.push_back(QualifiedName(attr->name, attr->ns));
  return result;
}

bool TXMLNode::HasAttribute(std::string_view name) const {
  return FindAttribute(FNode, name) != nullptr;
}

TVariant TXMLNode::GetAttribute(std::string_view name) const {
  xmlAttrPtr attr = FindAttribute(FNode, name);
  if (!attr) return TVariant::Null();
  xmlChar* value = xmlNodeListGetString(FNode->doc, attr->children, 1);
  std::string text = FromXmlChars(value);
  xmlFree(value);
  return TVariant(std::move(text));
}

void TXMLNode::SetAttribute(std::string_view name, const TVariant& value) {
  if (!FNode) throw EXMLError("Cannot set an attribute of no node");
  const std::string attrName(name);
  const std::string text = value.ToText();
  CheckName(attrName);
  CheckValue(text);
  if (xmlAttrPtr existing = FindAttribute(FNode, name)) {
    xmlNodePtr children = xmlNewDocText(FNode->doc, ToXmlChars(text));
    if (!children) throw EXMLError(Format("Cannot set attribute '%s'", attrName.c_str()));
    xmlFreeNodeList(existing->children);
    existing->children = children;
    existing->last = children;
    children->parent = reinterpret_cast<xmlNodePtr>(existing);
    return;
  }
  if (!xmlNewProp(FNode, ToXmlChars(attrName), ToXmlChars(text)))
    throw EXMLError(Format("Cannot set attribute '%s'", attrName.c_str()));
}

TXMLDocument::TXMLDocument() {
  InitLibrary();
  xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
  if (!doc) throw EXMLError("Out of memory creating an XML document");
  FData = std::make_shared<TXMLDocumentData>(doc);
}

TXMLDocument TXMLDocument::LoadFromFile(const std::string& path) {
  TXMLDocument result;
  result.FData = Parse(ReadWholeFile(path), path);
  return result;
}

TXMLDocument TXMLDocument::LoadFromXML(std::string_view text) {
  TXMLDocument result;
  result.FData = Parse(text, std::string());
  return result;
}

void TXMLDocument::SetAutoIndent(bool on) {
  FData->autoIndent = on;
  if (on)
    if (xmlNodePtr root = xmlDocGetRootElement(FData->doc)) StripIndentation(root);
}

TXMLNode TXMLDocument::DocumentElement() const {
  xmlNodePtr root = xmlDocGetRootElement(FData->doc);
  return root ? TXMLNode(FData, root) : TXMLNode();
}

void TXMLDocument::SaveToFile(const std::string& path) const {
  WriteFileReplacing(path, Serialize(*FData));
}

std::string TXMLDocument::SaveToXML() const {
  return Serialize(*FData);
}
