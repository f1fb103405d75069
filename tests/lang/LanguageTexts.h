#pragma once
// The texts of a language file, and where the shipped files are.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/uPaths.h"
#include "support/uXmlDocument.h"

// The elements and attribute texts of a file by path under "forms": "/fMain#0/sSave#3"
// for an element (empty text), "/fMain#0/sSave#3@caption" for an attribute.
inline std::map<std::string, std::string> Texts(const std::string& File) {
  std::map<std::string, std::string> texts;
  std::vector<std::pair<TXMLNode, std::string>> pending;
  const TXMLDocument document = TXMLDocument::LoadFromFile(File);
  pending.emplace_back(document.DocumentElement().FindChild("forms"), "");
  while (!pending.empty()) {
    auto [node, path] = pending.back();
    pending.pop_back();
    int index = 0;
    for (TXMLNode child = node.FirstChild(); child; child = child.NextSibling()) {
      const std::string childPath = path + "/" + child.NodeName() + "#" + std::to_string(index++);
      texts[childPath] = "";
      for (const std::string& name : child.AttributeNames())
        texts[childPath + "@" + name] = child.GetAttribute(name).ToText();
      pending.emplace_back(child, childPath);
    }
  }
  return texts;
}

inline const std::string kCzech = GetExeDir() + "cesky.lng.xml";
inline const std::string kEnglish = GetExeDir() + "english.lng.xml";
