#include "media/MediaPlayerGlyphs.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace {

constexpr int glyphWidth = 16;
constexpr int glyphHeight = 11;

// The shapes, drawn in one colour on a transparent ground.
void DrawShape(QPainter &painter, const QString &shape)
{
    const auto triangle = [&](int left, int right, bool pointsRight) {
        QPolygon polygon;
        if (pointsRight)
            polygon << QPoint(left, 1) << QPoint(right, 5) << QPoint(left, 9);
        else
            polygon << QPoint(right, 1) << QPoint(left, 5) << QPoint(right, 9);
        painter.drawPolygon(polygon);
    };
    const auto bar = [&](int left, int width) { painter.drawRect(left, 1, width - 1, 8); };

    if (shape == "MPPLAY") {
        triangle(5, 10, true);
    } else if (shape == "MPPAUSE") {
        bar(4, 3);
        bar(9, 3);
    } else if (shape == "MPSTOP") {
        painter.drawRect(4, 1, 7, 8);
    } else if (shape == "MPNEXT") {
        triangle(3, 8, true);
        triangle(8, 12, true);
        bar(13, 2);
    } else if (shape == "MPPREV") {
        bar(1, 2);
        triangle(3, 7, false);
        triangle(7, 12, false);
    } else if (shape == "MPSTEP") {
        bar(3, 2);
        triangle(7, 11, true);
    } else if (shape == "MPBACK") {
        triangle(4, 8, false);
        bar(11, 2);
    } else if (shape == "MPRECORD") {
        painter.drawEllipse(QRect(4, 1, 8, 8));
    } else if (shape == "MPEJECT") {
        QPolygon roof;
        roof << QPoint(3, 6) << QPoint(8, 1) << QPoint(13, 6);
        painter.drawPolygon(roof);
        painter.drawRect(3, 8, 10, 1);
    }
}

QColor ColouredInk(const QString &shape)
{
    if (shape == "MPPLAY")
        return QColor(0, 128, 0);
    if (shape == "MPPAUSE")
        return QColor(160, 160, 0);
    if (shape == "MPSTOP" || shape == "MPRECORD")
        return QColor(192, 0, 0);
    if (shape == "MPEJECT")
        return QColor(0, 0, 160);
    return QColor(0, 96, 160);
}

QImage Draw(const QString &kind, const QString &shape)
{
    QImage image(glyphWidth, glyphHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    if (kind == "DI_") {
        // Disabled: a grey shape over a white one, one pixel down and right.
        painter.translate(1, 1);
        painter.setPen(Qt::white);
        painter.setBrush(Qt::white);
        DrawShape(painter, shape);
        painter.translate(-1, -1);
        painter.setPen(QColor(128, 128, 128));
        painter.setBrush(QColor(128, 128, 128));
    } else {
        const QColor ink = kind == "CL_" ? ColouredInk(shape) : QColor(Qt::black);
        painter.setPen(ink);
        painter.setBrush(ink);
    }
    DrawShape(painter, shape);
    painter.end();
    return image;
}

} // namespace

QImage MediaPlayerGlyph(const QString &name)
{
    static QHash<QString, QImage> drawn;
    static const QStringList shapes = {"MPPLAY", "MPPAUSE", "MPSTOP",   "MPNEXT", "MPPREV",
                                       "MPSTEP", "MPBACK",  "MPRECORD", "MPEJECT"};
    const QString kind = name.left(3);
    const QString shape = name.mid(3);
    if ((kind != "EN_" && kind != "DI_" && kind != "CL_") || !shapes.contains(shape))
        return QImage();
    auto it = drawn.find(name);
    if (it == drawn.end())
        it = drawn.insert(name, Draw(kind, shape));
    return *it;
}
