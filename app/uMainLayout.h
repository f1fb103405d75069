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

// Builds every component of Form (the main window "fMain", class "TfMain").
void CreateMainWindowElements(TViewElement& Form);
