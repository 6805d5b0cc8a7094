#pragma once

#include <QPoint>
#include <QRegion>
#include <vector>

// A set of polygons stored flat: all points in order, and each polygon's point count.
// The indicator keeps one for its lit and one for its unlit elements.
class PolygonSet {
public:
    void Clear();
    void Append(const QPoint *points, int count);

    int PolygonCount() const { return static_cast<int>(counts_.size()); }
    bool IsEmpty() const { return counts_.empty(); }
    const std::vector<QPoint> &Points() const { return points_; }
    const std::vector<int> &Counts() const { return counts_; }
    std::vector<QPoint> &Points() { return points_; }

    void Translate(int dx, int dy);

    // One region of the whole set with the alternate rule: a pixel belongs to it when an odd
    // number of the polygons' own (odd-even) regions cover it, so overlaps drop out.
    QRegion Region() const;

private:
    std::vector<QPoint> points_;
    std::vector<int> counts_;
};

// The region of one polygon with the alternate rule: the pixels whose centre lies inside, a
// pixel (x, y) spanning (x, y) to (x + 1, y + 1). A rectangle's right and bottom edges are
// therefore left out.
QRegion PolygonRegion(const QPoint *points, int count);
