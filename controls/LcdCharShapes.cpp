#include "controls/LcdCharShapes.h"

#include "controls/LcdGeometry.h"
#include "controls/LcdPatterns.h"

CellShapeBuilder::CellShapeBuilder(Zn::TZnIndicatorKind kind, Zn::TZnIndicatorStyle style, bool hover, QSize cell)
    : kind_(kind),
      elements_(CellElements(kind, style, hover, cell.width(), cell.height()))
{}

void CellShapeBuilder::BuildCellShapes(const QRect &cell, unsigned char ch, bool point, PolygonSet &lit,
                                       PolygonSet &unlit) const
{
    const CellPattern pattern = PatternOf(kind_, ch, point);
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
