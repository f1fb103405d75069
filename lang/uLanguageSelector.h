#pragma once
// The language list of the main window's header (cbbLanguage): one entry per language
// file found next to the program, drawn with its name and, for Czech and English, a flag.
// Picking an entry applies that file to the open windows.
//
// The main window calls, in this order:
//   at creation, first of all:   InitializeLanguages(fMain)
//   when first shown, last:      SelectFirstLanguage(fMain)
// and keeps a TOpenForm (lang/uForms.h) for itself while it exists, so that language files
// and the export reach it. InitializeLanguages connects cbbLanguage's OnChange to
// cbbLanguageChange and the hidden button Button1 ("Gen") to the export of the window texts
// into "Export.lng.xml". The front end draws every cbbLanguage entry as
// cbbLanguageDrawItem describes it.
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

// Fills cbbLanguage from the language files in the program's directory (nothing selected,
// nothing applied) and connects the handlers above. A faulty file is reported with
// ShowMessage and leaves the entries as they were, with nothing attached; the window's
// creation goes on. Returns whether the files were listed.
bool InitializeLanguages(TViewElement& Form);
// Shows the first entry without applying it: the window keeps its built-in texts.
void SelectFirstLanguage(TViewElement& Form);
TLanguageDrawItem cbbLanguageDrawItem(const TViewElement& cbbLanguage, int Index,
                                      const TDrawRect& Rect);
// Applies the selected entry's file to the open windows and once more to Form (name matched
// ignoring case). Errors are reported with ShowMessage; what was applied before stays.
void cbbLanguageChange(TViewElement& Form);
// The hidden "Gen" button: the window texts into "Export.lng.xml" in the current directory.
void Button1Click();
