#pragma once

#include "controls/LcdPolygonSet.h"
#include "controls/ZnTypes.h"

#include <QRect>
#include <QSize>

// Builds the elements of the indicator's cells. All cells of one rebuild have the same size,
// kind and stroke, so the element geometry is worked out once and moved into each cell.
class CellShapeBuilder {
public:
    CellShapeBuilder(Zn::TZnIndicatorKind kind, Zn::TZnIndicatorStyle style, bool hover, QSize cell);

    // Appends each element of the cell, in element order, to the lit or the unlit set
    // according to the character's pattern.
    void BuildCellShapes(const QRect &cell, unsigned char ch, bool point, PolygonSet &lit, PolygonSet &unlit) const;

private:
    Zn::TZnIndicatorKind kind_;
    PolygonSet elements_;
};
