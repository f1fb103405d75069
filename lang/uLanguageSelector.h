#pragma once
// The language list of the main window's header (cbbLanguage): one entry per language
// file name found (LanguageDirs in lang/uLanguage.h; the user's copy of a name wins), drawn
// with its name and, for Czech and English, a flag.
// Picking an entry applies that file to the open windows.
//
// The main window calls InitializeLanguages(fMain) first of all while it is created, and
// selects the first entry (ItemIndex 0, which applies nothing) when it is first shown unless
// the language remembered from the last run (lang/uLanguageChoice.h) is selected already.
// InitializeLanguages connects cbbLanguage's OnChange to cbbLanguageChange and the hidden
// button Button1 ("Gen") to Button1Click, and counts the window among the open windows
// (lang/uForms.h) for as long as its selector stays connected. The front end draws every
// cbbLanguage entry as cbbLanguageDrawItem describes it. Errors (a language file that is
// not well-formed, "Property %s does not exist") go to the caller, the toolkit's error box;
// what was applied before an error stays.
#include <string>

class TViewElement;

struct TDrawRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

// One entry of the list as it is to be drawn: fill Fill with the current (normal or
// selection) brush, write Text in the font at (TextLeft, TextTop), then draw image
// ImageIndex of ImageList1 (0 the Czech flag, 1 the United Kingdom flag, -1 none) at
// (ImageLeft, ImageTop). Coordinates are those of the rectangle given.
struct TLanguageDrawItem {
  TDrawRect Fill;
  std::string FontName;
  int FontSize = 0;
  std::string Text;
  int TextLeft = 0;
  int TextTop = 0;
  int ImageIndex = -1;
  int ImageLeft = 0;
  int ImageTop = 0;
};

// Fills cbbLanguage from the language files, each name once. The entry of the language
// remembered from the last run is selected and applied; without one nothing is. On an error
// the entries keep their texts with nothing attached.
void InitializeLanguages(TViewElement& Form);
TLanguageDrawItem cbbLanguageDrawItem(const TViewElement& cbbLanguage, int Index,
                                      const TDrawRect& Rect);
// Applies the selected entry's file to the open windows and once more to Form (name matched
// ignoring case), and remembers it for the next run; plain entries apply nothing.
void cbbLanguageChange(TViewElement& Form);
// The hidden "Gen" button: the window texts into "Export.lng.xml" in the current directory.
void Button1Click();
