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
class TPixelRings {
public:
    using PixelTest = std::function<bool(int x, int y)>;

    // The pixels of `area` for which `holds` is true, with rings counted up to `depth`. Pixels
    // outside the area count as outside the shape.
    TPixelRings(const QRect &area, const PixelTest &holds, int depth);

    // 0 for a pixel that touches the outside by an edge, 1 for one that touches ring 0, and so
    // on; `depth` for every pixel further in; -1 outside the shape.
    int Ring(int x, int y) const;

    // Fills the pixels of one ring (the depth given at construction: the whole inside), only
    // those that `select` accepts when it is given.
    void Fill(QPainter &painter, int ring, const QColor &colour, const PixelTest &select = {}) const;

private:
    QRect area_;
    std::vector<int> rings_;
};
