#pragma once
// The window program: the controller over the machine's channels, its Qt window and the
// trend window, run in the toolkit's event loop until the window closes.
#include <functional>

class TfMain;
class TfMainWindow;
class TfTrendWindow;

// Called once everything is built, before the window shows (the demo walk starts here).
using TMainProgramStart = std::function<void(TfMain&, TfMainWindow&, TfTrendWindow&)>;

// The program's exit code.
int RunMainProgram(int argc, char** argv, const TMainProgramStart& OnStart = {});
