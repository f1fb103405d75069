// Any bytes as a language file, loaded and applied to the main window's elements, then
// applied again as to a window that opens later. The file may fail to parse or name a
// property that does not exist; it never adds, removes, renames or retypes a component.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "app/uMainLayout.h"
#include "app/uViewElement.h"
#include "fuzz/FuzzCheck.h"
#include "lang/uForms.h"
#include "lang/uLanguage.h"
#include "support/uErrors.h"
#include "support/uMessages.h"
#include "support/uXmlDocument.h"

namespace {

std::vector<std::string> Identities(const TViewElement& Form) {
  std::vector<std::string> identities;
  for (const TViewElement* component : Form.Components())
    identities.push_back(component->ClassName() + ":" + component->Name());
  return identities;
}

// The file each input is written to, removed when the run ends.
struct TScratchFile {
  const std::string Name = "/tmp/kvx-fuzz-language-" + std::to_string(getpid()) + ".lng.xml";
  ~TScratchFile() { std::remove(Name.c_str()); }
};

const std::string& ScratchFile() {
  static const TScratchFile file;
  return file.Name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const bool quiet = (SetMessageHandler([](const std::string&) {}), true);
  (void)quiet;
  {
    std::ofstream out(ScratchFile(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
  }
  TViewElement form("TfMain", "fMain");
  CreateMainWindowElements(form);
  const std::vector<std::string> before = Identities(form);
  TLanguage language;
  {
    TOpenForm open(form);
    try {
      FuzzCheck(language.Load(ScratchFile()), "an existing file was not loaded");
    } catch (const Exception&) {
    } catch (const EXMLError&) {
    }
  }
  try {
    language.ApplyToForm(form);
  } catch (const Exception&) {
  }
  FuzzCheck(Identities(form) == before, "a language file changed the window's components");
  FuzzCheck(form.Name() == "fMain", "a language file renamed the window");
  return 0;
}
