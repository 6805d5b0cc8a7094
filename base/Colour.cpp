#include "base/Colour.h"

#include <array>

namespace {

struct SystemColour {
    std::uint8_t index;
    TColor rgb;
};

// The Windows 10 defaults of the system colours the program uses.
constexpr std::array<SystemColour, 7> kSystemColours{{
    {6, RGBColor(100, 100, 100)},  // window frame
    {8, RGBColor(0, 0, 0)},        // window text
    {15, RGBColor(240, 240, 240)}, // button face
    {16, RGBColor(160, 160, 160)}, // button shadow
    {20, RGBColor(255, 255, 255)}, // button highlight
    {21, RGBColor(105, 105, 105)}, // 3-D dark shadow
    {27, RGBColor(185, 209, 234)}, // gradient active caption
}};

} // namespace

TColor ColorToRGB(TColor colour)
{
    if (colour == clDefault || colour == clNone)
        return ColorToRGB(clBtnFace);
    if ((colour & 0xFF000000u) == 0xFF000000u) {
        const auto index = static_cast<std::uint8_t>(colour & 0xFF);
        for (const SystemColour &entry : kSystemColours) {
            if (entry.index == index)
                return entry.rgb;
        }
        return RGBColor(0, 0, 0);
    }
    return colour & 0x00FFFFFFu;
}

QColor ToQColor(TColor colour)
{
    const TColor rgb = ColorToRGB(colour);
    return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>((rgb >> 16) & 0xFF));
}

TColor FromQColor(const QColor &colour) { return RGBColor(colour.red(), colour.green(), colour.blue()); }
