// Draws the window's pictures: the background JPEG, the six button glyphs and the icon.
// Run through scripts/make-resources; the results are committed under resources/.
// With --hicolor it draws only the icon, as the PNG sizes of the desktop's icon theme; the
// build does that for installation.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QtEndian>
#include <array>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <memory>

namespace {

constexpr int kBackgroundWidth = 401;
constexpr int kBackgroundHeight = 162;
constexpr int kGlyphWidth = 30;
constexpr int kGlyphHeight = 20;
constexpr int kIconSize = 32;

struct FileCloser {
    void operator()(FILE *file) const { std::fclose(file); }
};

// Baseline JPEG, three components, through libjpeg.
bool writeJpeg(const QImage &image, const QString &path, int quality)
{
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.toLocal8Bit().constData(), "wb"));
    if (!file)
        return false;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file.get());
    info.image_width = static_cast<JDIMENSION>(rgb.width());
    info.image_height = static_cast<JDIMENSION>(rgb.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto *row = const_cast<JSAMPLE *>(rgb.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

void drawScrew(QPainter &p, QPointF centre)
{
    QRadialGradient head(centre - QPointF(1.5, 1.5), 6);
    head.setColorAt(0, QColor(235, 235, 235));
    head.setColorAt(1, QColor(120, 120, 124));
    p.setPen(QPen(QColor(70, 70, 74), 1));
    p.setBrush(head);
    p.drawEllipse(centre, 5, 5);
    p.setPen(QPen(QColor(60, 60, 64), 1.6));
    p.drawLine(centre + QPointF(-3.2, 2.0), centre + QPointF(3.2, -2.0));
}

QImage drawBackground()
{
    QImage image(kBackgroundWidth, kBackgroundHeight, QImage::Format_RGB32);
    // Brushed metal: each row a slightly different grey, with fine streaks along it.
    QRandomGenerator random(1977);
    for (int y = 0; y < image.height(); ++y) {
        const int rowBase = 176 + random.bounded(-6, 7);
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        int streak = 0;
        for (int x = 0; x < image.width(); ++x) {
            if (random.bounded(9) == 0)
                streak = random.bounded(-9, 10);
            const int grey = std::clamp(rowBase + streak + random.bounded(-3, 4), 0, 255);
            line[x] = qRgb(grey, grey, std::min(grey + 4, 255));
        }
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // The dark inset panel that carries the labels, the display and the gauges.
    const QRect panel(14, 20, 373, 92);
    QLinearGradient face(panel.topLeft(), panel.bottomLeft());
    face.setColorAt(0, QColor(44, 46, 52));
    face.setColorAt(1, QColor(30, 31, 36));
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawRect(panel);
    // Inset bevel: shadow on the top and left, light on the bottom and right.
    for (int i = 0; i < 3; ++i) {
        const QRect edge = panel.adjusted(-i - 1, -i - 1, i + 1, i + 1);
        p.setPen(QPen(QColor(90 - 15 * i, 90 - 15 * i, 94 - 15 * i), 1));
        p.drawLine(edge.topLeft(), edge.topRight());
        p.drawLine(edge.topLeft(), edge.bottomLeft());
        p.setPen(QPen(QColor(230 - 10 * i, 230 - 10 * i, 234 - 10 * i), 1));
        p.drawLine(edge.bottomLeft(), edge.bottomRight());
        p.drawLine(edge.topRight(), edge.bottomRight());
    }

    for (const QPointF centre : {QPointF(8.5, 8.5), QPointF(392.5, 8.5), QPointF(8.5, 144.5), QPointF(392.5, 144.5)})
        drawScrew(p, centre);
    return image;
}

// A glyph's face: light grey, a little darker in the lower half, a one-pixel darker frame.
QImage glyphFace()
{
    QImage image(kGlyphWidth, kGlyphHeight, QImage::Format_RGB888);
    QPainter p(&image);
    p.fillRect(0, 0, kGlyphWidth, kGlyphHeight / 2, QColor(222, 222, 220));
    p.fillRect(0, kGlyphHeight / 2, kGlyphWidth, kGlyphHeight / 2, QColor(206, 206, 204));
    p.setPen(QColor(150, 150, 150));
    p.drawRect(0, 0, kGlyphWidth - 1, kGlyphHeight - 1);
    return image;
}

QImage glyphPlay()
{
    QImage image = glyphFace();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPolygon(QPolygonF({QPointF(11, 4.5), QPointF(20, 10), QPointF(11, 15.5)}));
    return image;
}

QImage glyphStop()
{
    QImage image = glyphFace();
    QPainter p(&image);
    p.fillRect(10, 5, 10, 10, Qt::black);
    return image;
}

QImage glyphDocument()
{
    QImage image = glyphFace();
    QPainter p(&image);
    p.setPen(Qt::black);
    // A page with its top right corner folded over.
    p.drawPolyline(QPolygon({QPoint(17, 3), QPoint(10, 3), QPoint(10, 16), QPoint(20, 16), QPoint(20, 6), QPoint(17, 3),
                             QPoint(17, 6), QPoint(20, 6)}));
    for (int y : {8, 11, 14})
        p.drawLine(12, y, 18, y);
    return image;
}

QImage glyphRing()
{
    QImage image = glyphFace();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(210, 0, 0), 2.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(15, 10), 5.5, 5.5);
    return image;
}

QImage glyphCross()
{
    QImage image = glyphFace();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(210, 0, 0), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.5, 5.5), QPointF(19.5, 14.5));
    p.drawLine(QPointF(19.5, 5.5), QPointF(10.5, 14.5));
    return image;
}

// The 16 colours of the standard palette, the icon's only colours.
const std::array<QRgb, 16> kPalette{
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
};

int nearestPaletteIndex(QRgb colour)
{
    int best = 0;
    int bestDistance = INT32_MAX;
    for (int i = 0; i < 16; ++i) {
        const int dr = qRed(colour) - qRed(kPalette[i]);
        const int dg = qGreen(colour) - qGreen(kPalette[i]);
        const int db = qBlue(colour) - qBlue(kPalette[i]);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

// The icon: a grey recorder with a red record dot and a green level bar; drawn without
// antialiasing, so every pixel is one of the 16 colours. Transparent outside the body.
QImage drawIcon()
{
    QImage image(kIconSize, kIconSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setPen(QColor(kPalette[0]));
    p.setBrush(QColor(kPalette[7]));
    p.drawRect(2, 6, 27, 20);
    p.setPen(QColor(kPalette[15]));
    p.drawLine(3, 7, 28, 7);
    p.drawLine(3, 7, 3, 25);
    p.setPen(QColor(kPalette[8]));
    p.drawLine(4, 25, 28, 25);
    p.drawLine(28, 8, 28, 25);
    p.setPen(QColor(kPalette[0]));
    p.setBrush(QColor(kPalette[9]));
    p.drawEllipse(6, 10, 10, 10);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(kPalette[0]));
    p.drawRect(19, 10, 6, 12);
    p.setBrush(QColor(kPalette[10]));
    p.drawRect(20, 15, 4, 6);
    p.setBrush(QColor(kPalette[11]));
    p.drawRect(20, 12, 4, 2);
    return image;
}

void put16(QByteArray &out, quint16 value)
{
    const quint16 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), 2);
}

void put32(QByteArray &out, quint32 value)
{
    const quint32 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), 4);
}

// A one-image icon file, 4 bits per pixel with its palette and transparency mask.
QByteArray encodeIcon16(const QImage &image)
{
    const int size = kIconSize;
    const int xorRow = size / 2; // 4 bits per pixel
    const int andRow = ((size + 31) / 32) * 4;
    const quint32 bitmapBytes = 40 + 16 * 4 + static_cast<quint32>(size * (xorRow + andRow));

    QByteArray out;
    put16(out, 0);
    put16(out, 1); // icon
    put16(out, 1); // one image
    out.append(char(size));
    out.append(char(size));
    out.append(char(16)); // colours
    out.append(char(0));
    put16(out, 1); // planes
    put16(out, 4); // bits per pixel
    put32(out, bitmapBytes);
    put32(out, 22);

    put32(out, 40);
    put32(out, static_cast<quint32>(size));
    put32(out, static_cast<quint32>(size * 2)); // colour and mask bitmaps together
    put16(out, 1);
    put16(out, 4);
    put32(out, 0);
    put32(out, static_cast<quint32>(size * (xorRow + andRow)));
    put32(out, 0);
    put32(out, 0);
    put32(out, 16);
    put32(out, 0);
    for (QRgb colour : kPalette) {
        out.append(char(qBlue(colour)));
        out.append(char(qGreen(colour)));
        out.append(char(qRed(colour)));
        out.append(char(0));
    }
    // Rows run bottom-up in both bitmaps.
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; x += 2) {
            const auto index = [&](int px) {
                const QRgb colour = image.pixel(px, y);
                return qAlpha(colour) < 128 ? 0 : nearestPaletteIndex(colour);
            };
            out.append(char((index(x) << 4) | index(x + 1)));
        }
    }
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(andRow, '\0');
        for (int x = 0; x < size; ++x) {
            if (qAlpha(image.pixel(x, y)) < 128)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(row);
    }
    return out;
}

// The icon at another size. Whole multiples of its pixels keep the hard edges; sizes between them
// are brought down from the next multiple above, so that no pixel row is dropped or doubled unevenly.
QImage scaledIcon(const QImage &icon, int size)
{
    const int factor = (size + kIconSize - 1) / kIconSize;
    const QImage enlarged =
        icon.scaled(kIconSize * factor, kIconSize * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (enlarged.width() == size)
        return enlarged;
    return enlarged.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// DIR/<n>x<n>/apps/NAME.png for the sizes desktops ask an icon theme for.
bool writeThemeIcons(const QString &dir, const QString &name)
{
    const QImage icon = drawIcon();
    bool ok = true;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(dir).arg(size);
        ok = QDir().mkpath(folder) && scaledIcon(icon, size).save(folder + '/' + name + ".png", "PNG") && ok;
    }
    return ok;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--hicolor") == 0) {
        if (!writeThemeIcons(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]))) {
            std::fprintf(stderr, "could not write the icons to %s\n", argv[2]);
            return 1;
        }
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-DIRECTORY\n       %s --hicolor THEME-DIRECTORY ICON-NAME\n", argv[0],
                     argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    bool ok = writeJpeg(drawBackground(), dir + QStringLiteral("/background.jpg"), 88);
    const std::pair<const char *, QImage> glyphs[] = {
        {"play", glyphPlay()}, {"stop", glyphStop()},   {"document", glyphDocument()},
        {"ring", glyphRing()}, {"cross", glyphCross()},
    };
    for (const auto &[name, image] : glyphs)
        ok = image.save(dir + QStringLiteral("/glyph-%1.bmp").arg(QLatin1String(name)), "BMP") && ok;
    ok = writeFile(dir + QStringLiteral("/tamblo.ico"), encodeIcon16(drawIcon())) && ok;
    if (!ok) {
        std::fprintf(stderr, "could not write the pictures to %s\n", argv[1]);
        return 1;
    }
    return 0;
}
