#pragma once

#include "controls/ZnTypes.h"

#include <cstdint>

// Which elements of a cell a character lights. Bit i stands for element i + 1 in the order the
// elements are built: 7-segment 1 lower-left, 2 upper-left, 3 top, 4 upper-right,
// 5 lower-right, 6 bottom, 7 middle, 8 point; 9-segment the same with 8 and 9 the colon dots
// and 10 the point; the matrix row by row from the top, each row from the left.
struct CellPattern {
    int elements = 0;
    std::uint64_t lit = 0;

    bool IsLit(int element) const { return (lit >> element & 1) != 0; }
};

int ElementCount(Zn::TZnIndicatorKind kind);

CellPattern PatternOf(Zn::TZnIndicatorKind kind, unsigned char ch, bool point);
