#pragma once
// The main window's components with their built-in (Czech) texts, positions and sizes.
#include <array>

#include "comm/uChannelProblem.h"

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

// The hidden labels of the search page that hold, in the window's language, the text of each
// fault a channel names: %1 stands for the port, %2 and %3 for what the text names.
struct TProblemText {
  TProblemKind Kind;
  const char* Label;
  const char* Czech;
};
inline constexpr std::array<TProblemText, 8> kProblemTexts = {{
    {TProblemKind::BadServerAddress, "lServerAddressBadText",
     "%1: adresa sériového serveru není platná: %2"},
    {TProblemKind::Unresolved, "lServerUnresolvedText", "%1: název %2 nelze přeložit na adresu"},
    {TProblemKind::Refused, "lServerRefusesText", "%1: sériový server %2 odmítá spojení"},
    {TProblemKind::Unanswered, "lServerSilentText", "%1: sériový server %2 neodpovídá"},
    {TProblemKind::Unreachable, "lServerUnreachableText", "%1: sériový server %2 není dosažitelný"},
    {TProblemKind::SpeedNotSet, "lServerKeepsSpeedText",
     "%1: sériový server nenastavuje rychlost linky"},
    {TProblemKind::OtherSpeed, "lServerOtherSpeedText",
     "%1: sériový server nastavil %2 Bd místo požadovaných %3 Bd"},
    {TProblemKind::BrokenTelnet, "lServerBreaksTelnetText",
     "%1: sériový server porušuje protokol Telnet (%2); spojení bylo ukončeno"},
}};

// Builds every component of Form (the main window "fMain", class "TfMain").
void CreateMainWindowElements(TViewElement& Form);
