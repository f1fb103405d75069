#pragma once
// The main window's components with their built-in (Czech) texts, positions and sizes.
#include <array>

class TViewElement;

// Client area of the fixed-size window.
inline constexpr int kMainWidth = 695;
inline constexpr int kMainHeight = 551;

// Rows of the channel page that move when the 4-20 mA row is shown or hidden.
inline constexpr std::array<const char*, 9> kRowsBelow420 = {
    "pChannelUnit", "pValueRangeMax", "pValueRangeMin", "pDecimals", "lWatchingMearuredValue",
    "pWatching",    "pMaxValue",      "pMinValue",      "pHystValue"};

// The menu's buttons of channels 1 to 4 (their Tag is the channel number).
inline constexpr std::array kChannelButtons = {"sbChannel1", "sbChannel2", "ShapeEx3", "ShapeEx4"};

// Every element of the search page's found-modules section: shown once a module is found.
inline constexpr std::array<const char*, 7> kFoundSection = {
    "lFoundedModules", "sFoundedModules",  "lColumn1", "lColumn2",
    "lColumn3",        "lbFoundedModules", "sConnect"};

// Builds every component of Form (the main window "fMain", class "TfMain").
void CreateMainWindowElements(TViewElement& Form);
