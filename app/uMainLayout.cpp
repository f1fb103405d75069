#include "app/uMainLayout.h"

#include <string>

#include "app/uPageFields.h"
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
    TViewElement& element = Form.CreateComponent(ClassName, Name, Parent);
    if (element.IsControl()) {
      element.Set("Left", Left);
      element.Set("Top", Top);
      element.Set("Width", Width);
      element.Set("Height", Height);
      element.Set("FontColor", kTextColor);
    }
    if (Caption) element.Set("Caption", Caption);
    return element;
  }
  TViewElement& Panel(const char* Name, TViewElement* Parent, int Left, int Top, int Width,
                      int Height) {
    TViewElement& panel = Add("TPanel", Name, Parent, Left, Top, Width, Height);
    panel.Set("Color", kPageColor);
    return panel;
  }
  TViewElement& Button(const char* Name, TViewElement* Parent, int Left, int Top, int Width,
                       const char* Caption) {
    TViewElement& button = Add("TShapeEx", Name, Parent, Left, Top, Width, 30, Caption);
    button.Set("PenColor", kTextColor);
    return button;
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
  // A row whose field is a text edit of at most MaxLength characters, with its hint.
  void TextRow(const char* RowName, TViewElement& Page, int Top, const char* LabelName,
               const char* Caption, const char* FieldName, int MaxLength, const char* Hint) {
    Row(RowName, Page, Top, LabelName, Caption, "TEdit", FieldName);
    TViewElement& field = Form.Component(FieldName);
    field.Set("MaxLength", MaxLength);
    field.Set("Hint", Hint);
    field.Set("ShowHint", true);
  }
};

void Header(TLayout& layout) {
  TViewElement& top = layout.Panel("pTop", nullptr, 0, 0, kMainWidth, kHeaderHeight);
  top.Set("Color", clWhite);
  for (const char* name : {"imgUSB", "imgRS", "imgNovra", "imgXX"})
    layout.Add("TImage", name, &top, 20, 10, 200, 90).Set("Visible", false);
  TViewElement& language = layout.Add("TComboBox", "cbbLanguage", &top, 575, 10, 106, 24);
  language.SetItems({"česky", "english"});
  layout.Add("TLabel", "Label8", &top, 240, 40, 120, 16).Set("Visible", false);
  layout.Add("TImage", "Image5", &top, 380, 10, 32, 32).Set("Visible", false);
  TViewElement& gen = layout.Panel("Panel4", &top, 430, 10, 60, 30);
  gen.Set("Visible", false);
  layout.Add("TButton", "Button1", &gen, 0, 0, 60, 30, "Gen");
  layout.Form.CreateComponent("TImageList", "ImageList1");
}

void Menu(TLayout& layout) {
  TViewElement& menu = layout.Panel("pMenu", nullptr, 0, kHeaderHeight, kMainWidth, kMenuHeight);
  const char* names[] = {"sbMeasuring",      "sbCommunication",  kChannelButtons[0],
                         kChannelButtons[1], kChannelButtons[2], kChannelButtons[3]};
  const char* captions[] = {"Měření", "Komunikace", "Kanál 1", "Kanál 2", "Kanál 3", "Kanál 4"};
  for (int place = 0; place < 6; ++place) {
    TViewElement& button =
        layout.Button(names[place], &menu, 5 + place * 114, 5, 110, captions[place]);
    button.Set("Group", 1);
    button.Set("AllowDown", true);
    button.Set("AllowUp", place == 0);             // only "Měření" is released by a second click
    if (place >= 2) button.Set("Tag", place - 1);  // the channel number
  }
}

void BottomBar(TLayout& layout) {
  TViewElement& bar = layout.Panel("pBottomButtonPanel", nullptr, 0, kMainHeight - kBottomHeight,
                                   kMainWidth, kBottomHeight);
  layout.Button("sSaveChanges1", &bar, 455, 8, 110, "Uložit").Set("Visible", false);
  // Never shown: the heading of the message that names the fields a save did not change.
  layout.Add("TLabel", "lChangesNotTaken", &bar, 10, 14, 400, 16, "Modul nepřijal tyto hodnoty:")
      .Set("Visible", false);
  layout.Button("ShapeEx2", &bar, 575, 8, 110, "Odpojit");
}

// The three pages that cover the menu and the bottom bar.
TViewElement& FullPage(TLayout& layout, const char* Name) {
  return layout.Panel(Name, nullptr, 0, kHeaderHeight, kMainWidth, kMainHeight - kHeaderHeight);
}

void SearchPage(TLayout& layout) {
  TViewElement& page = FullPage(layout, "pSearch");
  layout.Add("TLabel", "lSearchHeading", &page, 20, 15, 400, 24, "Vyhledání modulu");
  layout.Add("TLabel", "lSearchText", &page, 20, 50, 500, 16,
             "Prohledat všechna USB rozhraní a dostupné sériové porty.");
  layout.Button("sSearch", &page, 560, 42, 110, "Hledat");
  // Modules sharing an RS-485 line answer one by one, each at its own address.
  layout.Add("TCheckBox", "cbSearchAddresses", &page, 380, 15, 170, 20, "Hledat podle adres");
  layout.Add("TEdit", "eAddressRange", &page, 560, 13, 110, 22).Set("Text", "0-253");
  layout
      .Add("TLabel", "lAddressRangeBad", &page, 20, 74, 650, 16,
           "Rozsah adres není platný: adresy 0 až 253, například 0-253 nebo 1,5,7-12.")
      .Set("Visible", false);
  // Why the window came back here: the connected module's port went away. The hidden label
  // holds the message's text from the language file, %1 standing for the port.
  layout.Add("TLabel", "lChannelGone", &page, 20, 74, 520, 16).Set("FontColor", clRed);
  layout.Add("TLabel", "lChannelGoneText", &page, 20, 74, 520, 16, "%1 byl odpojen.")
      .Set("Visible", false);
  // After a search that found nothing: a port the user may not open, and the fix.
  layout.Add("TLabel", "lNoPermission", &page, 20, 74, 650, 16).Set("FontColor", clRed);
  layout
      .Add("TLabel", "lNoPermissionText", &page, 20, 74, 650, 16,
           "%1 nelze otevřít: přidejte svého uživatele do skupiny, která vlastní zařízení portu "
           "(obvykle dialout), a přihlaste se znovu.")
      .Set("Visible", false);
  // After a search that found nothing: the program that holds a port (the service), by name.
  layout.Add("TLabel", "lPortHeld", &page, 20, 74, 650, 16).Set("FontColor", clRed);
  layout
      .Add("TLabel", "lPortHeldText", &page, 20, 74, 650, 16,
           "%1 používá %2; před nastavováním modulů jej ukončete.")
      .Set("Visible", false);
  layout.Add("TLabel", "lFoundedModules", &page, 20, 100, 400, 16,
             "Byly detekovány tyto moduly KVX:");
  layout.Add("TShape", "sFoundedModules", &page, 20, 122, 650, 250);
  layout.Add("TLabel", "lColumn1", &page, 30, 130, 120, 16, "typ modulu");
  layout.Add("TLabel", "lColumn2", &page, 170, 130, 120, 16, "rozhraní");
  layout.Add("TLabel", "lColumn3", &page, 320, 130, 120, 16, "výrobní číslo");
  layout.Add("TListBox", "lbFoundedModules", &page, 20, 150, 650, 180);
  layout.Button("sConnect", &page, 560, 338, 110, "Připojit");
  // After a plain search: lines where several modules seem to answer at once.
  layout.Add("TLabel", "lCollision", &page, 20, 376, 650, 16).Set("FontColor", clRed);
  layout
      .Add("TLabel", "lCollisionText", &page, 20, 376, 650, 16,
           "%1: zřejmě odpovídá několik modulů najednou; prohledejte linku podle adres.")
      .Set("Visible", false);
  for (const TProblemText& problem : kProblemTexts)
    layout.Add("TLabel", problem.Label, &page, 20, 74, 650, 16, problem.Czech)
        .Set("Visible", false);
  // After a search: that it found nothing, or how far a cancelled one came.
  layout.Add("TLabel", "lSearchResult", &page, 20, 396, 650, 16).Set("Visible", false);
  layout
      .Add("TLabel", "lNothingFoundText", &page, 20, 396, 650, 16,
           "Nebyl nalezen žádný modul KVX (prohledaná rozhraní: %1).")
      .Set("Visible", false);
  layout
      .Add("TLabel", "lSearchCancelledText", &page, 20, 396, 650, 16,
           "Hledání zrušeno: prohledáno %1 z %2 rozhraní (%3 %).")
      .Set("Visible", false);
  for (const char* name : kFoundSection) layout.Form.Component(name).Set("Visible", false);
}

void SearchingPage(TLayout& layout) {
  TViewElement& page = FullPage(layout, "pSearching");
  layout.Add("TLabel", "lSearchingHeading", &page, 20, 15, 400, 24, "Vyhledání modulu");
  layout.Add("TLabel", "lSearchingText", &page, 20, 50, 300, 16, "Vyhledávám modul na rozhraní:");
  layout.Add("TLabel", "lConnectionDesc", &page, 320, 50, 350, 16);
  layout.Add("TProgressBar", "ProgressBar1", &page, 20, 90, 650, 20).Set("Max", 0);
  layout.Button("sCancelSearch", &page, 560, 130, 110, "Zrušit");
  // The modules read so far, each as soon as it is read.
  layout.Add("TListBox", "lbSearchingFound", &page, 20, 170, 650, 180);
}

void ErrorPage(TLayout& layout) {
  TViewElement& page = FullPage(layout, "pError");
  layout.Add("TLabel", "Label12", &page, 20, 60, 650, 24, "Chyba při komunikaci s modulem KVX!");
  layout.Button("ShapeEx5", &page, 440, 120, 110, "Opakovat");
  layout.Button("ShapeEx6", &page, 560, 120, 110, "Odpojit");
}

TViewElement& ModulePage(TLayout& layout, const char* Name) {
  return layout.Panel(Name, nullptr, 0, kPageTop, kMainWidth, kPageHeight);
}

void MeasurePage(TLayout& layout) {
  TViewElement& page = ModulePage(layout, "pMeasure");
  // The heading wide enough for "Measurement" in the type of "Měření".
  layout.Add("TLabel", "Label13", &page, 20, 10, 160, 24, "Měření");
  layout.Add("TLabel", "lModuleName", &page, 185, 10, 385, 24, "");
  TViewElement& trend = layout.Button("sTrend", &page, 580, 6, 90, "Průběh");
  trend.Set("Hint", "Průběh měřených hodnot v čase");
  trend.Set("ShowHint", true);
  for (int channel = 1; channel <= static_cast<int>(kChannelButtons.size()); ++channel) {
    const int top = 50 + (channel - 1) * 70;
    const std::string prefix = Format("%d", channel);
    TViewElement& frame = layout.Add("TShapeEx", ("sMeasuringChannel" + prefix + "Panel").c_str(),
                                     &page, 20, top, 650, 60);
    frame.Set("PenColor", kTextColor);
    // Wide enough for "Channel 4" in the same type as "Kanál 4".
    layout.Add("TLabel", ("lChannel" + prefix + "Channel").c_str(), &page, 35, top + 20, 100, 20,
               ("Kanál " + prefix).c_str());
    layout.Add("TLabel", ("lChannel" + prefix + "Name").c_str(), &page, 140, top + 20, 235, 20,
               "Jméno kanálu");
    layout.Add("TLabel", ("lMeasuringChannel" + prefix + "Value").c_str(), &page, 380, top + 15,
               180, 30, "-");
    layout.Add("TLabel", ("lMeasuringChannel" + prefix + "Unit").c_str(), &page, 580, top + 20, 80,
               20, "-");
  }
  TViewElement& timer = layout.Form.CreateComponent("TTimer", "Timer1");
  timer.Set("Interval", 1000);
  timer.Set("Enabled", false);
}

void ConnectionPage(TLayout& layout) {
  TViewElement& page = ModulePage(layout, "pConnection");
  layout.Add("TLabel", "lInformaceOModulu", &page, 20, 10, 300, 20, "Informace o modulu");
  layout.Add("TLabel", "Label18", &page, 20, 40, 200, 16, "Jméno a verze");
  layout.Add("TEdit", "eNameAndVersion", &page, 230, 36, 300, 22).Set("ReadOnly", true);
  layout.Add("TLabel", "Label14", &page, 20, 70, 200, 16, "Výrobní číslo");
  layout.Add("TEdit", "ePidPis", &page, 230, 66, 300, 22).Set("ReadOnly", true);
  layout.Add("TLabel", "lKomunikacniParametry", &page, 20, 110, 300, 20, "Komunikační parametry");
  layout.Add("TLabel", "lKomunikacniRychlost", &page, 20, 140, 200, 16, "Komunikační rychlost");
  layout.Add("TComboBox", "cbCommunicationSpeed", &page, 230, 136, 160, 22)
      .SetItems({"110 Bd", "300 Bd", "600 Bd", "1 200 Bd", "2 400 Bd", "4 800 Bd", "9 600 Bd",
                 "19 200 Bd", "38 400 Bd", "57 600 Bd", "115 200 Bd", "230 400 Bd"});
  layout.Add("TLabel", "lAdresaModulu", &page, 20, 170, 200, 16, "Adresa modulu");
  layout.Add("TComboBox", "cbADR", &page, 230, 166, 160, 22);
  layout.Add("TLabel", "lUzivatelskaData", &page, 20, 200, 200, 16, "Uživatelská data");
  layout.Add("TMemo", "mUserData", &page, 230, 196, 300, 40).Set("MaxLength", 16);
  // What a save says of a module on a line it shares with others; %1 stands for the address.
  layout
      .Add("TLabel", "lAddressTakenText", &page, 20, 250, 600, 16,
           "Na adrese %1 už odpovídá jiný modul; nic nebylo zapsáno. Dva moduly na jedné adrese "
           "lze rozdělit jen odpojením jednoho z linky.")
      .Set("Visible", false);
  layout
      .Add("TLabel", "lSharedSpeedText", &page, 20, 250, 600, 16,
           "Ostatní moduly na této lince zůstanou na dosavadní rychlosti.")
      .Set("Visible", false);
}

void ChannelPage(TLayout& layout) {
  TViewElement& page = ModulePage(layout, "pChannel");
  layout.Add("TLabel", "lChannel", &page, 20, 8, 120, 22, "Kanál");
  layout.Add("TLabel", "Label4", &page, 140, 10, 400, 18, "( Vstupní rozsah:  )");

  int top = 36;
  layout.TextRow("pChannelName", page, top, "Label1", "Jméno kanálu", "eChannelName", 20,
                 "Název kanálu (max. 20 znaků)");
  top += kRowHeight;
  layout.Row("p4_20mA", page, top, "Label11", "Ke vstupu je připojeno čidlo s výstupem 4 až 20 mA",
             "TCheckBox", "cb4_20mA", 20);
  top += kRowHeight;
  layout.TextRow("pChannelUnit", page, top, "Label2", "Jednotka", "eChannelUnit", 5,
                 "Jednotka měřené veličiny po přepočtu (max. 5 znaků)");
  top += kRowHeight;
  layout.Row("pValueRangeMax", page, top, "Label5", "Horní hranice rozsahu", "TDoubleEdit",
             "deValueRangeMax");
  top += kRowHeight;
  layout.Row("pValueRangeMin", page, top, "Label6", "Dolní hranice rozsahu", "TDoubleEdit",
             "deValueRangeMin");
  top += kRowHeight;
  layout.Row("pDecimals", page, top, "Label7", "Počet desetinných míst pro zaokrouhlení",
             "TIntEdit", "ieDecimals", 60);
  TViewElement& decimals = layout.Form.Component("ieDecimals");
  decimals.Set("Hint", "Počet desetiných míst");
  decimals.Set("ShowHint", true);
  top += kRowHeight + 6;
  layout.Add("TLabel", "lWatchingMearuredValue", &page, 20, top, 300, 20, "Hlídání měřené hodnoty");
  top += 24;
  layout.Row("pWatching", page, top, "Label17", "Hlídání měřené hodnoty", "TCheckBox", "CheckBox2",
             20);
  top += kRowHeight;
  const char* rows[][3] = {{"pMaxValue", "Label19", "Horní mez"},
                           {"pMinValue", "Label20", "Dolní mez"},
                           {"pHystValue", "Label21", "Hystereze"}};
  const char* fields[] = {"deMaxValue", "deMinValue", "deHystValue"};
  for (int place = 0; place < 3; ++place, top += kRowHeight)
    layout.Row(rows[place][0], page, top, rows[place][1], rows[place][2], "TDoubleEdit",
               fields[place]);
  for (const TNumberField& field : kNumberFields) {
    TViewElement& edit = layout.Form.Component(field.Element);
    edit.Set("MinValue", field.Bounds.Min);
    edit.Set("MaxValue", field.Bounds.Max);
    edit.Set("Increment", 1);
  }
  // The gain sits in the right-hand column, beside the name.
  TViewElement& gain = layout.Panel("pChannelGain", &page, 445, 36, 240, kRowHeight - 1);
  layout.Add("TLabel", "lblChannelGain", &gain, 0, 6, 80, 16, "Zesílení");
  layout.Add("TComboBox", "cbbChannelGain", &gain, 85, 2, 100, 22)
      .SetItems({"1x", "2x", "4x", "8x", "16x", "32x", "64x", "128x"});
}

// Texts that the window fills in or shows in the trend window; "%1", "%2", ... are the blanks.
void WindowTexts(TLayout& layout) {
  const char* const texts[][2] = {
      {"txChannelHeading", "Kanál %1"},
      {"txInputRange", "( Vstupní rozsah: %1 )"},
      {"txValueName", kNumberValueName},
      {"txRangeMessage", kNumberRangeMessage},
      {"txTrendCaption", "Průběh"},
      {"txTrendLast", "Posledních %1 min"},
      {"txTrendAll", "Vše od připojení"},
      {"txTrendRecord", "Záznam"},
      {"txTrendStop", "Zastavit záznam"},
      {"txTrendSaveImage", "Uložit obrázek"},
      {"txFileFolder", "Složka:"},
      {"txFileName", "Název souboru:"},
      {"txFileType", "Typ souboru:"},
      {"txFileSave", "Uložit"},
      {"txFileCancel", "Zrušit"},
      {"txTrendOwnScales", "Každý kanál ve vlastním měřítku"},
      {"txCannotWrite", "Soubor %1 nelze zapsat: %2."},
      {"txWriteNoFolder", "složka neexistuje"},
      {"txWriteNoPermission", "chybí oprávnění"},
      {"txWriteDiskFull", "disk je plný"},
      {"txWriteFailed", "chyba zápisu"},
      {"txConnecting", "Připojuji…"},
      {"txReading", "Načítám…"},
      {"txSaving", "Ukládám…"},
      {"txDisconnectUnsaved", "Změny nejsou uloženy. Odpojit a změny zahodit?"},
      {"txDisconnectYes", "Odpojit"},
      {"txDisconnectNo", "Zpět"},
  };
  for (const auto& [name, text] : texts)
    layout.Form.CreateComponent("TLanguageText", name).Set("Caption", text);
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
  // Above every page: what the window is doing while an exchange holds it.
  layout.Add("TLabel", "lBusy", nullptr, 10, kMainHeight - kBottomHeight + 14, 400, 16)
      .Set("Visible", false);
  WindowTexts(layout);
}
