#include "base/Component.h"
#include "base/Exception.h"
#include "controls/ZintarLiquidIndicator.h"
#include "fixtures/MainDisplay.h"
#include "tools/gallery/ContactSheet.h"
#include "tools/gallery/Gallery.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QPainter>
#include <algorithm>
#include <functional>
#include <vector>

namespace {

using Lcd = TZintarLiquidIndicator;
using SetUp = std::function<void(Lcd *)>;

constexpr int kMargin = 6;
constexpr int kTitleWidth = 110;

// A two-tone chequer, so what a transparent display lets through is plain to see.
QBrush Chequer()
{
    QImage tile(8, 8, QImage::Format_RGB32);
    tile.fill(QColor(40, 110, 60));
    QPainter painter(&tile);
    painter.fillRect(0, 0, 4, 4, QColor(70, 150, 90));
    painter.fillRect(4, 4, 4, 4, QColor(70, 150, 90));
    return QBrush(tile);
}

void Hover(Lcd *lcd)
{
    const QPointF inside(lcd->width() / 2.0, lcd->height() / 2.0);
    QEnterEvent enter(inside, inside, lcd->mapToGlobal(inside));
    QCoreApplication::sendEvent(lcd, &enter);
}

// The display configured by setUp on a window of the chequer, with a margin around it.
QImage Capture(const SetUp &setUp, bool hovered = false)
{
    QWidget window;
    QPalette colours = window.palette();
    colours.setBrush(QPalette::Window, Chequer());
    window.setPalette(colours);
    window.setAutoFillBackground(true);
    auto *lcd = new Lcd(&window);
    lcd->move(kMargin, kMargin);
    setUp(lcd);
    window.resize(lcd->size() + QSize(2 * kMargin, 2 * kMargin));
    window.show();
    if (hovered)
        Hover(lcd);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    return window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The main window's display at its place on the window's background picture, built while the
// form loads as the window builds it.
QImage CaptureOnMainWindow(const SetUp &setUp, bool hovered)
{
    const QString path = QStringLiteral(TAMBLO_RESOURCE_DIR "/background.jpg");
    const QImage picture(path);
    if (picture.isNull())
        throw Exception(FormatText("Cannot read %s", qPrintable(path)));
    QWidget window;
    QPalette colours = window.palette();
    colours.setBrush(QPalette::Window, QBrush(picture));
    window.setPalette(colours);
    window.setAutoFillBackground(true);
    window.resize(403, 155);
    Lcd *lcd;
    {
        FormLoadingScope loading;
        lcd = new Lcd(&window);
        lcd->setGeometry(88, 72, 120, 30);
        setUp(lcd);
    }
    lcd->FinishLoading();
    window.show();
    if (hovered)
        Hover(lcd);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    return window.grab(lcd->geometry().adjusted(-kMargin, -kMargin, kMargin, kMargin))
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

struct Kind {
    Lcd::TZnIndicatorKind kind;
    const char *name;
    const char *text;
};
const Kind kKinds[] = {
    {Lcd::ik7segment, "7-segment", "-12.34:5"},
    {Lcd::ik9segment, "9-segment", "-12.34:5"},
    {Lcd::ik5x7matrix, "5x7-matrix", "Ab3.14:"},
};

QString FileName(const char *sheet, const QString &row, const QString &column)
{
    QString name = QStringLiteral("lcd-%1-%2-%3.png").arg(QLatin1String(sheet), row, column);
    return name.replace(u' ', u'-').toLower();
}

// Renders a sheet of rows x columns, saving each picture on its own as well.
void RenderSheet(const QString &dir, const char *name, const QStringList &rows, const QStringList &columns, int zoom,
                 const std::function<QImage(int row, int column)> &picture)
{
    ContactSheet sheet(columns, zoom, kTitleWidth);
    for (int r = 0; r < rows.size(); ++r) {
        std::vector<QImage> cells;
        for (int c = 0; c < columns.size(); ++c) {
            cells.push_back(picture(r, c));
            SavePng(cells.back(), dir, FileName(name, rows[r], columns[c]));
        }
        sheet.AddRow(rows[r], std::move(cells));
    }
    SavePng(sheet.Render(), dir, QStringLiteral("lcd-%1-sheet.png").arg(QLatin1String(name)));
}

QStringList KindNames()
{
    QStringList names;
    for (const Kind &kind : kKinds)
        names << QLatin1String(kind.name);
    return names;
}

// A soft diagonal gradient and a small brick, for the materials.
QImage Gradient()
{
    QImage image(64, 16, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(90 + x * 2, 110 + y * 4, 170 - x));
    return image;
}

QImage Brick()
{
    QImage image(12, 8, QImage::Format_RGB32);
    image.fill(QColor(170, 90, 60));
    QPainter painter(&image);
    painter.setPen(QColor(200, 190, 170));
    painter.drawLine(0, 3, 11, 3);
    painter.drawLine(0, 7, 11, 7);
    painter.drawLine(5, 0, 5, 3);
    painter.drawLine(11, 4, 11, 7);
    return image;
}

QImage ForeGradient()
{
    QImage image(8, 40, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(255, 220 - y * 4, 40 + y * 3));
    return image;
}

} // namespace

void RenderLcdGallery(const QString &dir)
{
    // The main window's display: built while its form loads, as the window does.
    const QStringList mainTexts = {QStringLiteral("000000"), QStringLiteral("1234"), QStringLiteral("1234567"),
                                   QStringLiteral("98765")};
    RenderSheet(dir, "main", mainTexts, {QStringLiteral("plain"), QStringLiteral("hover maColor")}, 4,
                [&](int r, int c) {
                    return CaptureOnMainWindow(
                        [&](Lcd *lcd) {
                            ApplyMainDisplayLook(*lcd);
                            lcd->setIndicatorstring(mainTexts[r]);
                            if (c == 1)
                                lcd->setMouseAction(Lcd::maColor);
                        },
                        c == 1);
                });

    // Kinds in each stroke weight, and on hover with both actions.
    const QStringList styles = {QStringLiteral("isThin"), QStringLiteral("isNormal"), QStringLiteral("isThick"),
                                QStringLiteral("hover maBoth")};
    RenderSheet(dir, "kinds", KindNames(), styles, 2, [&](int r, int c) {
        return Capture(
            [&](Lcd *lcd) {
                lcd->setSignNumber(8);
                lcd->setIndicatorWidth(280);
                lcd->setIndicatorHeight(56);
                lcd->setIndicatorKind(kKinds[r].kind);
                lcd->setIndicatorstring(QLatin1String(kKinds[r].text));
                lcd->setIndicatorStyle(c == 3 ? Lcd::isNormal : static_cast<Lcd::TZnIndicatorStyle>(c));
                if (c == 3)
                    lcd->setMouseAction(Lcd::maBoth);
            },
            c == 3);
    });

    // The seven colour schemes, each kind at the default size.
    const QStringList schemes = {
        QStringLiteral("csSilver"), QStringLiteral("csInvSilver"), QStringLiteral("csWhite"), QStringLiteral("csBlack"),
        QStringLiteral("csPlasma"), QStringLiteral("csInvPlasma"), QStringLiteral("csVORAN")};
    RenderSheet(dir, "schemes", schemes, KindNames(), 2, [&](int r, int c) {
        return Capture([&](Lcd *lcd) {
            lcd->setColorScheme(static_cast<Lcd::TZnColorScheme>(r));
            lcd->setIndicatorKind(kKinds[c].kind);
            lcd->setIndicatorstring(c == 2 ? QStringLiteral("Tamblo 2.0") : QStringLiteral("12:34.56"));
        });
    });

    // Turned: the window is shaped to the rectangle, the light stays at the top left.
    const int angles[] = {0, 300, 900, 1800};
    RenderSheet(dir, "angles", KindNames(),
                {QStringLiteral("0"), QStringLiteral("300"), QStringLiteral("900"), QStringLiteral("1800")}, 2,
                [&](int r, int c) {
                    return Capture([&](Lcd *lcd) {
                        lcd->setSignNumber(6);
                        lcd->setIndicatorWidth(180);
                        lcd->setIndicatorHeight(44);
                        lcd->setIndicatorKind(kKinds[r].kind);
                        lcd->setIndicatorstring(r == 2 ? QStringLiteral("012345") : QStringLiteral("-1.2:34"));
                        lcd->setIndicatorAngle(angles[c]);
                    });
                });

    // What shows of the display in each transparent mode.
    RenderSheet(dir, "transparent", KindNames(),
                {QStringLiteral("tmNone"), QStringLiteral("tmBackOnly"), QStringLiteral("tmAll")}, 2,
                [&](int r, int c) {
                    return Capture([&](Lcd *lcd) {
                        lcd->setIndicatorKind(kKinds[r].kind);
                        lcd->setIndicatorstring(QLatin1String(kKinds[r].text));
                        lcd->setTransparentMode(static_cast<Lcd::TZnTransparentMode>(c));
                    });
                });

    // Materials: the back material stands in for background, bevels and unlit elements.
    const QStringList materials = {QStringLiteral("stretch msmDark"), QStringLiteral("stretch msmLight"),
                                   QStringLiteral("tile msmNone"), QStringLiteral("fore material"),
                                   QStringLiteral("fore tile hover")};
    RenderSheet(dir, "materials", materials, {QStringLiteral("matrix"), QStringLiteral("7-segment")}, 2,
                [&](int r, int c) {
                    return Capture(
                        [&](Lcd *lcd) {
                            lcd->setIndicatorKind(c == 0 ? Lcd::ik5x7matrix : Lcd::ik7segment);
                            lcd->setIndicatorstring(QStringLiteral("12:34.5"));
                            lcd->setBackMaterial(r == 2 ? Brick() : Gradient());
                            lcd->setMaterialShadowMode(r == 1 ? Lcd::msmLight : r == 2 ? Lcd::msmNone : Lcd::msmDark);
                            if (r == 2)
                                lcd->setMaterialMode(Lcd::mmTile);
                            if (r >= 3)
                                lcd->setForeMaterial(ForeGradient());
                            if (r == 4) {
                                lcd->setForeMaterialMode(Lcd::mmTile);
                                lcd->setMouseAction(Lcd::maBoth);
                            }
                        },
                        r == 4);
                });

    // The whole matrix font, '!' to '~' (the backquote has no glyph), in cells of 24 x 36: at
    // that width the dots of neighbouring columns stand two pixels apart (in cells of 16 they
    // touch, and the glyphs cannot be read).
    constexpr int kFontCells = 16;
    constexpr int kFontCellWidth = 24;
    constexpr int kFontCellHeight = 36;
    QStringList lines;
    QStringList ranges;
    for (int first = 33; first <= 126; first += kFontCells) {
        const int last = std::min(first + kFontCells - 1, 126);
        QString line;
        for (int ch = first; ch <= last; ++ch)
            line += QChar(ch);
        lines << line;
        ranges << QStringLiteral("%1-%2").arg(first).arg(last);
    }
    RenderSheet(dir, "font", ranges, {QStringLiteral("5x7 matrix")}, 3, [&](int r, int) {
        return Capture([&](Lcd *lcd) {
            lcd->setColorScheme(Lcd::csInvSilver);
            lcd->setSignNumber(kFontCells);
            // Gap and two bevels of 2 on each side: 6 pixels around the cells.
            lcd->setIndicatorWidth(kFontCells * kFontCellWidth + 12);
            lcd->setIndicatorHeight(kFontCellHeight + 12);
            lcd->setIndicatorKind(Lcd::ik5x7matrix);
            // Left-aligned like the other lines: the last one is shorter.
            lcd->setIndicatorstring(lines[r].leftJustified(kFontCells, u' '));
        });
    });
}
