#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TempDir.h"
#include "support/uXmlDocument.h"

namespace {

// "česky", "Uložit", "Měření" as Windows-1250 bytes and as UTF-8.
const std::string CeskyCp =
    "\xE8"
    "esky";
const std::string UlozitCp =
    "Ulo\x9E"
    "it";
const std::string MereniCp =
    "M\xEC\xF8"
    "en\xED";
const std::string CeskyUtf8 =
    "\xC4\x8D"
    "esky";
const std::string UlozitUtf8 =
    "Ulo\xC5\xBE"
    "it";
const std::string MereniUtf8 =
    "M\xC4\x9B\xC5\x99"
    "en\xC3\xAD";

const std::string Declaration = "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\n";

std::string LanguageFile() {
  return Declaration + "<language name=\"" + CeskyCp +
         "\">\n  <forms>\n    <form name=\"fMain\">\n" + "      <item name=\"btnSave\" Caption=\"" +
         UlozitCp + "\"/>\n    </form>\n  </forms>\n" + "</language>\n";
}

}  // namespace

TEST(XmlDocument, Cp1250LanguageFileReadsChangesAndSavesIndented) {
  TTempDir temp;
  const std::string path = temp.File("cs.lng.xml");
  WriteBytes(path, LanguageFile());

  TXMLDocument doc = TXMLDocument::LoadFromFile(path);
  TXMLNode root = doc.DocumentElement();
  ASSERT_TRUE(root);
  EXPECT_EQ(root.NodeName(), "language");
  EXPECT_EQ(root.GetAttribute("name").ToText(), CeskyUtf8);
  TXMLNode form = root.FindChild("forms").FindChild("form");
  ASSERT_TRUE(form);
  EXPECT_EQ(form.FirstChild().GetAttribute("Caption").ToText(), UlozitUtf8);

  doc.SetAutoIndent(true);
  TXMLNode added = form.AddChild("item");
  added.SetAttribute("name", "lblMeas");
  added.SetAttribute("Caption", MereniUtf8);
  doc.SaveToFile(path);

  const std::string expected = Declaration + "<language name=\"" + CeskyCp + "\">\n" +
                               "\t<forms>\n\t\t<form name=\"fMain\">\n" +
                               "\t\t\t<item name=\"btnSave\" Caption=\"" + UlozitCp + "\"/>\n" +
                               "\t\t\t<item name=\"lblMeas\" Caption=\"" + MereniCp + "\"/>\n" +
                               "\t\t</form>\n\t</forms>\n</language>\n";
  EXPECT_EQ(ReadBytes(path), expected);
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp~"));

  TXMLDocument again = TXMLDocument::LoadFromFile(path);
  EXPECT_EQ(
      again.DocumentElement().FindChild("forms").FindChild("form").Child(1).GetAttribute("Caption"),
      TVariant(MereniUtf8));
}

TEST(XmlDocument, TemplateGrowsWithOneTabPerLevel) {
  TXMLDocument doc = TXMLDocument::LoadFromXML(
      "<?xml version=\"1.0\" encoding=\"windows-1250\" ?><language name=\"language\"/>");
  doc.SetAutoIndent(true);
  TXMLNode item = doc.DocumentElement().AddChild("forms").AddChild("form").AddChild("item");
  item.SetAttribute("Caption", CeskyUtf8);
  EXPECT_EQ(doc.SaveToXML(), Declaration + "<language name=\"language\">\n\t<forms>\n\t\t<form>\n" +
                                 "\t\t\t<item Caption=\"" + CeskyCp + "\"/>\n" +
                                 "\t\t</form>\n\t</forms>\n</language>\n");
}

TEST(XmlDocument, CharactersOutsideTheCodePageSurviveAsReferences) {
  const std::string han = "\xE6\x97\xA5";  // U+65E5
  TXMLDocument doc = TXMLDocument::LoadFromXML(Declaration + "<r/>");
  doc.DocumentElement().SetAttribute("t", "a" + han + "<&\"'\tb");
  TXMLDocument back = TXMLDocument::LoadFromXML(doc.SaveToXML());
  EXPECT_EQ(back.DocumentElement().GetAttribute("t").ToText(), "a" + han + "<&\"'\tb");
}

TEST(XmlDocument, WithoutAutoIndentExistingLayoutIsKept) {
  const std::string text = "<?xml version=\"1.0\"?>\n<a>\n  <b x=\"1\"/>\n</a>\n";
  EXPECT_EQ(TXMLDocument::LoadFromXML(text).SaveToXML(), text);
}

TEST(XmlDocument, ChildNavigationSkipsTextAndComments) {
  TXMLDocument doc =
      TXMLDocument::LoadFromXML("<r>text<a/><!-- c --><B/> more <b/><a n=\"2\"/></r>");
  TXMLNode root = doc.DocumentElement();
  EXPECT_EQ(root.ChildCount(), 4);
  std::string names;
  for (TXMLNode n = root.FirstChild(); n; n = n.NextSibling()) names += n.NodeName() + ",";
  EXPECT_EQ(names, "a,B,b,a,");
  ASSERT_EQ(root.ChildNodes().size(), 4u);
  EXPECT_EQ(root.ChildNodes()[3].GetAttribute("n"), TVariant("2"));
  EXPECT_EQ(root.Child(1).NodeName(), "B");
  EXPECT_FALSE(root.Child(4));
  EXPECT_FALSE(root.Child(-1));
  EXPECT_EQ(root.FindChild("b"), root.Child(2));  // exact case
  EXPECT_FALSE(root.FindChild("c"));
  EXPECT_FALSE(root.Child(0).FirstChild());

  TXMLNode added = root.AddChild("z");
  EXPECT_EQ(root.ChildCount(), 5);
  EXPECT_EQ(root.Child(4), added);
}

TEST(XmlDocument, PrefixedNamesAreMatchedAsWritten) {
  TXMLDocument doc =
      TXMLDocument::LoadFromXML("<r xmlns:x=\"urn:kvx\"><item/><x:item x:v=\"1\" v=\"2\"/></r>");
  TXMLNode prefixed = doc.DocumentElement().FindChild("x:item");
  ASSERT_TRUE(prefixed);
  EXPECT_EQ(prefixed.NodeName(), "x:item");
  EXPECT_EQ(doc.DocumentElement().FindChild("item"), doc.DocumentElement().Child(0));
  EXPECT_EQ(prefixed.GetAttribute("x:v"), TVariant("1"));
  EXPECT_EQ(prefixed.GetAttribute("v"), TVariant("2"));
  prefixed.SetAttribute("v", "3");
  EXPECT_EQ(prefixed.GetAttribute("x:v"), TVariant("1"));
  EXPECT_EQ(prefixed.GetAttribute("v"), TVariant("3"));
}

TEST(XmlDocument, AttributesPresenceReadAndReplace) {
  TXMLDocument doc = TXMLDocument::LoadFromXML("<r empty=\"\" v=\"a&amp;b\"/>");
  TXMLNode root = doc.DocumentElement();
  EXPECT_TRUE(root.HasAttribute("empty"));
  EXPECT_EQ(root.GetAttribute("empty"), TVariant(""));
  EXPECT_FALSE(root.HasAttribute("missing"));
  EXPECT_TRUE(root.GetAttribute("missing").IsNull());
  EXPECT_EQ(root.GetAttribute("v").ToText(), "a&b");

  root.SetAttribute("v", "new");
  root.SetAttribute("n", 2.5);
  root.SetAttribute("f", true);
  EXPECT_EQ(root.GetAttribute("v"), TVariant("new"));
  EXPECT_EQ(root.GetAttribute("n"), TVariant("2.5"));
  EXPECT_EQ(root.GetAttribute("f"), TVariant("True"));
  EXPECT_EQ(doc.SaveToXML(),
            "<?xml version=\"1.0\"?>\n<r empty=\"\" v=\"new\" n=\"2.5\" f=\"True\"/>\n");
}

TEST(XmlDocument, BadNamesAndValuesAreRefused) {
  TXMLDocument doc = TXMLDocument::LoadFromXML("<r/>");
  TXMLNode root = doc.DocumentElement();
  EXPECT_THROW(root.AddChild("1bad"), EXMLError);
  EXPECT_THROW(root.AddChild("a b"), EXMLError);
  EXPECT_THROW(root.AddChild(std::string("a\0b", 3)), EXMLError);
  EXPECT_THROW(root.SetAttribute("x y", "1"), EXMLError);
  EXPECT_THROW(root.SetAttribute("x", std::string("a\x01"
                                                  "b")),
               EXMLError);
  EXPECT_THROW(root.SetAttribute("x", std::string("\xC4")), EXMLError);  // cut UTF-8
  EXPECT_EQ(root.ChildCount(), 0);
  EXPECT_FALSE(root.HasAttribute("x"));
  EXPECT_THROW(TXMLNode().AddChild("a"), EXMLError);
}

TEST(XmlDocument, NodeKeepsItsDocumentAlive) {
  TXMLNode node;
  {
    TXMLDocument doc = TXMLDocument::LoadFromXML("<r><channel name=\"COM1\"/></r>");
    node = doc.DocumentElement().FirstChild();
  }
  EXPECT_EQ(node.GetAttribute("name"), TVariant("COM1"));
  node.SetAttribute("enabled", true);
  EXPECT_TRUE(node.HasAttribute("enabled"));
}

TEST(XmlDocument, EmptyDocumentHasNoElement) {
  TXMLDocument doc;
  EXPECT_FALSE(doc.DocumentElement());
  TXMLNode none;
  EXPECT_EQ(none.NodeName(), "");
  EXPECT_EQ(none.ChildCount(), 0);
  EXPECT_FALSE(none.HasAttribute("a"));
}

TEST(XmlDocument, MalformedInputRaisesWithPlace) {
  TTempDir temp;
  const std::string path = temp.File("bad.xml");
  WriteBytes(path, "<a>\n<b></a>\n");
  try {
    TXMLDocument::LoadFromFile(path);
    FAIL() << "no exception";
  } catch (const EXMLError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find(path + "(2)"), std::string::npos) << message;
    EXPECT_NE(message.find("mismatch"), std::string::npos) << message;
  }
  EXPECT_THROW(TXMLDocument::LoadFromXML("<a"), EXMLError);
  EXPECT_THROW(TXMLDocument::LoadFromXML(""), EXMLError);
  EXPECT_THROW(TXMLDocument::LoadFromXML("<a/><b/>"), EXMLError);
  try {
    TXMLDocument::LoadFromFile(temp.File("missing.xml"));
    FAIL() << "no exception";
  } catch (const EXMLError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.xml"), std::string::npos);
  }
}

TEST(XmlDocument, FailedSaveLeavesNoFile) {
  TTempDir temp;
  TXMLDocument doc = TXMLDocument::LoadFromXML("<r/>");
  const std::string path = temp.File("no/such/dir/out.xml");
  EXPECT_THROW(doc.SaveToFile(path), EXMLError);
  EXPECT_TRUE(std::filesystem::is_empty(temp.Dir()));
}

TEST(XmlDocument, ExternalEntitiesAndDtdsAreNeverRead) {
  TTempDir temp;
  WriteBytes(temp.File("secret.txt"), "TOPSECRET");
  WriteBytes(temp.File("defaults.dtd"), "<!ATTLIST r injected CDATA \"TOPSECRET\">");
  const std::string entity =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY x SYSTEM \"secret.txt\">]>\n"
      "<r a=\"1\">&x;</r>\n";
  const std::string dtd = "<?xml version=\"1.0\"?>\n<!DOCTYPE r SYSTEM \"defaults.dtd\">\n<r/>\n";
  for (const std::string& text : {entity, dtd}) {
    const std::string path = temp.File("doc.xml");
    WriteBytes(path, text);
    try {
      TXMLDocument doc = TXMLDocument::LoadFromFile(path);
      EXPECT_EQ(doc.SaveToXML().find("TOPSECRET"), std::string::npos);
      EXPECT_FALSE(doc.DocumentElement().HasAttribute("injected"));
    } catch (const EXMLError&) {
      // Refusing the document is as good as not reading the file.
    }
  }
}

TEST(XmlDocument, EntityExpansionBombIsRefused) {
  std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE r [\n<!ENTITY e0 \"lollollollol\">\n";
  for (int i = 1; i < 10; ++i) {
    std::string refs;
    for (int j = 0; j < 10; ++j) refs += "&e" + std::to_string(i - 1) + ";";
    text += "<!ENTITY e" + std::to_string(i) + " \"" + refs + "\">\n";
  }
  text += "]>\n<r a=\"&e9;\">&e9;</r>\n";
  EXPECT_THROW(TXMLDocument::LoadFromXML(text), EXMLError);
}

TEST(XmlDocument, HugeNestingIsAnErrorNotACrash) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "<a>";
  for (int i = 0; i < 100000; ++i) text += "</a>";
  EXPECT_THROW(TXMLDocument::LoadFromXML(text), EXMLError);
}
