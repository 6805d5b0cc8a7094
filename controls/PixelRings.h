#pragma once

#include <QColor>
#include <QRect>
#include <functional>
#include <vector>

class QPainter;

// A shape drawn pixel by pixel: the pixels of an area that it holds, each marked with how far it
// lies from the shape's edge. Outlines peeled off one shape this way always nest, with no gap
// between them and no pixel of the inside showing through; curved outlines painted one by one
// do not promise that.
class PixelRings {
public:
    using PixelTest = std::function<bool(int x, int y)>;

    // The pixels of `area` for which `holds` is true, with rings counted up to `depth`: ring 0
    // holds the pixels that touch the outside by an edge, ring 1 those that touch ring 0, and
    // so on; every pixel further in counts as ring `depth`. Pixels outside the area count as
    // outside the shape.
    PixelRings(const QRect &area, const PixelTest &holds, int depth);

    // Fills the pixels of one ring (ring `depth`: the whole inside), only those that `select`
    // accepts when it is given.
    void Fill(QPainter &painter, int ring, const QColor &colour, const PixelTest &select = {}) const;

private:
    QRect area_;
    // Per pixel of the area, row by row: its ring, or -1 outside the shape.
    std::vector<int> rings_;
};
