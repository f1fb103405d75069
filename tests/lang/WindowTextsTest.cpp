#include <gtest/gtest.h>

#include <set>

#include "app/uMainLayout.h"
#include "app/uViewElement.h"
#include "lang/uForms.h"
#include "lang/uLanguage.h"
#include "support/uStringUtils.h"
#include "tests/lang/LangTestFiles.h"
#include "tests/lang/LanguageTexts.h"

namespace {

// The shipped files against the main window's own element tree.
class WindowTexts : public ::testing::Test {
 protected:
  WindowTexts() : form("TfMain", "fMain") { CreateMainWindowElements(form); }

  // Caption and hint of every component, by name.
  std::map<std::string, std::string> Shown() const {
    std::map<std::string, std::string> shown;
    for (const TViewElement* component : form.Components()) {
      if (component->HasProperty("Caption"))
        shown[component->Name() + "@caption"] = component->GetText("Caption");
      if (component->HasProperty("Hint"))
        shown[component->Name() + "@hint"] = component->GetText("Hint");
    }
    return shown;
  }

  TTempDir dir;
  TViewElement form;
  TOpenForm open{form};
  TLanguage language;
};

TEST_F(WindowTexts, CzechFileIsTheWindowsOwnExportLessItsLiveTexts) {
  const std::string exported = dir.File("export.lng.xml");
  ExportLanguage(exported);
  auto expected = Texts(exported);
  // Texts the window sets itself while it runs, and lists that are not language.
  const std::set<std::string> live = {"lChannel",
                                      "lBusy",
                                      "Label4",
                                      "lChannel1Name",
                                      "lChannel2Name",
                                      "lChannel3Name",
                                      "lChannel4Name",
                                      "lMeasuringChannel1Value",
                                      "lMeasuringChannel2Value",
                                      "lMeasuringChannel3Value",
                                      "lMeasuringChannel4Value",
                                      "lMeasuringChannel1Unit",
                                      "lMeasuringChannel2Unit",
                                      "lMeasuringChannel3Unit",
                                      "lMeasuringChannel4Unit"};
  std::erase_if(expected, [&](const auto& entry) {
    const std::string& path = entry.first;
    const std::size_t at = path.find('@');
    const std::string element = path.substr(0, at);
    const std::string name =
        element.substr(element.rfind('/') + 1, element.rfind('#') - element.rfind('/') - 1);
    if (path == "/fMain#0@caption") return true;
    if (path.find("/cbbLanguage#") != std::string::npos ||
        path.find("/cbADR#") != std::string::npos)
      return path.find("/items#") != std::string::npos;
    return at != std::string::npos && live.count(name) > 0;
  });
  EXPECT_EQ(Texts(kCzech), expected);
}

TEST_F(WindowTexts, EnglishChangesEveryTextAndCzechBringsThemBack) {
  const auto builtIn = Shown();
  ASSERT_TRUE(language.Load(kEnglish));
  language.ApplyToForm(form);
  const auto english = Shown();
  const auto czechFile = Texts(kCzech);
  int changed = 0;
  for (const auto& [path, text] : czechFile) {
    const std::size_t at = path.find('@');
    if (at == std::string::npos || path.find("/items#") != std::string::npos) continue;
    const std::string element = path.substr(0, at);
    const std::string key =
        element.substr(element.rfind('/') + 1, element.rfind('#') - element.rfind('/') - 1) +
        path.substr(at);
    ASSERT_TRUE(english.count(key)) << key;
    if (text == "Gen") continue;
    EXPECT_NE(english.at(key), builtIn.at(key)) << key;
    ++changed;
  }
  EXPECT_GT(changed, 40);  // the loop did look at the window's texts
  EXPECT_EQ(form.Component("cbCommunicationSpeed").Items()[6], "9600 Bd");
  EXPECT_EQ(form.Component("cbbLanguage").ItemCount(), 2u);

  form.Component("cbCommunicationSpeed").Set("ItemIndex", 6);
  ASSERT_TRUE(language.Load(kCzech));
  EXPECT_EQ(Shown(), builtIn);
  EXPECT_EQ(form.Component("cbCommunicationSpeed").Items()[6], "9 600 Bd");
  EXPECT_EQ(form.Component("cbCommunicationSpeed").GetInt("ItemIndex"), 6);
}

TEST_F(WindowTexts, GenWritesTheFilledInTextsAndATranslationReachesThem) {
  const std::string exported = dir.File("gen.lng.xml");
  ExportLanguage(exported);
  std::map<std::string, std::string> byName;
  for (const auto& [path, text] : Texts(exported)) {
    if (path.find('@') == std::string::npos) continue;
    const std::size_t slash = path.rfind('/');
    byName[path.substr(slash + 1, path.find('#', slash) - slash - 1) +
           path.substr(path.find('@'))] = text;
  }
  EXPECT_EQ(byName["txChannelHeading@caption"], "Kanál %1");
  EXPECT_EQ(byName["txInputRange@caption"], "( Vstupní rozsah: %1 )");
  EXPECT_EQ(byName["txRangeMessage@caption"], "%1 musí být v rozmezí od %2 do %3!");
  EXPECT_EQ(byName["sTrend@hint"], "Průběh měřených hodnot v čase");

  ASSERT_TRUE(language.Load(kEnglish));
  EXPECT_EQ(form.Component("txChannelHeading").GetText("Caption"), "Channel %1");
  EXPECT_EQ(form.Component("txTrendRecord").GetText("Caption"), "Record");
  EXPECT_EQ(form.Component("sTrend").GetText("Hint"), "Measured values over time");
}

TEST_F(WindowTexts, EachFaultAChannelNamesReadsInEnglishAsKvxctlAndTheTraceSayIt) {
  ASSERT_TRUE(language.Load(kEnglish));
  const std::vector<std::string> values = {"COM9", "gw-hall3:4001", "115200"};
  std::set<TProblemKind> kinds;
  for (const TProblemText& text : kProblemTexts) {
    kinds.insert(text.Kind);
    EXPECT_EQ(FillIn(form.Component(text.Label).GetText("Caption"), values),
              ProblemText({text.Kind, values}))
        << text.Label;
  }
  // A kind without its label would show the operator nothing.
  EXPECT_EQ(kinds.size(), static_cast<std::size_t>(TProblemKind::BrokenTelnet));
}

}  // namespace
