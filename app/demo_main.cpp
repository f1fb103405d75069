// kvxsetup-demo: kvxsetup with the scripted demo walk (scripts/demo), built beside it and
// never installed. KVX_DEMO_SCRIPT="screenshots:DIR" starts the walk; without it the program
// is kvxsetup.
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>

#include "app/uf_MainDemo.h"
#include "app/uf_MainProgram.h"

int main(int argc, char** argv) {
  std::optional<QString> demoDir;
  if (const char* script = std::getenv("KVX_DEMO_SCRIPT")) {
    try {
      demoDir = DemoScreenshotDir(script);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "kvxsetup-demo: %s\n", error.what());
      return 2;
    }
    if (!demoDir) {
      std::fprintf(stderr, "kvxsetup-demo: KVX_DEMO_SCRIPT '%s' is not screenshots:DIR\n", script);
      return 2;
    }
  }
  if (!demoDir) return RunMainProgram(argc, argv);
  return RunMainProgram(argc, argv,
                        [&demoDir](TfMain& form, TfMainWindow& window, TfTrendWindow& trend) {
                          StartDemoWalk(form, window, trend, *demoDir);
                        });
}
