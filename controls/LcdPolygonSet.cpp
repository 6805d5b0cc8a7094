#include "controls/LcdPolygonSet.h"

#include <QPolygon>
#include <algorithm>

void PolygonSet::Clear()
{
    points_.clear();
    counts_.clear();
}

void PolygonSet::Append(const QPoint *points, int count)
{
    points_.insert(points_.end(), points, points + count);
    counts_.push_back(count);
}

void PolygonSet::Translate(int dx, int dy)
{
    const QPoint delta(dx, dy);
    for (QPoint &point : points_)
        point += delta;
}

namespace {

// A four-point polygon whose edges run along the axes covers the same pixels as the rectangle
// with those corners, right and bottom edges excluded; taking that directly spares the scan
// conversion for the dots of the matrix.
bool AxisRectangle(const QPoint *p, int count, QRect &rect)
{
    if (count != 4)
        return false;
    const bool horizontalFirst =
        p[0].y() == p[1].y() && p[1].x() == p[2].x() && p[2].y() == p[3].y() && p[3].x() == p[0].x();
    const bool verticalFirst =
        p[0].x() == p[1].x() && p[1].y() == p[2].y() && p[2].x() == p[3].x() && p[3].y() == p[0].y();
    if (!horizontalFirst && !verticalFirst)
        return false;
    const int left = std::min(p[0].x(), p[2].x());
    const int right = std::max(p[0].x(), p[2].x());
    const int top = std::min(p[0].y(), p[2].y());
    const int bottom = std::max(p[0].y(), p[2].y());
    rect = QRect(left, top, right - left, bottom - top);
    return true;
}

// Qt's polygon regions hold the pixels whose top-left corner lies inside the polygon. The
// element geometry keeps neighbouring segments a pixel apart only when a pixel belongs to the
// polygon its centre lies in; with corners, pointed ends of neighbours meet along an edge.
// Doubling the coordinates puts every pixel centre on an odd point of a finer grid, where
// Qt's rule applies unchanged; pixel x is kept when 2x + 1 lies in a span [l, r) of the fine
// region, that is for x in [l >> 1, r >> 1).
void AppendPolygonRects(const QPoint *points, int count, std::vector<QRect> &rects)
{
    QRect rect;
    if (AxisRectangle(points, count, rect)) {
        // Corner and centre rules agree on rectangles; skip the scan conversion.
        if (rect.isValid())
            rects.push_back(rect);
        return;
    }
    QPolygon doubled(count);
    for (int i = 0; i < count; ++i)
        doubled[i] = points[i] * 2;
    const QRegion fine(doubled, Qt::OddEvenFill);
    for (const QRect &r : fine) {
        const int left = r.left() >> 1;
        const int right = (r.right() + 1) >> 1;
        const int top = r.top() >> 1;
        const int bottom = (r.bottom() + 1) >> 1;
        if (right > left && bottom > top)
            rects.emplace_back(left, top, right - left, bottom - top);
    }
}

// The region of the pixels that an odd number of the rectangles cover. Row by row every
// rectangle adds its left and right edge; the covered pixels lie between the 1st and 2nd,
// 3rd and 4th, ... of the sorted edges, once edges that occur an even number of times
// (abutting or repeated rectangles) have cancelled out.
QRegion OddCoverage(const std::vector<QRect> &input)
{
    QRect bounds;
    for (const QRect &r : input)
        bounds |= r;
    if (bounds.isEmpty())
        return QRegion();

    // The rows' edges in one buffer, row after row, counted first and then put in place: a list
    // for each row would cost an allocation for each row at every tick of the display.
    const int height = bounds.height();
    std::vector<int> start(static_cast<size_t>(height) + 1, 0);
    for (const QRect &r : input) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            start[static_cast<size_t>(y - bounds.top()) + 1] += 2;
    }
    for (int row = 0; row < height; ++row)
        start[static_cast<size_t>(row) + 1] += start[static_cast<size_t>(row)];
    std::vector<int> edgesOf(static_cast<size_t>(start.back()));
    std::vector<int> filled(start.begin(), start.end() - 1);
    for (const QRect &r : input) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            int &at = filled[static_cast<size_t>(y - bounds.top())];
            edgesOf[static_cast<size_t>(at++)] = r.left();
            edgesOf[static_cast<size_t>(at++)] = r.right() + 1;
        }
    }

    std::vector<QRect> rects;
    std::vector<int> spans; // the current band's [start, end) pairs
    std::vector<int> rowSpans;
    int bandTop = bounds.top();
    auto closeBand = [&](int bandBottom) {
        for (size_t i = 0; i + 1 < spans.size(); i += 2)
            rects.emplace_back(spans[i], bandTop, spans[i + 1] - spans[i], bandBottom - bandTop);
    };
    for (int y = bounds.top(); y <= bounds.bottom(); ++y) {
        const auto row = static_cast<size_t>(y - bounds.top());
        int *const edges = edgesOf.data() + start[row];
        const int count = start[row + 1] - start[row];
        std::sort(edges, edges + count);
        rowSpans.clear();
        for (int i = 0; i < count;) {
            int j = i;
            while (j < count && edges[j] == edges[i])
                ++j;
            if ((j - i) % 2 != 0)
                rowSpans.push_back(edges[i]);
            i = j;
        }
        // Rows with the same spans share one band.
        if (rowSpans != spans) {
            closeBand(y);
            spans.swap(rowSpans);
            bandTop = y;
        }
    }
    closeBand(bounds.bottom() + 1);

    QRegion result;
    if (!rects.empty())
        result.setRects(rects.data(), static_cast<int>(rects.size()));
    return result;
}

} // namespace

QRegion PolygonRegion(const QPoint *points, int count)
{
    std::vector<QRect> rects;
    AppendPolygonRects(points, count, rects);
    return OddCoverage(rects);
}

QRegion PolygonSet::Region() const
{
    // Each polygon's own rectangles do not overlap, so odd coverage over all of them is the
    // XOR of the polygons' regions: the alternate rule over the whole set.
    std::vector<QRect> rects;
    rects.reserve(counts_.size());
    const QPoint *p = points_.data();
    for (int count : counts_) {
        AppendPolygonRects(p, count, rects);
        p += count;
    }
    return OddCoverage(rects);
}
