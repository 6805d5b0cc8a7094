#include "controls/LcdCharShapes.h"

#include "controls/LcdGeometry.h"
#include "controls/LcdPatterns.h"

TCellShapeBuilder::TCellShapeBuilder(Zn::TZnIndicatorKind kind, Zn::TZnIndicatorStyle style,
                                     bool hover, QSize cell)
    : kind_(kind), elements_(CellElements(kind, style, hover, cell.width(), cell.height()))
{
}

void TCellShapeBuilder::BuildCellShapes(const QRect &cell, unsigned char ch, bool point,
                                        TPolygonSet &lit, TPolygonSet &unlit) const
{
    const TCellPattern pattern = CellPattern(kind_, ch, point);
    const QPoint origin = cell.topLeft();
    const QPoint *source = elements_.Points().data();
    QPoint moved[8];
    for (int element = 0; element < elements_.PolygonCount(); ++element) {
        const int count = elements_.Counts()[static_cast<size_t>(element)];
        for (int i = 0; i < count; ++i)
            moved[i] = source[i] + origin;
        (pattern.IsLit(element) ? lit : unlit).Append(moved, count);
        source += count;
    }
}
