#pragma once

#include <cstdint>

// The 5x7 dot-matrix font of the indicator: a glyph for each printable ASCII character from '!'
// to '~' except the backquote. Bit (row * 5 + column) is set when that dot is lit, rows from
// the top and columns from the left, both counted from 0. Every other byte, the space
// included, has no glyph and gives 0.
std::uint64_t MatrixGlyph(unsigned char ch);
