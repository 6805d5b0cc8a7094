#include "controls/PixelRings.h"

#include <QPainter>
#include <algorithm>

PixelRings::PixelRings(const QRect &area, const PixelTest &holds, int depth)
    : area_(area),
      rings_(static_cast<size_t>(std::max(0, area.width() * area.height())), -1)
{
    const int w = area_.width();
    const int h = area_.height();
    if (w <= 0 || h <= 0)
        return;
    const auto at = [&](int x, int y) { return static_cast<size_t>(y * w + x); };
    // Unpeeled pixels of the shape are marked with depth until a ring claims them.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (holds(area_.left() + x, area_.top() + y))
                rings_[at(x, y)] = depth;
    const auto below = [&](int x, int y, int ring) {
        return x < 0 || y < 0 || x >= w || y >= h || rings_[at(x, y)] < ring;
    };
    for (int ring = 0; ring < depth; ++ring) {
        std::vector<size_t> peeled;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                if (rings_[at(x, y)] != depth)
                    continue;
                if (below(x - 1, y, ring) || below(x + 1, y, ring) || below(x, y - 1, ring) || below(x, y + 1, ring))
                    peeled.push_back(at(x, y));
            }
        }
        for (size_t i : peeled)
            rings_[i] = ring;
    }
}

void PixelRings::Fill(QPainter &painter, int ring, const QColor &colour, const PixelTest &select) const
{
    const int w = area_.width();
    if (w <= 0)
        return;
    // A row's run at a time.
    for (int y = 0; y < area_.height(); ++y) {
        const int *row = rings_.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
        const int top = area_.top() + y;
        const auto wanted = [&](int x) { return row[x] == ring && (!select || select(area_.left() + x, top)); };
        for (int x = 0; x < w;) {
            if (!wanted(x)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < w && wanted(x))
                ++x;
            painter.fillRect(area_.left() + start, top, x - start, 1, colour);
        }
    }
}
