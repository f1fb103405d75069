#include "app/uMainLayout.h"

#include <string>

#include "app/uViewElement.h"
#include "app/uWindowColors.h"
#include "support/uStringUtils.h"

namespace {

constexpr int kHeaderHeight = 112;
constexpr int kMenuHeight = 40;
constexpr int kBottomHeight = 45;
constexpr int kPageTop = kHeaderHeight + kMenuHeight;
constexpr int kPageHeight = kMainHeight - kPageTop - kBottomHeight;
constexpr int kRowHeight = 28;

struct TLayout {
  TViewElement& Form;

  TViewElement& Add(const char* ClassName, const char* Name, TViewElement* Parent, int Left,
                    int Top, int Width, int Height, const char* Caption = nullptr) {
    TViewElement& e = Form.CreateComponent(ClassName, Name, Parent);
    if (e.IsControl()) {
      e.Set("Left", Left);
      e.Set("Top", Top);
      e.Set("Width", Width);
      e.Set("Height", Height);
      e.Set("FontColor", kTextColor);
    }
    if (Caption) e.Set("Caption", Caption);
    return e;
  }
  TViewElement& Panel(const char* Name, TViewElement* Parent, int Left, int Top, int Width,
                      int Height) {
    TViewElement& e = Add("TPanel", Name, Parent, Left, Top, Width, Height);
    e.Set("Color", kPageColor);
    return e;
  }
  TViewElement& Button(const char* Name, TViewElement* Parent, int Left, int Top, int Width,
                       const char* Caption) {
    TViewElement& e = Add("TShapeEx", Name, Parent, Left, Top, Width, 30, Caption);
    e.Set("PenColor", kTextColor);
    return e;
  }
  // A labelled row of a configuration page: a panel with its label and its field.
  TViewElement& Row(const char* RowName, TViewElement& Page, int Top, const char* LabelName,
                    const char* Caption, const char* FieldClass, const char* FieldName,
                    int FieldWidth = 160) {
    TViewElement& row = Panel(RowName, &Page, 10, Top, 420, kRowHeight - 1);
    Add("TLabel", LabelName, &row, 0, 6, 250, 16, Caption);
    Add(FieldClass, FieldName, &row, 255, 2, FieldWidth, 22);
    return row;
  }
};

void Header(TLayout& L) {
  TViewElement& top = L.Panel("pTop", nullptr, 0, 0, kMainWidth, kHeaderHeight);
  top.Set("Color", clWhite);
  for (const char* name : {"imgUSB", "imgRS", "imgNovra", "imgXX"})
    L.Add("TImage", name, &top, 20, 10, 200, 90).Set("Visible", false);
  TViewElement& language = L.Add("TComboBox", "cbbLanguage", &top, 575, 10, 106, 24);
  language.SetItems({"česky", "english"});
  L.Add("TLabel", "Label8", &top, 240, 40, 120, 16).Set("Visible", false);
  L.Add("TImage", "Image5", &top, 380, 10, 32, 32).Set("Visible", false);
  TViewElement& gen = L.Panel("Panel4", &top, 430, 10, 60, 30);
  gen.Set("Visible", false);
  L.Add("TButton", "Button1", &gen, 0, 0, 60, 30, "Gen");
  L.Form.CreateComponent("TImageList", "ImageList1");
}

void Menu(TLayout& L) {
  TViewElement& menu = L.Panel("pMenu", nullptr, 0, kHeaderHeight, kMainWidth, kMenuHeight);
  const char* names[] = {"sbMeasuring", "sbCommunication", "sbChannel1",
                         "sbChannel2",  "ShapeEx3",        "ShapeEx4"};
  const char* captions[] = {"Měření", "Komunikace", "Kanál 1", "Kanál 2", "Kanál 3", "Kanál 4"};
  for (int i = 0; i < 6; ++i) {
    TViewElement& b = L.Button(names[i], &menu, 5 + i * 114, 5, 110, captions[i]);
    b.Set("Group", 1);
    b.Set("AllowDown", true);
    b.Set("AllowUp", i == 0);  // only "Měření" is released by a second click
    if (i >= 2) b.Set("Tag", i - 1);
  }
}

void BottomBar(TLayout& L) {
  TViewElement& bar = L.Panel("pBottomButtonPanel", nullptr, 0, kMainHeight - kBottomHeight,
                              kMainWidth, kBottomHeight);
  L.Button("sSaveChanges1", &bar, 455, 8, 110, "Uložit").Set("Visible", false);
  // Never shown: the heading of the message that names the fields a save did not change.
  L.Add("TLabel", "lChangesNotTaken", &bar, 10, 14, 400, 16, "Modul nepřijal tyto hodnoty:")
      .Set("Visible", false);
  L.Button("ShapeEx2", &bar, 575, 8, 110, "Odpojit");
}

// The three pages that cover the menu and the bottom bar.
TViewElement& FullPage(TLayout& L, const char* Name) {
  return L.Panel(Name, nullptr, 0, kHeaderHeight, kMainWidth, kMainHeight - kHeaderHeight);
}

void SearchPage(TLayout& L) {
  TViewElement& page = FullPage(L, "pSearch");
  L.Add("TLabel", "lSearchHeading", &page, 20, 15, 400, 24, "Vyhledání modulu");
  L.Add("TLabel", "lSearchText", &page, 20, 50, 500, 16,
        "Prohledat všechna USB rozhraní a dostupné sériové porty.");
  L.Button("sSearch", &page, 560, 42, 110, "Hledat");
  // Why the window came back here: the connected module's port went away. The hidden label
  // holds the message's text from the language file, %1 standing for the port.
  L.Add("TLabel", "lChannelGone", &page, 20, 74, 520, 16).Set("FontColor", clRed);
  L.Add("TLabel", "lChannelGoneText", &page, 20, 74, 520, 16, "%1 byl odpojen.")
      .Set("Visible", false);
  // After a search that found nothing: a port the user may not open, and the fix.
  L.Add("TLabel", "lNoPermission", &page, 20, 74, 650, 16).Set("FontColor", clRed);
  L.Add("TLabel", "lNoPermissionText", &page, 20, 74, 650, 16,
        "%1 nelze otevřít: přidejte svého uživatele do skupiny, která vlastní zařízení portu "
        "(obvykle dialout), a přihlaste se znovu.")
      .Set("Visible", false);
  L.Add("TLabel", "lFoundedModules", &page, 20, 100, 400, 16, "Byly detekovány tyto moduly KVX:");
  L.Add("TShape", "sFoundedModules", &page, 20, 122, 650, 250);
  L.Add("TLabel", "lColumn1", &page, 30, 130, 120, 16, "typ modulu");
  L.Add("TLabel", "lColumn2", &page, 170, 130, 120, 16, "rozhraní");
  L.Add("TLabel", "lColumn3", &page, 320, 130, 120, 16, "výrobní číslo");
  L.Add("TListBox", "lbFoundedModules", &page, 20, 150, 650, 180);
  L.Button("sConnect", &page, 560, 338, 110, "Připojit");
  // The found-modules section shows once a module is found.
  for (const char* name : {"lFoundedModules", "sFoundedModules", "lColumn1", "lColumn2", "lColumn3",
                           "lbFoundedModules", "sConnect"})
    L.Form.Component(name).Set("Visible", false);
}

void SearchingPage(TLayout& L) {
  TViewElement& page = FullPage(L, "pSearching");
  L.Add("TLabel", "lSearchingHeading", &page, 20, 15, 400, 24, "Vyhledání modulu");
  L.Add("TLabel", "lSearchingText", &page, 20, 50, 300, 16, "Vyhledávám modul na rozhraní:");
  L.Add("TLabel", "lConnectionDesc", &page, 320, 50, 350, 16);
  L.Add("TProgressBar", "ProgressBar1", &page, 20, 90, 650, 20).Set("Max", 0);
}

void ErrorPage(TLayout& L) {
  TViewElement& page = FullPage(L, "pError");
  L.Add("TLabel", "Label12", &page, 20, 60, 650, 24, "Chyba při komunikaci s modulem KVX!");
  L.Button("ShapeEx5", &page, 440, 120, 110, "Opakovat");
  L.Button("ShapeEx6", &page, 560, 120, 110, "Odpojit");
}

TViewElement& ModulePage(TLayout& L, const char* Name) {
  return L.Panel(Name, nullptr, 0, kPageTop, kMainWidth, kPageHeight);
}

void MeasurePage(TLayout& L) {
  TViewElement& page = ModulePage(L, "pMeasure");
  L.Add("TLabel", "Label13", &page, 20, 10, 140, 24, "Měření");
  L.Add("TLabel", "lModuleName", &page, 160, 10, 400, 24, "");
  TViewElement& trend = L.Button("sTrend", &page, 580, 6, 90, "Průběh");
  trend.Set("Hint", "Průběh měřených hodnot v čase");
  trend.Set("ShowHint", true);
  for (int n = 1; n <= 4; ++n) {
    const int top = 50 + (n - 1) * 70;
    const std::string prefix = Format("%d", n);
    TViewElement& frame = L.Add("TShapeEx", ("sMeasuringChannel" + prefix + "Panel").c_str(), &page,
                                20, top, 650, 60);
    frame.Set("PenColor", kTextColor);
    L.Add("TLabel", ("lChannel" + prefix + "Channel").c_str(), &page, 35, top + 20, 80, 20,
          ("Kanál " + prefix).c_str());
    L.Add("TLabel", ("lChannel" + prefix + "Name").c_str(), &page, 120, top + 20, 250, 20,
          "Jméno kanálu");
    L.Add("TLabel", ("lMeasuringChannel" + prefix + "Value").c_str(), &page, 380, top + 15, 180, 30,
          "-");
    L.Add("TLabel", ("lMeasuringChannel" + prefix + "Unit").c_str(), &page, 580, top + 20, 80, 20,
          "-");
  }
  TViewElement& timer = L.Form.CreateComponent("TTimer", "Timer1");
  timer.Set("Interval", 1000);
  timer.Set("Enabled", false);
}

void ConnectionPage(TLayout& L) {
  TViewElement& page = ModulePage(L, "pConnection");
  L.Add("TLabel", "lInformaceOModulu", &page, 20, 10, 300, 20, "Informace o modulu");
  L.Add("TLabel", "Label18", &page, 20, 40, 200, 16, "Jméno a verze");
  L.Add("TEdit", "eNameAndVersion", &page, 230, 36, 300, 22).Set("ReadOnly", true);
  L.Add("TLabel", "Label14", &page, 20, 70, 200, 16, "Výrobní číslo");
  L.Add("TEdit", "ePidPis", &page, 230, 66, 300, 22).Set("ReadOnly", true);
  L.Add("TLabel", "lKomunikacniParametry", &page, 20, 110, 300, 20, "Komunikační parametry");
  L.Add("TLabel", "lKomunikacniRychlost", &page, 20, 140, 200, 16, "Komunikační rychlost");
  L.Add("TComboBox", "cbCommunicationSpeed", &page, 230, 136, 160, 22)
      .SetItems({"110 Bd", "300 Bd", "600 Bd", "1 200 Bd", "2 400 Bd", "4 800 Bd", "9 600 Bd",
                 "19 200 Bd", "38 400 Bd", "57 600 Bd", "115 200 Bd", "230 400 Bd"});
  L.Add("TLabel", "lAdresaModulu", &page, 20, 170, 200, 16, "Adresa modulu");
  L.Add("TComboBox", "cbADR", &page, 230, 166, 160, 22);
  L.Add("TLabel", "lUzivatelskaData", &page, 20, 200, 200, 16, "Uživatelská data");
  L.Add("TMemo", "mUserData", &page, 230, 196, 300, 40).Set("MaxLength", 16);
}

void NumberField(TViewElement& Field, double Bound, const char* Hint = nullptr) {
  Field.Set("MinValue", -Bound);
  Field.Set("MaxValue", Bound);
  Field.Set("Increment", 1);
  if (Hint) Field.Set("Hint", Hint);
}

void ChannelPage(TLayout& L) {
  TViewElement& page = ModulePage(L, "pChannel");
  L.Add("TLabel", "lChannel", &page, 20, 8, 120, 22, "Kanál");
  L.Add("TLabel", "Label4", &page, 140, 10, 400, 18, "( Vstupní rozsah:  )");

  int top = 36;
  L.Row("pChannelName", page, top, "Label1", "Jméno kanálu", "TEdit", "eChannelName");
  TViewElement& name = L.Form.Component("eChannelName");
  name.Set("MaxLength", 20);
  name.Set("Hint", "Název kanálu (max. 20 znaků)");
  name.Set("ShowHint", true);
  top += kRowHeight;
  L.Row("p4_20mA", page, top, "Label11", "Ke vstupu je připojeno čidlo s výstupem 4 až 20 mA",
        "TCheckBox", "cb4_20mA", 20);
  top += kRowHeight;
  L.Row("pChannelUnit", page, top, "Label2", "Jednotka", "TEdit", "eChannelUnit");
  TViewElement& unit = L.Form.Component("eChannelUnit");
  unit.Set("MaxLength", 5);
  unit.Set("Hint", "Jednotka měřené veličiny po přepočtu (max. 5 znaků)");
  unit.Set("ShowHint", true);
  top += kRowHeight;
  L.Row("pValueRangeMax", page, top, "Label5", "Horní hranice rozsahu", "TDoubleEdit",
        "deValueRangeMax");
  NumberField(L.Form.Component("deValueRangeMax"), 99999999);
  top += kRowHeight;
  L.Row("pValueRangeMin", page, top, "Label6", "Dolní hranice rozsahu", "TDoubleEdit",
        "deValueRangeMin");
  NumberField(L.Form.Component("deValueRangeMin"), 99999999);
  top += kRowHeight;
  L.Row("pDecimals", page, top, "Label7", "Počet desetinných míst pro zaokrouhlení", "TIntEdit",
        "ieDecimals", 60);
  TViewElement& decimals = L.Form.Component("ieDecimals");
  decimals.Set("MinValue", 0);
  decimals.Set("MaxValue", 2);
  decimals.Set("Hint", "Počet desetiných míst");
  decimals.Set("ShowHint", true);
  top += kRowHeight + 6;
  L.Add("TLabel", "lWatchingMearuredValue", &page, 20, top, 300, 20, "Hlídání měřené hodnoty");
  top += 24;
  L.Row("pWatching", page, top, "Label17", "Hlídání měřené hodnoty", "TCheckBox", "CheckBox2", 20);
  top += kRowHeight;
  const char* rows[][3] = {{"pMaxValue", "Label19", "Horní mez"},
                           {"pMinValue", "Label20", "Dolní mez"},
                           {"pHystValue", "Label21", "Hystereze"}};
  const char* fields[] = {"deMaxValue", "deMinValue", "deHystValue"};
  for (int i = 0; i < 3; ++i, top += kRowHeight) {
    L.Row(rows[i][0], page, top, rows[i][1], rows[i][2], "TDoubleEdit", fields[i]);
    NumberField(L.Form.Component(fields[i]), 10000);
  }
  // The gain sits in the right-hand column, beside the name.
  TViewElement& gain = L.Panel("pChannelGain", &page, 445, 36, 240, kRowHeight - 1);
  L.Add("TLabel", "lblChannelGain", &gain, 0, 6, 80, 16, "Zesílení");
  L.Add("TComboBox", "cbbChannelGain", &gain, 85, 2, 100, 22)
      .SetItems({"1x", "2x", "4x", "8x", "16x", "32x", "64x", "128x"});
}

// Texts that the window fills in or shows in the trend window; "%1", "%2", ... are the blanks.
void WindowTexts(TLayout& L) {
  const char* const texts[][2] = {
      {"txChannelHeading", "Kanál %1"},   {"txInputRange", "( Vstupní rozsah: %1 )"},
      {"txValueName", "Hodnota"},         {"txRangeMessage", "%1 musí být v rozmezí od %2 do %3!"},
      {"txTrendCaption", "Průběh"},       {"txTrendLast", "Posledních %1 min"},
      {"txTrendAll", "Vše od připojení"}, {"txTrendRecord", "Záznam"},
      {"txTrendStop", "Zastavit záznam"}, {"txTrendSaveImage", "Uložit obrázek"},
  };
  for (const auto& [name, text] : texts)
    L.Form.CreateComponent("TLanguageText", name).Set("Caption", text);
}

}  // namespace

void CreateMainWindowElements(TViewElement& Form) {
  Form.Set("Width", kMainWidth);
  Form.Set("Height", kMainHeight);
  Form.Set("Caption", "KVX setup");
  Form.Set("Color", kPageColor);
  Form.Set("FontColor", kTextColor);
  TLayout layout{Form};
  Header(layout);
  Menu(layout);
  BottomBar(layout);
  // Created after the bars, so the pages that cover them lie above them.
  SearchPage(layout);
  SearchingPage(layout);
  ErrorPage(layout);
  MeasurePage(layout);
  ConnectionPage(layout);
  ChannelPage(layout);
  WindowTexts(layout);
}
