#pragma once
// The demo walk through the window, for a machine without a display: search, connect to
// each module found, every page, the English texts, the trend window with a short recording,
// one PNG screenshot per step (and the recording's CSV), then quit.
#include <QString>
#include <optional>
#include <string>

class TfMain;
class TfMainWindow;
class TfTrendWindow;

// The directory of "screenshots:DIR"; none for any other script. Raises on an empty DIR.
std::optional<QString> DemoScreenshotDir(const std::string& Script);

// Runs the walk once the event loop runs; the application quits afterwards with exit code 0,
// or 1 when a screenshot could not be saved or no module was found.
void StartDemoWalk(TfMain& Form, TfMainWindow& Window, TfTrendWindow& Trend,
                   const QString& Directory);
