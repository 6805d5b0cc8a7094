#pragma once

#include <QPixmap>
#include <QString>

// The button bar's glyph pictures by name: "EN_", "DI_" or "CL_" (enabled, disabled, coloured)
// followed by MPPLAY, MPPAUSE, MPSTOP, MPNEXT, MPPREV, MPSTEP, MPBACK, MPRECORD or MPEJECT.
// A null pixmap for any other name. The pictures are drawn once and kept.
QPixmap MediaPlayerGlyph(const QString &name);
