#pragma once

#include "controls/ZnTypes.h"

#include <QByteArray>
#include <vector>

// One character cell of the indicator: the character it shows and whether its decimal point
// is lit. A character the kind has no shape for shows as a blank cell.
struct LcdCell {
    unsigned char ch = ' ';
    bool point = false;

    bool operator==(const LcdCell &) const = default;
};

// Maps the text onto exactly `cells` cells, right-aligned. The matrix gives every character a
// cell; the segment kinds fold a point into the cell of the character before it.
std::vector<LcdCell> BuildCellList(const QByteArray &text, int cells, Zn::TZnIndicatorKind kind);
