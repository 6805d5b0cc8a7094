#pragma once

#include "controls/LcdPolygonSet.h"
#include "controls/ZnTypes.h"

// The elements of one cell of W x H pixels, in cell coordinates (origin at the cell's top-left
// corner) and in element order: 35 rectangular dots for the matrix, 8 or 10 six-point
// polygons for the segment kinds. Hovering (the mouse inside a control that reacts with its
// stroke weight) makes dots one step smaller and segments one step heavier.
PolygonSet CellElements(Zn::TZnIndicatorKind kind, Zn::TZnIndicatorStyle style, bool hover, int width, int height);

// The stroke width t of the segments.
double SegmentStroke(Zn::TZnIndicatorStyle style, bool hover, int width, int height);
