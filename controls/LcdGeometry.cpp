#include "controls/LcdGeometry.h"

#include <algorithm>

namespace {

// Truncation toward zero.
int T(double v) { return static_cast<int>(v); }

double DotSize(Zn::TZnIndicatorStyle style, bool hover, double pitch)
{
    double size;
    double minimum;
    switch (style) {
    case Zn::isThin:
        size = hover ? pitch / 2 - 1 : 2 * pitch / 3 - 1;
        minimum = 1.5;
        break;
    case Zn::isThick:
        size = hover ? 3 * pitch / 4 - 1 : pitch - 1;
        minimum = 3.5;
        break;
    default:
        size = hover ? 2 * pitch / 3 - 1 : 3 * pitch / 4 - 1;
        minimum = 2.5;
        break;
    }
    return std::max(size, minimum);
}

void MatrixDots(Zn::TZnIndicatorStyle style, bool hover, int width, int height, PolygonSet &set)
{
    const int margin = T(width / 16.0) + 1;
    const double px = (width - 2 * margin) / 5.0;
    const double py = height / 7.0;
    const int dw = T(DotSize(style, hover, px));
    const int dh = T(DotSize(style, hover, py));
    for (int row = 0; row < 7; ++row) {
        for (int column = 0; column < 5; ++column) {
            const int x = T(column * px + margin);
            const int y = T(row * py);
            const QPoint dot[4] = {{x, y}, {x + dw, y}, {x + dw, y + dh}, {x, y + dh}};
            set.Append(dot, 4);
        }
    }
}

void Segments(Zn::TZnIndicatorKind kind, Zn::TZnIndicatorStyle style, bool hover, int width, int height,
              PolygonSet &set)
{
    const double t = SegmentStroke(style, hover, width, height);
    const double ux = width / 8.0;
    const double uy = height / 8.0;
    const double h = t / 2;
    auto add = [&set](std::initializer_list<QPoint> points) {
        set.Append(points.begin(), static_cast<int>(points.size()));
    };

    // The digit leans right by half a unit over three units of height; the ones added and
    // taken away keep neighbouring elements a pixel apart.
    add({{T(ux), T(7 * uy + h) - 1},
         {T(ux - h), T(7 * uy - h) - 1},
         {T(1.5 * ux - h), T(4 * uy + h)},
         {T(1.5 * ux), T(4 * uy)},
         {T(1.5 * ux + h), T(4 * uy + h)},
         {T(ux + h), T(7 * uy - h) - 1}});
    add({{T(1.5 * ux), T(4 * uy) - 1},
         {T(1.5 * ux - h), T(4 * uy - h) - 1},
         {T(2 * ux - h), T(uy + h)},
         {T(2 * ux), T(uy - h)},
         {T(2 * ux + h), T(uy + h)},
         {T(1.5 * ux + h), T(4 * uy - h) - 1}});
    add({{T(2 * ux) + 1, T(uy - h)},
         {T(2 * ux + h) + 1, T(uy - h)},
         {T(6.5 * ux - h) - 1, T(uy - h)},
         {T(6.5 * ux) - 1, T(uy - h)},
         {T(6.5 * ux - h) - 1, T(uy + h)},
         {T(2 * ux + h) + 1, T(uy + h)}});
    add({{T(6.5 * ux), T(uy - h)},
         {T(6.5 * ux + h), T(uy + h)},
         {T(6 * ux + h), T(4 * uy - h) - 1},
         {T(6 * ux), T(4 * uy) - 1},
         {T(6 * ux - h), T(4 * uy - h) - 1},
         {T(6.5 * ux - h), T(uy + h)}});
    add({{T(6 * ux), T(4 * uy)},
         {T(6 * ux + h), T(4 * uy + h)},
         {T(5.5 * ux + h), T(7 * uy - h) - 1},
         {T(5.5 * ux), T(7 * uy + h) - 1},
         {T(5.5 * ux - h), T(7 * uy - h) - 1},
         {T(6 * ux - h), T(4 * uy + h)}});
    add({{T(ux) + 1, T(7 * uy + h)},
         {T(ux + h) + 1, T(7 * uy - h)},
         {T(5.5 * ux - h) - 1, T(7 * uy - h)},
         {T(5.5 * ux) - 1, T(7 * uy + h)},
         {T(5.5 * ux - h) - 1, T(7 * uy + h)},
         {T(ux + h) + 1, T(7 * uy + h)}});
    add({{T(1.5 * ux) + 1, T(4 * uy)},
         {T(1.5 * ux + h) + 1, T(4 * uy - h)},
         {T(6 * ux - h) - 1, T(4 * uy - h)},
         {T(6 * ux) - 1, T(4 * uy)},
         {T(6 * ux - h) - 1, T(4 * uy + h)},
         {T(1.5 * ux + h) + 1, T(4 * uy + h)}});

    if (kind == Zn::ik9segment) {
        for (const auto &[cx, cy] : {std::pair{4.0, 2.5}, std::pair{3.5, 5.5}}) {
            const double x = cx * ux;
            const double y = cy * uy;
            add({{T(x - t / 3), T(y + 2 * t / 3)},
                 {T(x - 2 * t / 3), T(y)},
                 {T(x - t / 3), T(y - 2 * t / 3)},
                 {T(x + t / 3), T(y - 2 * t / 3)},
                 {T(x + 2 * t / 3), T(y)},
                 {T(x + t / 3), T(y + 2 * t / 3)}});
        }
    }

    add({{T(5.5 * ux + t / 4) + 1, T(7 * uy)},
         {T(5.5 * ux + h) + 1, T(7 * uy - h)},
         {T(5.5 * ux + 5 * t / 4), T(7 * uy - h)},
         {T(5.5 * ux + 3 * h), T(7 * uy)},
         {T(5.5 * ux + 5 * t / 4), T(7 * uy + h)},
         {T(5.5 * ux + h) + 1, T(7 * uy + h)}});
}

} // namespace

double SegmentStroke(Zn::TZnIndicatorStyle style, bool hover, int width, int height)
{
    const double side = std::min(width, height);
    double t;
    double minimum;
    switch (style) {
    case Zn::isThin:
        t = hover ? side / 6 : side / 8;
        minimum = 2;
        break;
    case Zn::isThick:
        t = hover ? side / 4.5 : side / 5;
        minimum = 4;
        break;
    default:
        t = hover ? side / 5 : side / 6;
        minimum = 3;
        break;
    }
    return std::max(t, minimum);
}

PolygonSet CellElements(Zn::TZnIndicatorKind kind, Zn::TZnIndicatorStyle style, bool hover, int width, int height)
{
    PolygonSet set;
    if (kind == Zn::ik5x7matrix)
        MatrixDots(style, hover, width, height, set);
    else
        Segments(kind, style, hover, width, height, set);
    return set;
}
