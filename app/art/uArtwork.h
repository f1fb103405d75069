#pragma once
// The window's pictures, drawn in code: one per module kind for the header band, and the two
// 16 x 16 flags of the language list.
#include <QPixmap>

// Unknown stands for the family as a whole: no module yet, or a kind without a picture of
// its own (the Ethernet model among them).
enum class TModuleArt { Usb, Rs, Novra, Unknown };

// Size of every module picture.
inline constexpr int ModuleArtWidth = 168;
inline constexpr int ModuleArtHeight = 100;

QPixmap ModulePicture(TModuleArt Kind);

// Image list of the language list: 0 the Czech flag, 1 the United Kingdom flag.
QPixmap FlagImage(int Index);
