#pragma once

#include <QByteArray>
#include <QImage>

// Decodes a baseline or progressive JPEG held in memory through libjpeg.
// Returns a null image when the data is not a JPEG it can read.
QImage DecodeJpeg(const QByteArray &data);
