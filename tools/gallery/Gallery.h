#pragma once

#include <QString>

// Each renders one control in its main states to PNG files in dir; raises Exception when a
// picture cannot be read or written.
void RenderGaugeGallery(const QString &dir);
void RenderButtonGallery(const QString &dir);
void RenderLcdGallery(const QString &dir);
