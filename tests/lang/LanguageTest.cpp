#include "lang/uLanguage.h"

#include <gtest/gtest.h>

#include "app/uViewElement.h"
#include "lang/uForms.h"
#include "tests/lang/LangTestFiles.h"

namespace {

// A small window laid out as the real one is: the window owns every component; some sit
// on a panel.
class LanguageFile : public ::testing::Test {
 protected:
  LanguageFile()
      : form("TfMain", "fMain"),
        panel(form.CreateComponent("TPanel", "pTop")),
        title(form.CreateComponent("TLabel", "lTitle", &panel)),
        list(form.CreateComponent("TComboBox", "cbList")),
        name(form.CreateComponent("TEdit", "eName")),
        save(form.CreateComponent("TShapeEx", "sSave")) {
    title.Set("Caption", "Nadpis");
    list.SetItems({"jedna", "dva", "tři", "čtyři"});
    list.Set("ItemIndex", 2);
    name.Set("Hint", "Jméno");
    save.Set("Caption", "Uložit");
  }

  // Loads Text as a language file through a fresh language list.
  bool LoadText(const std::string& Text) {
    WriteFile(dir.File("t.lng.xml"), Text);
    return language.Load(dir.File("t.lng.xml"));
  }

  TTempDir dir;
  TViewElement form;
  TOpenForm open{form};
  TViewElement& panel;
  TViewElement& title;
  TViewElement& list;
  TViewElement& name;
  TViewElement& save;
  TLanguage language;
};

TEST(LanguageItem, NameAndIdFromTheRootOrTheirDefaults) {
  TTempDir dir;
  WriteFile(dir.File("a.lng.xml"), "<language><forms/></language>");
  WriteFile(dir.File("b.lng.xml"), "<lang name=\"english\" id=\"$409\"/>");
  const TLanguageItem bare(dir.File("a.lng.xml"));
  EXPECT_EQ(bare.LanguageName(), "?");
  EXPECT_EQ(bare.LanguageId(), "-1");
  EXPECT_EQ(bare.FileName(), dir.File("a.lng.xml"));
  const TLanguageItem named(dir.File("b.lng.xml"));
  EXPECT_EQ(named.LanguageName(), "english");
  EXPECT_EQ(named.LanguageId(), "$409");
  WriteFile(dir.File("c.lng.xml"), "<language name=\"x\"><forms></language>");
  EXPECT_THROW(TLanguageItem(dir.File("c.lng.xml")), EXMLError);
  EXPECT_THROW(TLanguageItem(dir.File("missing.lng.xml")), EXMLError);
}

TEST(LanguageScan, ListsMatchingFilesSortedAndReplacesThePreviousList) {
  TTempDir dir;
  WriteFile(dir.File("zulu.lng.xml"), "<language name=\"zulu\"/>");
  WriteFile(dir.File("alpha.lng.xml"), "<language name=\"alpha\" id=\"$1\"/>");
  WriteFile(dir.File("middle.lng.xml"), "<language/>");
  WriteFile(dir.File("notes.xml"), "<language name=\"not a language file\"/>");
  WriteFile(dir.File("alpha.lng.xml.bak"), "not xml at all");
  TLanguage language;
  language.Scan(dir.Path() + "*.lng.xml");
  const auto& found = language.Languages();
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].first, "alpha.lng.xml");
  EXPECT_EQ(found[1].first, "middle.lng.xml");
  EXPECT_EQ(found[2].first, "zulu.lng.xml");
  ASSERT_TRUE(found[0].second && found[1].second && found[2].second);
  EXPECT_EQ(found[0].second->LanguageName(), "alpha");
  EXPECT_EQ(found[0].second->FileName(), dir.File("alpha.lng.xml"));
  EXPECT_EQ(found[1].second->LanguageName(), "?");
  EXPECT_EQ(found[2].second->LanguageId(), "-1");

  language.Scan(dir.Path() + "z*.lng.xml");
  ASSERT_EQ(language.Languages().size(), 1u);
  EXPECT_EQ(language.Languages()[0].first, "zulu.lng.xml");
  language.Scan(dir.Path() + "nowhere/*.lng.xml");
  EXPECT_TRUE(language.Languages().empty());
}

TEST(LanguageScan, FaultyFileRaisesAndLeavesTheLaterEntriesWithoutItems) {
  TTempDir dir;
  WriteFile(dir.File("a.lng.xml"), "<language name=\"a\"/>");
  WriteFile(dir.File("b.lng.xml"), "<language name=\"b\">");
  WriteFile(dir.File("c.lng.xml"), "<language name=\"c\"/>");
  TLanguage language;
  EXPECT_THROW(language.Scan(dir.Path() + "*.lng.xml"), EXMLError);
  const auto& found = language.Languages();
  ASSERT_EQ(found.size(), 3u);
  ASSERT_TRUE(found[0].second);
  EXPECT_EQ(found[0].second->LanguageName(), "a");
  EXPECT_FALSE(found[1].second);
  EXPECT_FALSE(found[2].second);
  EXPECT_EQ(found[2].first, "c.lng.xml");
}

TEST_F(LanguageFile, MissingFileIsFalseAndKeepsTheCurrentDocument) {
  ASSERT_TRUE(LoadText(MainFormFile("<lTitle caption=\"Title\"/>")));
  EXPECT_EQ(title.GetText("Caption"), "Title");
  EXPECT_FALSE(language.Load(dir.File("gone.lng.xml")));
  EXPECT_FALSE(language.Load(dir.Path()));  // a directory is no language file
  title.Set("Caption", "Nadpis");
  language.ApplyToForm(form);
  EXPECT_EQ(title.GetText("Caption"), "Title");
}

TEST_F(LanguageFile, ParseErrorRaisesAndKeepsTheCurrentDocument) {
  ASSERT_TRUE(LoadText(MainFormFile("<lTitle caption=\"Title\"/>")));
  EXPECT_THROW(LoadText("<language><forms><fMain><lTitle caption=\"Broken\"></fMain>"), EXMLError);
  title.Set("Caption", "Nadpis");
  language.ApplyToForm(form);
  EXPECT_EQ(title.GetText("Caption"), "Title");
}

TEST_F(LanguageFile, AppliesPropertiesByNameIgnoringCaseFlatOrNested) {
  ASSERT_TRUE(LoadText(MainFormFile(
      "<sSave CAPTION=\"Save\" Hint=\"Writes the changes\" showhint=\"true\" Tag=\"$10\"/>"
      "<pTop><lTitle caption=\"Nested\"/></pTop>"
      "<eName hint=\"Name\"/>")));
  EXPECT_EQ(save.GetText("Caption"), "Save");
  EXPECT_EQ(save.GetText("Hint"), "Writes the changes");
  EXPECT_TRUE(save.GetBool("ShowHint"));
  EXPECT_EQ(save.GetInt("Tag"), 16);
  EXPECT_EQ(title.GetText("Caption"), "Nested");
  EXPECT_EQ(name.GetText("Hint"), "Name");
}

TEST_F(LanguageFile, AbsentWindowsAndComponentsChangeNothing) {
  ASSERT_TRUE(LoadText(
      "<language><forms>"
      "<fSettings><lTitle caption=\"Other window\"/></fSettings>"
      "<fMain><lMissing caption=\"x\" bogus=\"1\"><lTitle caption=\"Under a ghost\"/></lMissing>"
      "<sSave><lTitle caption=\"Not on the button\"/></sSave>"
      "<items><item value=\"x\"/></items>"
      "</fMain></forms></language>"));
  EXPECT_EQ(title.GetText("Caption"), "Nadpis");
  EXPECT_EQ(save.GetText("Caption"), "Uložit");
  EXPECT_EQ(list.ItemCount(), 4u);
}

TEST_F(LanguageFile, UpperCaseWindowNameAppliesOnlyThroughApplyToForm) {
  ASSERT_TRUE(
      LoadText("<language><forms><FMAIN><lTitle caption=\"Upper\"/></FMAIN>"
               "</forms></language>"));
  EXPECT_EQ(title.GetText("Caption"), "Nadpis");
  language.ApplyToForm(form);
  EXPECT_EQ(title.GetText("Caption"), "Upper");
}

TEST_F(LanguageFile, TwoFormsElementsApplyThroughLoadButOnlyTheFirstThroughApplyToForm) {
  ASSERT_TRUE(
      LoadText("<language><forms><fMain><lTitle caption=\"First\"/></fMain></forms>"
               "<other/>"
               "<forms><fMain><sSave caption=\"Second\"/></fMain></forms></language>"));
  EXPECT_EQ(title.GetText("Caption"), "First");
  EXPECT_EQ(save.GetText("Caption"), "Second");
  title.Set("Caption", "-");
  save.Set("Caption", "-");
  language.ApplyToForm(form);
  EXPECT_EQ(title.GetText("Caption"), "First");
  EXPECT_EQ(save.GetText("Caption"), "-");
}

TEST_F(LanguageFile, UnknownPropertyStopsTheFileAndKeepsWhatWasSetBefore) {
  try {
    LoadText(
        MainFormFile("<lTitle caption=\"Set\"/>"
                     "<sSave hint=\"Also set\" Colour=\"1\" caption=\"Never\"/>"
                     "<eName hint=\"Never either\"/>"));
    FAIL() << "no error raised";
  } catch (const std::exception& error) {
    EXPECT_STREQ(error.what(), "Property Colour does not exist");
  }
  EXPECT_EQ(title.GetText("Caption"), "Set");
  EXPECT_EQ(save.GetText("Hint"), "Also set");
  EXPECT_EQ(save.GetText("Caption"), "Uložit");
  EXPECT_EQ(name.GetText("Hint"), "Jméno");
}

TEST_F(LanguageFile, ItemsReplaceTheListAndKeepTheSelectionWhenItStillExists) {
  ASSERT_TRUE(
      LoadText(MainFormFile("<cbList><items><item value=\"one\"/><item/>"
                            "<note value=\"skipped\"/><item value=\"three\"/>"
                            "</items></cbList>")));
  ASSERT_EQ(list.ItemCount(), 3u);
  EXPECT_EQ(list.Items()[0], "one");
  EXPECT_EQ(list.Items()[1], "<Error In Lng File>");
  EXPECT_EQ(list.Items()[2], "three");
  EXPECT_EQ(list.GetInt("ItemIndex"), 2);
}

TEST_F(LanguageFile, ShorterItemsListLeavesNoSelectionAndNoFailure) {
  list.Set("ItemIndex", 3);
  ASSERT_TRUE(
      LoadText(MainFormFile("<cbList><items><item value=\"a\"/><item value=\"b\"/>"
                            "</items></cbList><lTitle caption=\"After\"/>")));
  EXPECT_EQ(list.ItemCount(), 2u);
  EXPECT_EQ(list.GetInt("ItemIndex"), -1);
  EXPECT_EQ(title.GetText("Caption"), "After");
}

TEST_F(LanguageFile, ItemsAreForComboBoxesOnly) {
  TViewElement& box = form.CreateComponent("TListBox", "lbRows");
  box.SetItems({"row"});
  ASSERT_TRUE(
      LoadText(MainFormFile("<lbRows><items><item value=\"x\"/></items></lbRows>"
                            "<lTitle><items><item value=\"x\"/></items></lTitle>")));
  ASSERT_EQ(box.ItemCount(), 1u);
  EXPECT_EQ(box.Items()[0], "row");
}

TEST_F(LanguageFile, FindComponentByNameLooksAtVisualChildrenThenOwnedComponents) {
  TViewElement& inner = form.CreateComponent("TPanel", "pInner", &panel);
  TViewElement& owned = inner.CreateComponent("TLabel", "lTitle");  // same name, owned
  TViewElement& placed = form.CreateComponent("TLabel", "lPlaced", &inner);
  EXPECT_EQ(FindComponentByName(form, "lTitle"), &title);
  EXPECT_EQ(FindComponentByName(panel, "lTitle"), &title);
  EXPECT_EQ(FindComponentByName(inner, "lTitle"), &owned);
  EXPECT_EQ(FindComponentByName(inner, "lPlaced"), &placed);
  EXPECT_EQ(FindComponentByName(form, "ltitle"), nullptr);
  // A label holds no controls: only what it owns counts.
  TViewElement& label = form.CreateComponent("TLabel", "lHost");
  form.CreateComponent("TLabel", "lOnLabel", &label);
  EXPECT_EQ(FindComponentByName(label, "lOnLabel"), nullptr);
}

TEST_F(LanguageFile, ApplyComponentWithoutComponentOrElementDoesNothing) {
  ApplyComponent(nullptr, TXMLDocument::LoadFromXML("<x caption=\"y\"/>").DocumentElement());
  ApplyComponent(&title, TXMLNode());
  EXPECT_EQ(title.GetText("Caption"), "Nadpis");
}

TEST(LanguageForms, ClosedWindowIsNoLongerReached) {
  TTempDir dir;
  WriteFile(dir.File("t.lng.xml"), MainFormFile("<lTitle caption=\"Applied\"/>"));
  TViewElement form("TfMain", "fMain");
  TViewElement& title = form.CreateComponent("TLabel", "lTitle");
  TLanguage language;
  language.Load(dir.File("t.lng.xml"));
  EXPECT_EQ(title.GetText("Caption"), "");
  {
    TOpenForm open(form);
    EXPECT_EQ(OpenForms().size(), 1u);
    language.Load(dir.File("t.lng.xml"));
    EXPECT_EQ(title.GetText("Caption"), "Applied");
  }
  EXPECT_TRUE(OpenForms().empty());
}

}  // namespace
