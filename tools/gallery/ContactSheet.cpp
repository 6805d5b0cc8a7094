#include "tools/gallery/ContactSheet.h"

#include "base/Exception.h"

#include <QPainter>
#include <algorithm>

QImage ContactSheet::Render() const
{
    int cellWidth = 0;
    int cellHeight = 0;
    for (const Row &row : rows_) {
        for (const QImage &cell : row.cells) {
            cellWidth = std::max(cellWidth, cell.width() * zoom_);
            cellHeight = std::max(cellHeight, cell.height() * zoom_);
        }
    }
    constexpr int headHeight = 24;
    constexpr int gap = 12;
    const int width = titleWidth_ + static_cast<int>(columns_.size()) * (cellWidth + gap) + gap;
    const int height = headHeight + static_cast<int>(rows_.size()) * (cellHeight + gap) + gap;
    QImage sheet(width, height, QImage::Format_RGB32);
    sheet.fill(QColor(250, 250, 250));
    QPainter painter(&sheet);
    painter.setPen(Qt::black);
    for (int c = 0; c < columns_.size(); ++c) {
        painter.drawText(QRect(titleWidth_ + c * (cellWidth + gap), 0, cellWidth, headHeight), Qt::AlignCenter,
                         columns_[c]);
    }
    for (size_t r = 0; r < rows_.size(); ++r) {
        const int y = headHeight + static_cast<int>(r) * (cellHeight + gap);
        painter.drawText(QRect(4, y, titleWidth_ - 8, cellHeight), Qt::AlignVCenter | Qt::AlignLeft, rows_[r].title);
        for (size_t c = 0; c < rows_[r].cells.size(); ++c) {
            const QImage &cell = rows_[r].cells[c];
            painter.drawImage(titleWidth_ + static_cast<int>(c) * (cellWidth + gap), y,
                              cell.scaled(cell.size() * zoom_, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        }
    }
    return sheet;
}

void SavePng(const QImage &image, const QString &dir, const QString &name)
{
    const QString path = dir + u'/' + name;
    if (!image.save(path, "PNG"))
        throw Exception(FormatText("Cannot write %s", qPrintable(path)));
}
