#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "lang/uLanguage.h"
#include "support/uPaths.h"
#include "tests/lang/LangTestFiles.h"
#include "tests/lang/LanguageTexts.h"

namespace {

TEST(ShippedFiles, NamedAndIdentifiedForTheSelector) {
  const TLanguageItem czech(kCzech);
  EXPECT_EQ(czech.LanguageName(), "česky");
  EXPECT_EQ(czech.LanguageId(), "$405");
  const TLanguageItem english(kEnglish);
  EXPECT_EQ(english.LanguageName(), "english");
  EXPECT_EQ(english.LanguageId(), "$409");
}

TEST(ShippedFiles, Windows1250WithOneTabPerLevel) {
  for (const std::string& file : {kCzech, kEnglish}) {
    const std::string bytes = ReadFile(file);
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"windows-1250\"?>\n", 0), 0u) << file;
    EXPECT_EQ(bytes.find("\xC3"), std::string::npos) << file << " holds UTF-8";
    int depth = 0;
    std::size_t start = bytes.find('\n') + 1;
    while (start < bytes.size()) {
      const std::size_t end = bytes.find('\n', start);
      const std::string line = bytes.substr(start, end - start);
      start = end == std::string::npos ? bytes.size() : end + 1;
      if (line.empty()) continue;
      const std::size_t tabs = line.find_first_not_of('\t');
      const bool closing = line[tabs + 1] == '/';
      const bool opening = !closing && line.substr(line.size() - 2) != "/>";
      if (closing) --depth;
      EXPECT_EQ(static_cast<int>(tabs), depth) << file << ": " << line;
      if (opening) ++depth;
    }
    EXPECT_EQ(depth, 0) << file;
  }
}

TEST(ShippedFiles, EnglishTranslatesEveryTextOfTheCzechFile) {
  const auto czech = Texts(kCzech);
  const auto english = Texts(kEnglish);
  std::vector<std::string> czechPaths, englishPaths;
  for (const auto& [path, text] : czech) czechPaths.push_back(path);
  for (const auto& [path, text] : english) englishPaths.push_back(path);
  ASSERT_EQ(czechPaths, englishPaths);
  // Texts that read the same in both languages.
  const std::vector<std::string> same = {"Gen", "110 Bd", "300 Bd", "600 Bd", "1x",  "2x",
                                         "4x",  "8x",     "16x",    "32x",    "64x", "128x"};
  int translated = 0;
  for (const auto& [path, text] : czech) {
    if (text.empty()) continue;
    if (std::find(same.begin(), same.end(), text) != same.end()) {
      EXPECT_EQ(english.at(path), text) << path;
      continue;
    }
    EXPECT_NE(english.at(path), text) << path;
    // Plain English: nothing but ASCII and the dash of "4–20 mA".
    std::string plain = english.at(path);
    for (std::size_t dash; (dash = plain.find("–")) != std::string::npos;) plain.erase(dash, 3);
    EXPECT_TRUE(std::all_of(plain.begin(), plain.end(), [](unsigned char c) { return c < 0x80; }))
        << path;
    ++translated;
  }
  EXPECT_GE(translated, 50);
}

TEST(ShippedFiles, LeaveTheLanguageAndAddressListsAndTheLiveTextsAlone) {
  for (const std::string& file : {kCzech, kEnglish}) {
    const TXMLDocument document = TXMLDocument::LoadFromFile(file);
    const TXMLNode main = document.DocumentElement().FindChild("forms").FindChild("fMain");
    ASSERT_TRUE(main) << file;
    EXPECT_FALSE(main.HasAttribute("caption")) << file;
    for (const char* list : {"cbbLanguage", "cbADR"})
      EXPECT_FALSE(main.FindChild(list).FindChild("items")) << file << " " << list;
    for (const char* live : {"lChannel", "Label4", "lChannel1Name", "lMeasuringChannel1Value",
                             "lMeasuringChannel4Unit"}) {
      ASSERT_TRUE(main.FindChild(live)) << live;
      EXPECT_TRUE(main.FindChild(live).AttributeNames().empty()) << file << " " << live;
    }
  }
}

}  // namespace
