#include <gtest/gtest.h>
#include <unistd.h>

#include "app/uViewElement.h"
#include "lang/uForms.h"
#include "lang/uLanguage.h"
#include "lang/uLanguageSelector.h"
#include "tests/lang/LangTestFiles.h"

namespace {

class Export : public ::testing::Test {
 protected:
  Export() : form("TfMain", "fMain") {
    form.Set("Caption", "Okno");
    TViewElement& panel = form.CreateComponent("TPanel", "pTop");
    form.CreateComponent("TLabel", "lHeading", &panel).Set("Caption", "Vyhledání modulu");
    TViewElement& speed = form.CreateComponent("TComboBox", "cbSpeed");
    speed.SetItems({"9 600 Bd", "19 200 Bd"});
    form.CreateComponent("TEdit", "eName").Set("Hint", "Název kanálu (max. 20 znaků)");
    form.CreateComponent("TLabel", "lEmpty");
    form.CreateComponent("TLabel", "").Set("Caption", "nameless");
    form.CreateComponent("TTimer", "Timer1");
    form.CreateComponent("TShapeEx", "sSave").Set("Caption", "Uložit");
  }

  TTempDir dir;
  TViewElement form;
  TOpenForm open{form};
};

TEST_F(Export, WritesCaptionsHintsAndListsInWindows1250WithOneTabPerLevel) {
  const std::string file = dir.File("out.lng.xml");
  ExportLanguage(file);
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\n"
      "<language name=\"language\">\n"
      "\t<forms>\n"
      "\t\t<fMain caption=\"Okno\">\n"
      "\t\t\t<pTop/>\n"
      "\t\t\t<lHeading caption=\"Vyhled\xE1n\xED modulu\"/>\n"
      "\t\t\t<cbSpeed>\n"
      "\t\t\t\t<items>\n"
      "\t\t\t\t\t<item value=\"9 600 Bd\"/>\n"
      "\t\t\t\t\t<item value=\"19 200 Bd\"/>\n"
      "\t\t\t\t</items>\n"
      "\t\t\t</cbSpeed>\n"
      "\t\t\t<eName hint=\"N\xE1zev kan\xE1lu (max. 20 znak\xF9)\"/>\n"
      "\t\t\t<lEmpty/>\n"
      "\t\t\t<Timer1/>\n"
      "\t\t\t<sSave caption=\"Ulo\x9Eit\"/>\n"
      "\t\t</fMain>\n"
      "\t</forms>\n"
      "</language>\n";
  EXPECT_EQ(ReadFile(file), expected);
}

TEST_F(Export, ExportingTwiceYieldsTwoElementsPerWindowUnderOneForms) {
  TViewElement other("TfMain", "fOther");
  TOpenForm openOther(other);
  const std::string file = dir.File("twice.lng.xml");
  ExportLanguage(file);
  ExportLanguage(file);
  const TXMLDocument document = TXMLDocument::LoadFromFile(file);
  const TXMLNode root = document.DocumentElement();
  ASSERT_EQ(root.ChildCount(), 1);
  const TXMLNode forms = root.FindChild("forms");
  ASSERT_EQ(forms.ChildCount(), 4);
  EXPECT_EQ(forms.Child(0).NodeName(), "fMain");
  EXPECT_EQ(forms.Child(1).NodeName(), "fOther");
  EXPECT_EQ(forms.Child(2).NodeName(), "fMain");
  EXPECT_EQ(forms.Child(3).NodeName(), "fOther");
  EXPECT_EQ(forms.Child(2).ChildCount(), forms.Child(0).ChildCount());
  // Still indented after being read back and extended.
  const std::string bytes = ReadFile(file);
  const std::size_t first = bytes.find("\n\t\t<fOther/>\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(bytes.find("\n\t\t<fOther/>\n", first + 1), std::string::npos);
}

TEST_F(Export, ExportIntoAnExistingFileKeepsItsRootAndForms) {
  const std::string file = dir.File("existing.lng.xml");
  WriteFile(file,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<language name=\"english\" id=\"$409\">\n  <forms>\n    <fMain caption=\"Window\"/>\n"
            "  </forms>\n</language>\n");
  ExportLanguage(file);
  const TXMLDocument document = TXMLDocument::LoadFromFile(file);
  EXPECT_EQ(document.DocumentElement().GetAttribute("id").ToText(), "$409");
  const TXMLNode forms = document.DocumentElement().FindChild("forms");
  ASSERT_EQ(forms.ChildCount(), 2);
  EXPECT_EQ(forms.Child(0).GetAttribute("caption").ToText(), "Window");
  EXPECT_EQ(forms.Child(1).GetAttribute("caption").ToText(), "Okno");
}

TEST_F(Export, BrokenExistingFileIsReportedAndLeftAlone) {
  const std::string file = dir.File("broken.lng.xml");
  WriteFile(file, "<language><forms>");
  EXPECT_THROW(ExportLanguage(file), EXMLError);
  EXPECT_EQ(ReadFile(file), "<language><forms>");
}

TEST_F(Export, ComponentThatCannotBeWrittenEndsOnlyItsOwnersElement) {
  TViewElement& box = form.CreateComponent("TPanel", "pBox");
  box.CreateComponent("TLabel", "lFirst").Set("Caption", "first");
  box.CreateComponent("TLabel", "bad name").Set("Caption", "x");
  box.CreateComponent("TLabel", "lAfter").Set("Caption", "after");
  box.Set("Caption", "box");
  TXMLDocument document = TXMLDocument::LoadFromXML("<language/>");
  TXMLNode root = document.DocumentElement();
  ExportComponent(box, root);
  const TXMLNode element = root.FindChild("pBox");
  ASSERT_TRUE(element);
  EXPECT_EQ(element.GetAttribute("caption").ToText(), "box");
  EXPECT_TRUE(element.FindChild("lFirst"));
  EXPECT_FALSE(element.FindChild("lAfter"));
  // A window itself with a name XML cannot carry fails the export.
  TViewElement bad("TfMain", "f Bad");
  TOpenForm openBad(bad);
  EXPECT_THROW(ExportLanguage(dir.File("bad.lng.xml")), EXMLError);
}

TEST_F(Export, EmptyNameWritesDefaultFileAndGenWritesExportFileInTheCurrentDirectory) {
  const std::string previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  ExportLanguage("");
  TViewElement& gen = form.CreateComponent("TButton", "Button1");
  form.CreateComponent("TComboBox", "cbbLanguage");
  InitializeLanguages(form);
  gen.Click();
  std::filesystem::current_path(previous);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.File("default.lng.xml")));
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.File("Export.lng.xml")));
}

TEST_F(Export, Windows1250FileWithCzechLettersRoundTrips) {
  const std::string czech = "Příliš žluťoučký kůň úpěl ďábelské ódy – ĚŠČŘŽÝÁÍÉŮÚŤĎŇ";
  form.Component("sSave").Set("Caption", czech);
  form.Component("cbSpeed").SetItems({"žádná", "řádná"});
  form.Component("eName").Set("Hint", "«hint» & <more> 日");
  const std::string file = dir.File("czech.lng.xml");
  ExportLanguage(file);
  const std::string bytes = ReadFile(file);
  EXPECT_NE(bytes.find("P\xF8\xEDli\x9A \x9Elu\x9Do\x75\xE8k\xFD"), std::string::npos);
  EXPECT_EQ(bytes.find("\xC5\x99"), std::string::npos);  // no UTF-8 "ř" left

  TViewElement copy("TfMain", "fMain");
  TViewElement& save = copy.CreateComponent("TShapeEx", "sSave");
  TViewElement& speed = copy.CreateComponent("TComboBox", "cbSpeed");
  TViewElement& name = copy.CreateComponent("TEdit", "eName");
  TLanguage language;
  ASSERT_TRUE(language.Load(file));  // the original window takes its own texts again
  language.ApplyToForm(copy);
  EXPECT_EQ(save.GetText("Caption"), czech);
  EXPECT_EQ(speed.Items(), (std::vector<std::string>{"žádná", "řádná"}));
  EXPECT_EQ(name.GetText("Hint"), "«hint» & <more> 日");
  EXPECT_EQ(copy.GetText("Caption"), "Okno");
}

}  // namespace
