#pragma once

#include "base/Colour.h"
#include "base/Component.h"
#include "controls/ZintarLiquidIndicator.h"
#include "fixtures/MainDisplay.h"

#include <QImage>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace lcdtest {

using Lcd = TZintarLiquidIndicator;

inline QRgb Rgb(TColor colour) { return ToQColor(colour).rgb(); }

// The main window's colours as they resolve on this platform.
inline const QRgb kFrame = qRgb(100, 100, 100); // window frame: background
inline const QRgb kLit = qRgb(185, 209, 234);   // gradient active caption
inline const QRgb kUnlit = qRgb(105, 105, 105); // 3-D dark shadow
inline const QRgb kOrange = qRgb(255, 128, 0);  // 33023
inline const QRgb kLight = qRgb(132, 132, 132); // window frame lightened
inline const QRgb kDark = qRgb(68, 68, 68);     // window frame darkened
inline const QRgb kHost = qRgb(0, 160, 0);      // what lies under the control

// A window holding one display, painted in a colour the display never uses.
struct Host {
    Host()
    {
        window = std::make_unique<QWidget>();
        window->resize(320, 240);
        QPalette palette = window->palette();
        palette.setColor(QPalette::Window, QColor(kHost));
        window->setPalette(palette);
        window->setAutoFillBackground(true);
    }
    std::unique_ptr<QWidget> window;
};

// The position display as the main window builds it.
inline Lcd *MainDisplay(QWidget *parent, const QString &text = "000000")
{
    return MakeMainDisplay(parent, QRect(0, 0, 120, 30), text);
}

inline QImage Shot(QWidget *widget) { return widget->grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Reads the 5x7 glyph of a cell of 18 x 22 whose top-left corner is (left, top): 2 x 2 dots
// at x = 2, 4, 7, 10, 13 and y = 0, 3, ..., 18. Every dot must be wholly lit or wholly unlit,
// and every other pixel of the cell background.
inline std::vector<std::string> ReadGlyph(const QImage &image, int left, int top, QRgb lit = kLit, QRgb unlit = kUnlit,
                                          QRgb background = kFrame)
{
    static const int xs[5] = {2, 4, 7, 10, 13};
    std::vector<std::string> rows(7, std::string(5, '?'));
    bool onDot[22][18] = {};
    for (int r = 0; r < 7; ++r) {
        for (int c = 0; c < 5; ++c) {
            const int x0 = left + xs[c];
            const int y0 = top + 3 * r;
            const QRgb first = image.pixel(x0, y0);
            for (int dy = 0; dy < 2; ++dy) {
                for (int dx = 0; dx < 2; ++dx) {
                    EXPECT_EQ(image.pixel(x0 + dx, y0 + dy), first)
                        << "dot " << r + 1 << "," << c + 1 << " is not uniform";
                    onDot[3 * r + dy][xs[c] + dx] = true;
                }
            }
            rows[static_cast<size_t>(r)][static_cast<size_t>(c)] = first == lit ? '1' : first == unlit ? '0' : '?';
        }
    }
    for (int y = 0; y < 22; ++y) {
        for (int x = 0; x < 18; ++x) {
            if (!onDot[y][x]) {
                EXPECT_EQ(image.pixel(left + x, top + y), background)
                    << "between the dots at " << left + x << "," << top + y;
            }
        }
    }
    return rows;
}

inline const std::vector<std::string> kBlankGlyph(7, "00000");

} // namespace lcdtest
