#pragma once
// The application's open windows: the top-level elements that language files are applied
// to and exported from. A window is listed while its TOpenForm lives; the list keeps the
// order in which the windows opened. Used from the user-interface thread.
#include <vector>

class TViewElement;

class TOpenForm {
 public:
  explicit TOpenForm(TViewElement& Form);
  ~TOpenForm();
  TOpenForm(const TOpenForm&) = delete;
  TOpenForm& operator=(const TOpenForm&) = delete;

 private:
  TViewElement& FForm;
};

// The open windows, in the order they opened.
std::vector<TViewElement*> OpenForms();
