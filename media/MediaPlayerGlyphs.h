#pragma once

#include <QImage>
#include <QString>

// The button bar's glyph pictures by name: "EN_", "DI_" or "CL_" (enabled, disabled, coloured)
// followed by MPPLAY, MPPAUSE, MPSTOP, MPNEXT, MPPREV, MPSTEP, MPBACK, MPRECORD or MPEJECT.
// A null image for any other name. The pictures are drawn once and kept (as images, which
// outlive the application object safely).
QImage MediaPlayerGlyph(const QString &name);
