#pragma once

#include <QColor>
#include <cstdint>

// A colour as the form description stores it: an RGB value 0x00BBGGRR, or a system colour
// (high byte 0xFF, low byte the system colour index), or clDefault / clNone.
using TColor = std::uint32_t;

constexpr TColor clBlack = 0x00000000;
constexpr TColor clWhite = 0x00FFFFFF;
constexpr TColor clRed = 0x000000FF;
constexpr TColor clBlue = 0x00FF0000;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

constexpr TColor clWindowFrame = 0xFF000006;
constexpr TColor clWindowText = 0xFF000008;
constexpr TColor clBtnFace = 0xFF00000F;
constexpr TColor clBtnShadow = 0xFF000010;
constexpr TColor clBtnHighlight = 0xFF000014;
constexpr TColor cl3DDkShadow = 0xFF000015;
constexpr TColor clGradientActiveCaption = 0xFF00001B;

constexpr TColor RGBColor(int r, int g, int b)
{
    return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

// Resolves system colours through one fixed table (Windows 10 defaults); clDefault and clNone
// resolve to the button face. Every drawing path goes through here.
TColor ColorToRGB(TColor colour);
QColor ToQColor(TColor colour);
// The RGB value of a QColor, alpha ignored.
TColor FromQColor(const QColor &colour);
