#include "controls/LcdPatterns.h"

#include "controls/LcdFont5x7.h"

#include <array>

namespace {

struct SegmentRow {
    char ch;
    const char *segments; // elements 1 to 7
};

constexpr SegmentRow kSevenSegment[] = {
    {'0', "1111110"}, {'1', "0001100"}, {'2', "1011011"}, {'3', "0011111"}, {'4', "0101101"}, {'5', "0110111"},
    {'6', "1110111"}, {'7', "0011100"}, {'8', "1111111"}, {'9', "0111111"}, {'-', "0000001"}, {'_', "0000010"},
    {'A', "1111101"}, {'C', "1110010"}, {'E', "1110011"}, {'F', "1110001"}, {'G', "1110110"}, {'H', "1101101"},
    {'J', "1001110"}, {'L', "1100010"}, {'O', "1111110"}, {'P', "1111001"}, {'U', "1101110"}, {'Y', "0101111"},
    {'b', "1100111"}, {'c', "1000011"}, {'d', "1001111"}, {'h', "1100101"}, {'i', "1000000"}, {'j', "0000110"},
    {'l', "1100000"}, {'n', "1000101"}, {'o', "1000111"}, {'r', "1000001"}, {'t', "1100011"}, {'u', "1000110"},
};

constexpr std::array<std::uint8_t, 256> BuildSevenSegmentTable()
{
    std::array<std::uint8_t, 256> table{};
    for (const SegmentRow &row : kSevenSegment) {
        std::uint8_t bits = 0;
        for (int i = 0; i < 7; ++i) {
            if (row.segments[i] == '1')
                bits |= static_cast<std::uint8_t>(1 << i);
        }
        table[static_cast<unsigned char>(row.ch)] = bits;
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kSevenSegmentTable = BuildSevenSegmentTable();

bool IsPoint(unsigned char ch) { return ch == '.' || ch == ','; }

} // namespace

int ElementCount(Zn::TZnIndicatorKind kind)
{
    switch (kind) {
    case Zn::ik5x7matrix: return 35;
    case Zn::ik9segment: return 10;
    default: return 8;
    }
}

CellPattern PatternOf(Zn::TZnIndicatorKind kind, unsigned char ch, bool point)
{
    CellPattern pattern;
    pattern.elements = ElementCount(kind);
    switch (kind) {
    case Zn::ik5x7matrix: pattern.lit = MatrixGlyph(ch); break;
    case Zn::ik9segment:
        if (IsPoint(ch))
            pattern.lit = std::uint64_t{1} << 9;
        else
            pattern.lit =
                (ch == ':' ? std::uint64_t{3} << 7 : kSevenSegmentTable[ch]) | (point ? std::uint64_t{1} << 9 : 0);
        break;
    default:
        if (IsPoint(ch))
            pattern.lit = std::uint64_t{1} << 7;
        else
            pattern.lit = kSevenSegmentTable[ch] | (point ? std::uint64_t{1} << 7 : 0);
        break;
    }
    return pattern;
}
