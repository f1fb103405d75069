#include "lang/uForms.h"

#include <algorithm>
#include <mutex>

namespace {

// Guarded although only the user-interface thread is expected here: a window created on
// another thread by mistake must not corrupt the list.
std::mutex& FormsLock() {
  static std::mutex lock;
  return lock;
}

std::vector<TViewElement*>& Forms() {
  static std::vector<TViewElement*> forms;
  return forms;
}

}  // namespace

TOpenForm::TOpenForm(TViewElement& Form) : FForm(Form) {
  std::lock_guard guard(FormsLock());
  Forms().push_back(&FForm);
}

TOpenForm::~TOpenForm() {
  std::lock_guard guard(FormsLock());
  auto& forms = Forms();
  forms.erase(std::find(forms.begin(), forms.end(), &FForm));
}

std::vector<TViewElement*> OpenForms() {
  std::lock_guard guard(FormsLock());
  return Forms();
}
