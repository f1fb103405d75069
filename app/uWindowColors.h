#pragma once
// The window's colours as 0xRRGGBB, for the controller, the layout and the Qt window alike:
// a colour that must look the same in two places is named here once.

constexpr int RGBColor(int Red, int Green, int Blue) {
  return (Red & 0xFF) << 16 | (Green & 0xFF) << 8 | (Blue & 0xFF);
}

constexpr int clWhite = RGBColor(255, 255, 255);
constexpr int clRed = RGBColor(255, 0, 0);
constexpr int clBlack = 0;
// The colour of a control that names none; fields and lists show it as white.
constexpr int clBtnFace = RGBColor(240, 240, 240);

// Pages, panels and read-only fields; the face of an idle button.
constexpr int kPageColor = RGBColor(239, 230, 230);
// Texts, frames and the outline of a pressed button.
constexpr int kTextColor = RGBColor(135, 109, 98);
// Button outlines and the face of a pressed button or one under the pointer.
constexpr int kFrameColor = RGBColor(214, 197, 181);
// The face of a page tab under the pointer.
constexpr int kTabHoverColor = RGBColor(231, 217, 217);
