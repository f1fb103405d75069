#include "lang/uLanguageSelector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <any>
#include <filesystem>

#include "app/uViewElement.h"
#include "lang/uForms.h"
#include "lang/uLanguage.h"
#include "support/uPaths.h"
#include "tests/lang/LangTestFiles.h"
#include "tests/support/ScopedEnv.h"

namespace {

// A window header with the selector and a caption that the language files translate.
struct TSelectorWindow {
  TSelectorWindow() {
    selector.SetItems({"česky", "english"});
    save.Set("Caption", "Uložit");
  }
  TViewElement form{"TfMain", "fMain"};
  TViewElement& selector = form.CreateComponent("TComboBox", "cbbLanguage");
  TViewElement& save = form.CreateComponent("TShapeEx", "sSaveChanges1");
};

// The selector over the two shipped files next to this program; the operator's choice is
// remembered in a scratch configuration folder.
class Selector : public ::testing::Test, public TSelectorWindow {
 protected:
  TTempDir config;
  ScopedEnv configHome{"XDG_CONFIG_HOME", config.Path()};
};

TEST_F(Selector, ListsTheShippedFilesWithoutSelectingOrApplying) {
  InitializeLanguages(form);
  ASSERT_EQ(selector.Items(), (std::vector<std::string>{"česky", "english"}));
  EXPECT_EQ(selector.GetInt("ItemIndex"), -1);
  const auto* item = std::any_cast<TLanguageItem*>(&selector.ItemData(1));
  ASSERT_TRUE(item && *item);
  EXPECT_EQ((*item)->FileName(), GetExeDir() + "english.lng.xml");
  EXPECT_EQ((*item)->LanguageId(), "$409");
  selector.Set("ItemIndex", 0);  // the first show does this: nothing is applied
  EXPECT_EQ(save.GetText("Caption"), "Uložit");
}

TEST_F(Selector, ChoosingAnEntryAppliesItsFileAndTheOtherTurnsItBack) {
  InitializeLanguages(form);
  selector.Edit("ItemIndex", 1);
  EXPECT_EQ(save.GetText("Caption"), "Save");
  selector.Edit("ItemIndex", 0);
  EXPECT_EQ(save.GetText("Caption"), "Uložit");
  // The selector keeps its entries: the shipped files do not list its items.
  EXPECT_EQ(selector.ItemCount(), 2u);
  EXPECT_EQ(selector.GetInt("ItemIndex"), 0);
}

TEST_F(Selector, TheChosenLanguageOpensTheNextRunUnlessItsFileIsGone) {
  TTempDir data;
  const ScopedEnv dataHome("XDG_DATA_HOME", data.Path());
  std::filesystem::create_directories(data.File("kvxsetup"));
  const std::string mine = data.File("kvxsetup/mine.lng.xml");
  const struct {
    const char* Name;
    std::vector<std::string> Chosen;  // in this order; none: the first run
    bool FileGone;
    const char* Shown;  // none: nothing selected, the first show selects the first entry
    const char* Caption;
  } kCases[] = {
      {"first run", {}, false, nullptr, "Uložit"},
      {"english chosen", {"english"}, false, "english", "Save"},
      {"česky chosen after english", {"english", "česky"}, false, "česky", "Uložit"},
      {"chosen file gone", {"mine"}, true, nullptr, "Uložit"},
  };
  for (const auto& Case : kCases) {
    SCOPED_TRACE(Case.Name);
    const TTempDir runConfig;
    const ScopedEnv runConfigHome("XDG_CONFIG_HOME", runConfig.Path());
    WriteFile(mine, MainFormFile("<sSaveChanges1 caption=\"Mine\"/>", "<language name=\"mine\">"));
    {
      TSelectorWindow before;
      InitializeLanguages(before.form);
      const auto& items = before.selector.Items();
      for (const std::string& name : Case.Chosen) {
        const auto chosen = std::find(items.begin(), items.end(), name);
        ASSERT_NE(chosen, items.end());
        before.selector.Edit("ItemIndex", static_cast<int>(chosen - items.begin()));
      }
    }
    if (Case.FileGone) std::filesystem::remove(mine);
    TSelectorWindow after;  // the next run
    InitializeLanguages(after.form);
    const int index = after.selector.GetInt("ItemIndex");
    if (Case.Shown) {
      ASSERT_GE(index, 0);
      EXPECT_EQ(after.selector.Items()[static_cast<std::size_t>(index)], Case.Shown);
    } else {
      EXPECT_EQ(index, -1);
    }
    EXPECT_EQ(after.save.GetText("Caption"), Case.Caption);
  }
}

TEST_F(Selector, PlainEntriesSelectNothing) {
  selector.Edit("ItemIndex", 1);  // the built-in entries carry no file
  EXPECT_EQ(save.GetText("Caption"), "Uložit");
  InitializeLanguages(form);
  selector.Set("ItemIndex", -1);
  cbbLanguageChange(form);
  EXPECT_EQ(save.GetText("Caption"), "Uložit");
}

TEST_F(Selector, AFileListingTheSelectorsItemsLeavesPlainEntries) {
  TTempDir dir;
  const std::string file = dir.File("list.lng.xml");
  WriteFile(file, MainFormFile("<cbbLanguage><items><item value=\"one\"/><item value=\"two\"/>"
                               "</items></cbbLanguage>"));
  InitializeLanguages(form);
  ASSERT_TRUE(Language().Load(file));
  ASSERT_EQ(selector.Items(), (std::vector<std::string>{"one", "two"}));
  EXPECT_FALSE(std::any_cast<TLanguageItem*>(&selector.ItemData(1)));
  selector.Edit("ItemIndex", 1);
  EXPECT_EQ(save.GetText("Caption"), "Uložit");
}

TEST_F(Selector, ErrorWhileApplyingIsShownAndKeepsWhatWasApplied) {
  TTempDir dir;
  const std::string file = dir.File("bad.lng.xml");
  WriteFile(file, MainFormFile("<sSaveChanges1 caption=\"Keep\" Wrong=\"1\"/>",
                               "<language name=\"bad\" id=\"$409\">"));
  InitializeLanguages(form);
  TLanguageItem bad(file);
  selector.AddItem("bad", &bad);
  try {
    selector.Edit("ItemIndex", 2);
    FAIL() << "no error raised";
  } catch (const std::exception& error) {
    EXPECT_STREQ(error.what(), "Property Wrong does not exist");
  }
  EXPECT_EQ(save.GetText("Caption"), "Keep");
}

TEST_F(Selector, VanishedFileAppliesThePreviousOneToTheMainWindowAgain) {
  TTempDir dir;
  const std::string file = dir.File("gone.lng.xml");
  WriteFile(file, MainFormFile("<sSaveChanges1 caption=\"Gone\"/>"));
  TLanguageItem gone(file);
  std::filesystem::remove(file);
  InitializeLanguages(form);
  selector.Edit("ItemIndex", 1);
  save.Set("Caption", "changed meanwhile");
  selector.AddItem("gone", &gone);
  selector.Edit("ItemIndex", 2);
  EXPECT_EQ(save.GetText("Caption"), "Save");
}

TEST(SelectorWindow, CountsAsOpenWhileItsSelectorIsConnected) {
  TTempDir dir;
  const std::string file = dir.File("t.lng.xml");
  WriteFile(file, MainFormFile("<lTitle caption=\"Applied\"/>"));
  {
    TViewElement form("TfMain", "fMain");
    form.CreateComponent("TComboBox", "cbbLanguage");
    TViewElement& title = form.CreateComponent("TLabel", "lTitle");
    InitializeLanguages(form);
    InitializeLanguages(form);  // again: still listed once
    ASSERT_EQ(OpenForms(), std::vector<TViewElement*>{&form});
    ASSERT_TRUE(Language().Load(file));
    EXPECT_EQ(title.GetText("Caption"), "Applied");
  }
  EXPECT_TRUE(OpenForms().empty());
}

TEST(SelectorDrawing, TextAt30PixelsAndFlagsOnlyForExactIdentifiers) {
  TTempDir dir;
  const std::vector<std::pair<std::string, int>> cases = {
      {"$405", 0}, {"$409", 1}, {"$0405", -1}, {"$409 ", -1}, {"$407", -1}};
  std::vector<std::unique_ptr<TLanguageItem>> items;
  TViewElement form("TfMain", "fMain");
  TViewElement& selector = form.CreateComponent("TComboBox", "cbbLanguage");
  for (const auto& [id, image] : cases) {
    const std::string file = dir.File("l" + std::to_string(items.size()) + ".lng.xml");
    WriteFile(file, "<language name=\"n" + id + "\" id=\"" + id + "\"/>");
    items.push_back(std::make_unique<TLanguageItem>(file));
    selector.AddItem(items.back()->LanguageName(), items.back().get());
  }
  WriteFile(dir.File("noid.lng.xml"), "<language name=\"plain\"/>");
  items.push_back(std::make_unique<TLanguageItem>(dir.File("noid.lng.xml")));
  selector.AddItem("plain", items.back().get());
  selector.AddItem("text only");

  const TDrawRect rect{5, 40, 106, 18};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const TLanguageDrawItem draw = cbbLanguageDrawItem(selector, static_cast<int>(i), rect);
    EXPECT_EQ(draw.ImageIndex, cases[i].second) << "id '" << cases[i].first << "'";
    EXPECT_EQ(draw.Text, "n" + cases[i].first);
  }
  const TLanguageDrawItem plain = cbbLanguageDrawItem(selector, 5, rect);
  EXPECT_EQ(plain.ImageIndex, -1);
  EXPECT_EQ(plain.Text, "plain");
  EXPECT_EQ(plain.TextLeft, 35);
  EXPECT_EQ(plain.TextTop, 40);
  EXPECT_EQ(plain.FontName, "Trebuchet MS");
  EXPECT_EQ(plain.FontSize, 10);
  EXPECT_EQ(plain.Fill.Width, 106);
  const TLanguageDrawItem flagged = cbbLanguageDrawItem(selector, 1, rect);
  EXPECT_EQ(flagged.ImageLeft, 8);
  EXPECT_EQ(flagged.ImageTop, 43);
  EXPECT_EQ(cbbLanguageDrawItem(selector, 6, rect).ImageIndex, -1);
  EXPECT_EQ(cbbLanguageDrawItem(selector, 6, rect).Text, "text only");
  EXPECT_EQ(cbbLanguageDrawItem(selector, 7, rect).Text, "");
}

}  // namespace
