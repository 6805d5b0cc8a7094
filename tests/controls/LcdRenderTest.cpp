#include "controls/LcdGeometry.h"
#include "controls/LcdRotation.h"
#include "tests/controls/LcdTestSupport.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QTest>
#include <QTransform>
#include <initializer_list>
#include <map>
#include <ostream>

static void PrintTo(const QPoint &point, std::ostream *out) { *out << "(" << point.x() << "," << point.y() << ")"; }

using namespace lcdtest;

namespace {

// The glyphs the display draws for numbers, row by row from the top.
const std::map<char, std::vector<std::string>> kNumberGlyphs = {
    {'0', {"01110", "10001", "10001", "10001", "10001", "10001", "01110"}},
    {'1', {"00010", "00110", "00010", "00010", "00010", "00010", "00111"}},
    {'2', {"01110", "10001", "00001", "00010", "00100", "01000", "11111"}},
    {'3', {"01110", "10001", "00001", "00110", "00001", "10001", "01110"}},
    {'4', {"10001", "10001", "10001", "01111", "00001", "00001", "00001"}},
    {'5', {"11111", "10000", "10000", "11110", "00001", "10001", "01110"}},
    {'6', {"01110", "10001", "10000", "11110", "10001", "10001", "01110"}},
    {'7', {"11111", "00001", "00001", "00010", "00010", "00010", "00010"}},
    {'8', {"01110", "10001", "10001", "01110", "10001", "10001", "01110"}},
    {'9', {"01110", "10001", "10001", "01111", "00001", "10001", "01110"}},
    {'-', {"00000", "00000", "00000", "01110", "00000", "00000", "00000"}},
    {'+', {"00000", "00000", "00100", "01110", "00100", "00000", "00000"}},
    {'.', {"00000", "00000", "00000", "00000", "00000", "00110", "00110"}},
    {',', {"00000", "00000", "00000", "00000", "00110", "00110", "00010"}},
    {':', {"00000", "00110", "00110", "00000", "00110", "00110", "00000"}},
};

// The six cells of the main display, read from a picture in the unrotated position.
std::vector<std::vector<std::string>> ReadCells(const QImage &image)
{
    std::vector<std::vector<std::string>> cells;
    for (int k = 0; k < 6; ++k)
        cells.push_back(ReadGlyph(image, 4 + 18 * k, 4));
    return cells;
}

std::vector<std::vector<std::string>> Glyphs(const std::string &chars)
{
    std::vector<std::vector<std::string>> glyphs;
    for (char ch : chars)
        glyphs.push_back(ch == ' ' ? kBlankGlyph : kNumberGlyphs.at(ch));
    return glyphs;
}

// Checks the outer bevel of a 120 x 30 picture away from the mitred corners.
void ExpectBands(const QImage &image, QRgb top, QRgb left, QRgb bottom, QRgb right)
{
    for (int x = 8; x < 112; ++x) {
        for (int y = 0; y < 4; ++y) {
            ASSERT_EQ(image.pixel(x, y), top) << "top band at " << x << "," << y;
            ASSERT_EQ(image.pixel(x, 29 - y), bottom) << "bottom band at " << x << "," << 29 - y;
        }
    }
    for (int y = 8; y < 22; ++y) {
        for (int x = 0; x < 4; ++x) {
            ASSERT_EQ(image.pixel(x, y), left) << "left band at " << x << "," << y;
            ASSERT_EQ(image.pixel(119 - x, y), right) << "right band at " << 119 - x << "," << y;
        }
    }
}

class MainDisplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lcd = MainDisplay(host.window.get());
        lcd->move(10, 10);
        host.window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.window.get()));
    }

    // The display as it shows on its window, the window's own colour around it.
    QImage OnWindow() { return Shot(host.window.get()).copy(lcd->geometry()); }

    Host host;
    Lcd *lcd = nullptr;
};

} // namespace

TEST_F(MainDisplayTest, ZerosSitInSixCellsInsideARaisedBevel)
{
    const QImage image = OnWindow();
    ASSERT_EQ(image.size(), QSize(120, 30));
    ExpectBands(image, kLight, kLight, kDark, kDark);
    EXPECT_EQ(ReadCells(image), Glyphs("000000"));
    // What the division by six leaves over stays background.
    for (int y = 4; y < 26; ++y)
        for (int x = 112; x < 116; ++x)
            ASSERT_EQ(image.pixel(x, y), kFrame) << x << "," << y;
}

TEST_F(MainDisplayTest, TextIsRightAlignedAndCutAfterSixCharacters)
{
    lcd->setIndicatorstring("1234");
    EXPECT_EQ(ReadCells(OnWindow()), Glyphs("  1234"));
    lcd->setIndicatorstring("1234567");
    EXPECT_EQ(ReadCells(OnWindow()), Glyphs("123456"));
    lcd->setIndicatorstring("789-+.");
    EXPECT_EQ(ReadCells(OnWindow()), Glyphs("789-+."));
    lcd->setIndicatorstring(",:");
    EXPECT_EQ(ReadCells(OnWindow()), Glyphs("    ,:"));
    // No glyph: space, backquote, DEL, a byte above 126 and a character beyond eight bits.
    lcd->setIndicatorstring(QString(" `\x7F") + QChar(0xE9) + QChar(0x263A) + "5");
    EXPECT_EQ(ReadCells(OnWindow()), Glyphs("     5"));
}

TEST_F(MainDisplayTest, TurnedAQuarterTheDisplayStandsUpAndKeepsItsLightTopLeft)
{
    lcd->setIndicatorAngle(900);
    ASSERT_EQ(lcd->size(), QSize(30, 120));
    ASSERT_EQ(lcd->IndicatorWidth(), 120);
    ASSERT_EQ(lcd->IndicatorHeight(), 30);
    const QImage image = OnWindow();
    // The whole control is the indicator: nothing of the window shows.
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 30; ++x)
            ASSERT_NE(image.pixel(x, y), kHost) << x << "," << y;
    // Turned back, the cells read as before; now the top and right bands are the light ones,
    // which face the top and left of the screen.
    const QImage upright = image.transformed(QTransform().rotate(90));
    ExpectBands(upright, kLight, kDark, kDark, kLight);
    EXPECT_EQ(ReadCells(upright), Glyphs("000000"));
}

TEST_F(MainDisplayTest, UpsideDownTheBottomAndRightBandsAreLight)
{
    lcd->setIndicatorstring("123456");
    lcd->setIndicatorAngle(1800);
    ASSERT_EQ(lcd->size(), QSize(120, 30));
    const QImage image = OnWindow();
    ExpectBands(image, kLight, kLight, kDark, kDark);
    const QImage turnedBack = image.transformed(QTransform().rotate(180));
    ExpectBands(turnedBack, kDark, kDark, kLight, kLight);
    EXPECT_EQ(ReadCells(turnedBack), Glyphs("123456"));
}

TEST_F(MainDisplayTest, AtThirtyDegreesTheWindowShowsOutsideTheTurnedRectangle)
{
    lcd->setIndicatorAngle(300);
    ASSERT_EQ(lcd->size(), QSize(119, 86));
    const QImage image = OnWindow();
    for (const QPoint corner : {QPoint(0, 0), QPoint(118, 85), QPoint(0, 85), QPoint(118, 0)})
        EXPECT_EQ(image.pixel(corner), kHost) << corner.x() << "," << corner.y();
    // Inside: the picture (its centre lies between two cells, on the background).
    EXPECT_EQ(image.pixel(59, 43), kFrame);
    // The corners of the indicator lie where the rotation puts them: (0, 0) goes to about
    // (0, 60) and (120, 0) to about (104, 0); just inside each the light top band shows.
    EXPECT_EQ(image.pixel(4, 59), kLight);
    EXPECT_EQ(image.pixel(100, 4), kLight);
}

TEST_F(MainDisplayTest, TransparentModesLetTheWindowShowThrough)
{
    // '0' row 1: column 1 unlit at (6, 4), column 2 lit at (8, 4), a gap at (10, 4).
    const QPoint unlitDot(4 + 2, 4), litDot(4 + 4, 4), gap(4 + 6, 4), band(60, 1), strip(113, 10);

    lcd->setTransparentMode(Lcd::tmAll);
    QImage image = OnWindow();
    EXPECT_EQ(image.pixel(unlitDot), kHost);
    EXPECT_EQ(image.pixel(gap), kHost);
    EXPECT_EQ(image.pixel(strip), kHost);
    EXPECT_EQ(image.pixel(litDot), kLit);
    EXPECT_EQ(image.pixel(band), kLight);

    lcd->setTransparentMode(Lcd::tmBackOnly);
    image = OnWindow();
    EXPECT_EQ(image.pixel(unlitDot), kUnlit);
    EXPECT_EQ(image.pixel(gap), kHost);
    EXPECT_EQ(image.pixel(litDot), kLit);
    EXPECT_EQ(image.pixel(band), kLight);

    lcd->setTransparentMode(Lcd::tmNone);
    image = OnWindow();
    EXPECT_EQ(image.pixel(gap), kFrame);
    EXPECT_EQ(image.pixel(unlitDot), kUnlit);
}

TEST_F(MainDisplayTest, BackMaterialReplacesBackgroundBevelAndUnlitColours)
{
    const QPoint unlitDot(6, 4), litDot(8, 4), gap(10, 4), topBand(60, 1), bottomBand(60, 28);
    QImage material(8, 8, QImage::Format_RGB32);
    material.fill(qRgb(60, 90, 120));
    lcd->setBackMaterial(material);

    QImage image = OnWindow();
    EXPECT_EQ(image.pixel(gap), qRgb(60, 90, 120));
    EXPECT_EQ(image.pixel(topBand), qRgb(124, 154, 184));
    EXPECT_EQ(image.pixel(bottomBand), qRgb(0, 26, 56));
    EXPECT_EQ(image.pixel(unlitDot), qRgb(60, 90, 120)); // msmNone: the shadow is the material
    EXPECT_EQ(image.pixel(litDot), kLit);

    lcd->setMaterialShadowMode(Lcd::msmDark);
    EXPECT_EQ(OnWindow().pixel(unlitDot), qRgb(28, 58, 88));
    lcd->setMaterialShadowMode(Lcd::msmLight);
    EXPECT_EQ(OnWindow().pixel(unlitDot), qRgb(92, 122, 152));

    QImage fore(4, 4, QImage::Format_RGB32);
    fore.fill(qRgb(200, 10, 10));
    lcd->setForeMaterial(fore);
    image = OnWindow();
    EXPECT_EQ(image.pixel(litDot), qRgb(200, 10, 10));
    EXPECT_EQ(image.pixel(gap), qRgb(60, 90, 120));

    // The caller's bitmap is copied: changing it afterwards changes nothing.
    fore.fill(qRgb(1, 2, 3));
    lcd->setIndicatorstring("000001");
    EXPECT_EQ(OnWindow().pixel(litDot), qRgb(200, 10, 10));
}

TEST_F(MainDisplayTest, MaterialIsStretchedOrTiledOverTheWholePicture)
{
    QImage halves(2, 1, QImage::Format_RGB32);
    halves.setPixel(0, 0, qRgb(200, 0, 0));
    halves.setPixel(1, 0, qRgb(0, 0, 200));
    lcd->setBackMaterial(halves);
    QImage image = OnWindow();
    EXPECT_EQ(image.pixel(10, 4), qRgb(200, 0, 0));   // gap in cell 1
    EXPECT_EQ(image.pixel(113, 10), qRgb(0, 0, 200)); // the strip at the right
    EXPECT_EQ(image.pixel(30, 1), qRgb(255, 64, 64)); // top band, light variant
    EXPECT_EQ(image.pixel(90, 1), qRgb(64, 64, 255));

    // Tiled from (0, 0): every third pixel of the top band shows the marked corner.
    QImage tile(3, 3, QImage::Format_RGB32);
    tile.fill(qRgb(100, 100, 100));
    tile.setPixel(0, 0, qRgb(0, 100, 200));
    lcd->setBackMaterial(tile);
    lcd->setMaterialMode(Lcd::mmTile);
    image = OnWindow();
    for (int x = 9; x <= 111; ++x)
        ASSERT_EQ(image.pixel(x, 0), x % 3 == 0 ? qRgb(64, 164, 255) : qRgb(164, 164, 164)) << x;
    EXPECT_EQ(image.pixel(9, 3), qRgb(64, 164, 255));
    EXPECT_EQ(image.pixel(9, 2), qRgb(164, 164, 164));
}

TEST_F(MainDisplayTest, HoverWithColourActionLightsInTheSecondColour)
{
    const QPoint litDot(8, 4);
    QPointF at(5, 5);
    QEnterEvent enter(at, at, lcd->mapToGlobal(at));
    QEvent leave(QEvent::Leave);

    // maNone: the hover still rebuilds, and nothing changes.
    QCoreApplication::sendEvent(lcd, &enter);
    QCoreApplication::processEvents();
    EXPECT_EQ(OnWindow().pixel(litDot), kLit);
    QCoreApplication::sendEvent(lcd, &leave);

    lcd->setMouseAction(Lcd::maColor);
    QCoreApplication::sendEvent(lcd, &enter);
    // The change waits for the message loop.
    EXPECT_EQ(lcd->Image().pixel(litDot), kLit);
    QCoreApplication::processEvents();
    EXPECT_EQ(OnWindow().pixel(litDot), kOrange);

    // The hover colour wins over a fore material.
    QImage fore(4, 4, QImage::Format_RGB32);
    fore.fill(qRgb(200, 10, 10));
    lcd->setForeMaterial(fore);
    EXPECT_EQ(OnWindow().pixel(litDot), kOrange);

    QCoreApplication::sendEvent(lcd, &leave);
    QCoreApplication::processEvents();
    EXPECT_EQ(OnWindow().pixel(litDot), qRgb(200, 10, 10));
}

TEST(LcdRender, HoverWithWidthActionMakesDotsSmaller)
{
    // One 80 x 70 cell without bevels: dots are 9 x 6 at x = 6, 19, 33, ...; on hover 8 x 5.
    Host host;
    Lcd *lcd = new Lcd(host.window.get());
    lcd->setIndicatorKind(Lcd::ik5x7matrix);
    lcd->setOuterBevel(Lcd::bkNone);
    lcd->setInnerBevel(Lcd::bkNone);
    lcd->setIndicatorGap(0);
    lcd->setSignNumber(1);
    lcd->setIndicatorWidth(80);
    lcd->setIndicatorHeight(70);
    lcd->setIndicatorstring("0");
    lcd->setMouseAction(Lcd::maWidth);
    host.window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(host.window.get()));
    const QRgb fore = Rgb(lcd->NumberForeColor());
    const QRgb back = Rgb(lcd->BackColor());

    // Row 1 of '0' lights columns 2 to 4; column 2 starts at x = 19.
    QImage image = Shot(lcd);
    EXPECT_EQ(image.pixel(27, 2), fore);
    EXPECT_EQ(image.pixel(20, 5), fore);
    EXPECT_EQ(image.pixel(28, 2), back);

    QPointF at(5, 5);
    QEnterEvent enter(at, at, lcd->mapToGlobal(at));
    QCoreApplication::sendEvent(lcd, &enter);
    QCoreApplication::processEvents();
    image = Shot(lcd);
    EXPECT_EQ(image.pixel(26, 4), fore);
    EXPECT_EQ(image.pixel(27, 2), back);
    EXPECT_EQ(image.pixel(20, 5), back);
    EXPECT_EQ(image.pixel(19, 0), fore); // same corner, same colour: only the size changed
}

// --- the segment kinds ---------------------------------------------------------------------

namespace {

using Polygon = std::vector<QPoint>;

// The elements of a 30 x 44 cell with isNormal, in cell coordinates, worked out from the
// element table: stroke t = min(30, 44) / 6 = 5, h = 2.5, ux = 3.75, uy = 5.5. Lower-left,
// upper-left, top, upper-right, lower-right, bottom, middle.
const std::vector<Polygon> kSegments30x44 = {
    {{3, 40}, {1, 35}, {3, 24}, {5, 22}, {8, 24}, {6, 35}},
    {{5, 21}, {3, 18}, {5, 8}, {7, 3}, {10, 8}, {8, 18}},
    {{8, 3}, {11, 3}, {20, 3}, {23, 3}, {20, 8}, {11, 8}},
    {{24, 3}, {26, 8}, {25, 18}, {22, 21}, {20, 18}, {21, 8}},
    {{22, 22}, {25, 24}, {23, 35}, {20, 40}, {18, 35}, {20, 24}},
    {{4, 41}, {7, 36}, {17, 36}, {19, 41}, {17, 41}, {7, 41}},
    {{6, 22}, {9, 19}, {19, 19}, {21, 22}, {19, 24}, {9, 24}},
};
const std::vector<Polygon> kColonDots30x44 = {
    {{13, 17}, {11, 13}, {13, 10}, {16, 10}, {18, 13}, {16, 17}},
    {{11, 33}, {9, 30}, {11, 26}, {14, 26}, {16, 30}, {14, 33}},
};
const Polygon kPoint30x44 = {{22, 38}, {24, 36}, {26, 36}, {28, 38}, {26, 41}, {24, 41}};

std::vector<Polygon> Join(std::initializer_list<std::vector<Polygon>> parts)
{
    std::vector<Polygon> all;
    for (const auto &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<Polygon> ElementsOf(Lcd::TZnIndicatorKind kind)
{
    return kind == Lcd::ik9segment ? Join({kSegments30x44, kColonDots30x44, {kPoint30x44}})
                                   : Join({kSegments30x44, {kPoint30x44}});
}

std::vector<Polygon> Polygons(const PolygonSet &set)
{
    std::vector<Polygon> polygons;
    const QPoint *p = set.Points().data();
    for (int count : set.Counts()) {
        polygons.emplace_back(p, p + count);
        p += count;
    }
    return polygons;
}

// Four segment cells of 30 x 44 inside a raised bevel of 4: cell k starts at (4 + 30k, 4).
struct SegmentDisplay {
    explicit SegmentDisplay(Lcd::TZnIndicatorKind kind) : kind(kind)
    {
        lcd = std::make_unique<Lcd>();
        lcd->setIndicatorKind(kind);
        lcd->setInnerBevel(Lcd::bkNone);
        lcd->setOuterBevelWidth(4);
        lcd->setIndicatorGap(0);
        lcd->setSignNumber(4);
        lcd->setIndicatorWidth(128);
        lcd->setIndicatorHeight(52);
    }

    // Which elements of each cell are lit, read at the middle of every element (the mean of its
    // corners).
    std::vector<std::string> Read(const QString &text)
    {
        lcd->setIndicatorstring(text);
        const QImage image = Shot(lcd.get());
        const QRgb lit = Rgb(lcd->NumberForeColor());
        const QRgb unlit = Rgb(lcd->NumberBackColor());
        std::vector<std::string> cells;
        for (int k = 0; k < 4; ++k) {
            std::string pattern;
            for (const Polygon &element : ElementsOf(kind)) {
                QPoint sum;
                for (const QPoint &corner : element)
                    sum += corner;
                const QPoint middle(4 + 30 * k + sum.x() / 6, 4 + sum.y() / 6);
                const QRgb pixel = image.pixel(middle);
                EXPECT_TRUE(pixel == lit || pixel == unlit) << middle.x() << "," << middle.y();
                pattern += pixel == lit ? '1' : '0';
            }
            cells.push_back(pattern);
        }
        return cells;
    }

    Lcd::TZnIndicatorKind kind;
    std::unique_ptr<Lcd> lcd;
};

using Cells = std::vector<std::string>;

} // namespace

TEST(LcdRender, SevenSegmentCellsFoldPointsIntoTheDigitBefore)
{
    SegmentDisplay display(Lcd::ik7segment);
    // Elements: lower-left, upper-left, top, upper-right, lower-right, bottom, middle, point.
    EXPECT_EQ(display.Read("12.5"), (Cells{"00000000", "00011000", "10110111", "01101110"}));
    EXPECT_EQ(display.Read(".5"), (Cells{"00000000", "00000000", "00000001", "01101110"}));
    EXPECT_EQ(display.Read("1..2"), (Cells{"00000000", "00011001", "00000001", "10110110"}));
    EXPECT_EQ(display.Read("3.14"), (Cells{"00000000", "00111111", "00011000", "01011010"}));
    EXPECT_EQ(display.Read("-.5"), (Cells{"00000000", "00000000", "00000011", "01101110"}));
    EXPECT_EQ(display.Read("123456"), (Cells{"00011000", "10110110", "00111110", "01011010"}));
    // One character more than the cells: the emitting stops at the fourth cell.
    EXPECT_EQ(display.Read("12345"), (Cells{"00011000", "10110110", "00111110", "01011010"}));
    EXPECT_EQ(display.Read(""), (Cells(4, "00000000")));
    // Case matters, the colon has no segments, a trailing point joins the last digit.
    EXPECT_EQ(display.Read("oO:8."), (Cells{"10001110", "11111100", "00000000", "11111111"}));
    // A comma is a point as much as a full stop is.
    EXPECT_EQ(display.Read("12,5"), (Cells{"00000000", "00011000", "10110111", "01101110"}));
    EXPECT_EQ(display.Read(",5"), (Cells{"00000000", "00000000", "00000001", "01101110"}));
    EXPECT_EQ(display.Read("1,.2"), (Cells{"00000000", "00011001", "00000001", "10110110"}));
}

TEST(LcdRender, NineSegmentCellsAddTheColon)
{
    SegmentDisplay display(Lcd::ik9segment);
    // Elements 8 and 9 are the colon dots, 10 the point.
    EXPECT_EQ(display.Read("8.:"), (Cells{"0000000000", "0000000000", "1111111001", "0000000110"}));
    EXPECT_EQ(display.Read(":.,-"), (Cells{"0000000000", "0000000111", "0000000001", "0000001000"}));
}

TEST(LcdShapes, SegmentElementsFollowTheElementTable)
{
    EXPECT_EQ(Polygons(CellElements(Lcd::ik7segment, Lcd::isNormal, false, 30, 44)), ElementsOf(Lcd::ik7segment));
    EXPECT_EQ(Polygons(CellElements(Lcd::ik9segment, Lcd::isNormal, false, 30, 44)), ElementsOf(Lcd::ik9segment));

    // Hovering with a width action: t = min(30, 44) / 5 = 6, one step heavier.
    EXPECT_EQ(Polygons(CellElements(Lcd::ik7segment, Lcd::isNormal, true, 30, 44)),
              (std::vector<Polygon>{
                  {{3, 40}, {0, 34}, {2, 25}, {5, 22}, {8, 25}, {6, 34}},
                  {{5, 21}, {2, 18}, {4, 8}, {7, 2}, {10, 8}, {8, 18}},
                  {{8, 2}, {11, 2}, {20, 2}, {23, 2}, {20, 8}, {11, 8}},
                  {{24, 2}, {27, 8}, {25, 18}, {22, 21}, {19, 18}, {21, 8}},
                  {{22, 22}, {25, 25}, {23, 34}, {20, 40}, {17, 34}, {19, 25}},
                  {{4, 41}, {7, 35}, {16, 35}, {19, 41}, {16, 41}, {7, 41}},
                  {{6, 22}, {9, 19}, {18, 19}, {21, 22}, {18, 25}, {9, 25}},
                  {{23, 38}, {24, 35}, {28, 35}, {29, 38}, {28, 41}, {24, 41}},
              }));

    // isThin in 24 x 36: min / 8 = 3 (at its minimum); ux = 3, uy = 4.5.
    EXPECT_EQ(Polygons(CellElements(Lcd::ik7segment, Lcd::isThin, false, 24, 36)),
              (std::vector<Polygon>{
                  {{3, 32}, {1, 29}, {3, 19}, {4, 18}, {6, 19}, {4, 29}},
                  {{4, 17}, {3, 15}, {4, 6}, {6, 3}, {7, 6}, {6, 15}},
                  {{7, 3}, {8, 3}, {17, 3}, {18, 3}, {17, 6}, {8, 6}},
                  {{19, 3}, {21, 6}, {19, 15}, {18, 17}, {16, 15}, {18, 6}},
                  {{18, 18}, {19, 19}, {18, 29}, {16, 32}, {15, 29}, {16, 19}},
                  {{4, 33}, {5, 30}, {14, 30}, {15, 33}, {14, 33}, {5, 33}},
                  {{5, 18}, {7, 16}, {15, 16}, {17, 18}, {15, 19}, {7, 19}},
                  {{18, 31}, {19, 30}, {20, 30}, {21, 31}, {20, 33}, {19, 33}},
              }));

    // isThick in 40 x 60: min / 5 = 8; on hover min / 4.5.
    EXPECT_EQ(Polygons(CellElements(Lcd::ik7segment, Lcd::isThick, false, 40, 60)),
              (std::vector<Polygon>{
                  {{5, 55}, {1, 47}, {3, 34}, {7, 30}, {11, 34}, {9, 47}},
                  {{7, 29}, {3, 25}, {6, 11}, {10, 3}, {14, 11}, {11, 25}},
                  {{11, 3}, {15, 3}, {27, 3}, {31, 3}, {27, 11}, {15, 11}},
                  {{32, 3}, {36, 11}, {34, 25}, {30, 29}, {26, 25}, {28, 11}},
                  {{30, 30}, {34, 34}, {31, 47}, {27, 55}, {23, 47}, {26, 34}},
                  {{6, 56}, {10, 48}, {22, 48}, {26, 56}, {22, 56}, {10, 56}},
                  {{8, 30}, {12, 26}, {25, 26}, {29, 30}, {25, 34}, {12, 34}},
                  {{30, 52}, {32, 48}, {37, 48}, {39, 52}, {37, 56}, {32, 56}},
              }));
    EXPECT_EQ(Polygons(CellElements(Lcd::ik7segment, Lcd::isThick, true, 40, 60)),
              (std::vector<Polygon>{
                  {{5, 55}, {0, 47}, {3, 34}, {7, 30}, {11, 34}, {9, 47}},
                  {{7, 29}, {3, 24}, {5, 11}, {10, 3}, {14, 11}, {11, 24}},
                  {{11, 3}, {15, 3}, {27, 3}, {31, 3}, {27, 11}, {15, 11}},
                  {{32, 3}, {36, 11}, {34, 24}, {30, 29}, {25, 24}, {28, 11}},
                  {{30, 30}, {34, 34}, {31, 47}, {27, 55}, {23, 47}, {25, 34}},
                  {{6, 56}, {10, 48}, {22, 48}, {26, 56}, {22, 56}, {10, 56}},
                  {{8, 30}, {12, 25}, {24, 25}, {29, 30}, {24, 34}, {12, 34}},
                  {{30, 52}, {32, 48}, {38, 48}, {40, 52}, {38, 56}, {32, 56}},
              }));
}

// --- turning -------------------------------------------------------------------------------

// The cell layout: off = gap + outer bevel width (unless bkNone) + inner bevel width (unless
// bkNone); ch = IndicatorHeight - 2 off, or IndicatorHeight when that is below 1 or above it;
// cw = (IndicatorWidth - 2 off) div N, or IndicatorWidth div N likewise. Six blank 5x7 cells are 210
// unlit dots in cell order; a dot at row r, column c of a cell of cw x ch sits at
// (off + (k-1) cw + trunc(c px + m), off + trunc(r py)), m = trunc(cw / 16) + 1, px = (cw - 2m) / 5,
// py = ch / 7. Each case below gives, worked out by hand, the corner of the first dot of cell 1,
// of the first dot of cell 2, and of the last dot of cell 1.
TEST(LcdLayout, CellsSitInsideTheGapAndBothBevels)
{
    struct Case {
        const char *name;
        int width, height, gap;
        Lcd::TZnBevelKind outer;
        int outerWidth;
        Lcd::TZnBevelKind inner;
        int innerWidth;
        QPoint first, second, last;
    };
    const Case cases[] = {
        // off 6, ch 18, cw 18, m 2, px 2.8, py 2.571
        {"gap and outer bevel", 120, 30, 2, Lcd::bkUP, 4, Lcd::bkNone, 1, {8, 6}, {26, 6}, {19, 21}},
        // off 5, ch 20, cw 110 div 6 = 18, py 2.857
        {"outer and inner bevel", 120, 30, 0, Lcd::bkUP, 4, Lcd::bkDown, 1, {7, 5}, {25, 5}, {18, 22}},
        // off 7, ch 16, cw 106 div 6 = 17, m 2, px 2.6, py 2.286
        {"all three", 120, 30, 2, Lcd::bkDown, 4, Lcd::bkUP, 1, {9, 7}, {26, 7}, {19, 20}},
        // off 6: ch 12 - 12 = 0 is below 1, so ch 12, py 1.714; cw 18
        {"no height left", 120, 12, 0, Lcd::bkUP, 6, Lcd::bkNone, 1, {8, 6}, {26, 6}, {19, 16}},
        // off 6: cw (12 - 12) div 6 = 0 is below 1, so cw 2, m 1, px 0
        {"no width left", 12, 30, 0, Lcd::bkUP, 6, Lcd::bkNone, 1, {7, 6}, {9, 6}, {7, 21}},
    };
    for (const Case &c : cases) {
        Lcd lcd;
        lcd.setIndicatorKind(Lcd::ik5x7matrix);
        lcd.setSignNumber(6);
        lcd.setIndicatorWidth(c.width);
        lcd.setIndicatorHeight(c.height);
        lcd.setIndicatorGap(c.gap);
        lcd.setOuterBevel(c.outer);
        lcd.setOuterBevelWidth(c.outerWidth);
        lcd.setInnerBevel(c.inner);
        lcd.setInnerBevelWidth(c.innerWidth);
        lcd.setIndicatorstring(QStringLiteral("      "));
        ASSERT_EQ(lcd.UnlitSet().PolygonCount(), 6 * 35) << c.name;
        ASSERT_TRUE(lcd.LitSet().IsEmpty()) << c.name;
        const std::vector<QPoint> &points = lcd.UnlitSet().Points();
        // Every dot is a 4-point polygon whose first point is its top-left corner.
        EXPECT_EQ(points[0], c.first) << c.name;
        EXPECT_EQ(points[35 * 4], c.second) << c.name;
        EXPECT_EQ(points[34 * 4], c.last) << c.name;
    }
}

TEST(LcdPlacement, PointsTurnAboutTheCentreByTheRotationRule)
{
    // Each point turned about the origin and rounded, then all moved by the rounded shift that
    // keeps the unrounded centre in place; the origin itself stays before the shift.
    const std::vector<QPoint> points = {{0, 0}, {120, 0}, {120, 30}, {0, 30}, {0, 7}, {7, 0}, {1, 0}, {37, 11}};
    const struct {
        int tenths;
        std::vector<QPoint> turned;
    } cases[] = {
        {0, points},
        {300, {{1, 32}, {105, -28}, {120, -2}, {16, 58}, {4, 38}, {7, 29}, {2, 32}, {39, 23}}},
        {900, {{45, 75}, {45, -45}, {75, -45}, {75, 75}, {52, 75}, {45, 68}, {45, 74}, {56, 38}}},
        {1234, {{81, 73}, {15, -27}, {40, -44}, {106, 56}, {87, 69}, {77, 67}, {80, 72}, {70, 36}}},
        {-450, {{28, -38}, {113, 47}, {92, 68}, {7, -17}, {23, -33}, {33, -33}, {29, -37}, {46, -4}}},
    };
    for (const auto &c : cases) {
        std::vector<QPoint> turned = points;
        RotatePoints(turned.data(), static_cast<int>(turned.size()), AngleRadians(c.tenths), QPoint(60, 15));
        EXPECT_EQ(turned, c.turned) << c.tenths;
    }
}

TEST(LcdPlacement, TheWindowTakesTheShapeOfTheTurnedRectangle)
{
    // 120 x 30 at 30 degrees: the control is 119 x 86, the shift (119 - 120) div 2 = 0 and
    // (86 - 30) div 2 = 28, so the corners land at (1, 60), (105, 0), (120, 26) and (16, 86).
    Host host;
    Lcd *lcd = MainDisplay(host.window.get());
    lcd->setIndicatorAngle(300);
    ASSERT_EQ(lcd->size(), QSize(119, 86));
    const QRegion shape = lcd->mask();
    for (const QPoint inside : {QPoint(2, 60), QPoint(105, 1), QPoint(118, 26), QPoint(16, 84)})
        EXPECT_TRUE(shape.contains(inside)) << inside.x() << "," << inside.y();
    for (const QPoint outside : {QPoint(0, 60), QPoint(102, 0), QPoint(119, 28), QPoint(14, 85)})
        EXPECT_FALSE(shape.contains(outside)) << outside.x() << "," << outside.y();
}

TEST(LcdPlacement, ControlTakesTheRoundedSizeOfTheTurnedRectangle)
{
    const struct {
        int width, height, tenths;
        QSize size;
    } cases[] = {
        {120, 30, 300, {119, 86}},                             // 118.92 x 85.98
        {120, 30, -300, {119, 86}}, {172, 36, 100, {176, 65}}, // 175.64 x 65.32
        {172, 36, 600, {117, 167}},                            // 117.18 x 166.96
        {100, 40, 1234, {88, 106}},                            // 88.44 x 105.50
        {50, 20, 200, {54, 36}},                               // 53.83 x 35.89
        {172, 36, 1, {172, 36}},                               // 172.06 x 36.30
    };
    for (const auto &c : cases) {
        Lcd lcd;
        lcd.setIndicatorWidth(c.width);
        lcd.setIndicatorHeight(c.height);
        lcd.setIndicatorAngle(c.tenths);
        EXPECT_EQ(lcd.size(), c.size) << c.width << " x " << c.height << " at " << c.tenths;
    }
}

TEST(LcdPlacement, LightingSectorChangesAtTheDiagonals)
{
    using S = LightSector;
    const struct {
        int tenths;
        LightSector sector;
    } cases[] = {
        {0, S::Upright},        {-1, S::Upright},      {449, S::Upright},      {450, S::Upright},
        {451, S::LeftTurned},   {900, S::LeftTurned},  {1349, S::LeftTurned},  {1350, S::UpsideDown},
        {1800, S::UpsideDown},  {2250, S::UpsideDown}, {2251, S::RightTurned}, {2700, S::RightTurned},
        {3150, S::RightTurned}, {3151, S::Upright},    {3600, S::Upright},     {-450, S::Upright},
        {-451, S::RightTurned},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LightingSector(AngleRadians(c.tenths)), c.sector) << c.tenths;
}

// --- dot sizes -----------------------------------------------------------------------------

namespace {

// Checks a cell of unlit dots: every pixel that an odd number of the dw x dh dots at the given
// places cover is unlit, every other pixel of the cell background.
void ExpectDots(const QImage &image, QPoint cell, QSize size, const std::vector<int> &xs, const std::vector<int> &ys,
                int dw, int dh, QRgb unlit, QRgb background)
{
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            int covered = 0;
            for (int dotY : ys)
                for (int dotX : xs)
                    covered += x >= dotX && x < dotX + dw && y >= dotY && y < dotY + dh;
            ASSERT_EQ(image.pixel(cell + QPoint(x, y)), covered % 2 ? unlit : background)
                << "dots " << dw << " x " << dh << ", cell pixel " << x << "," << y;
        }
    }
}

} // namespace

TEST(LcdRender, DotSizeFollowsTheStrokeWeight)
{
    // One 80 x 70 cell: m = 6, px = 13.6, py = 10; dots at x = 6, 19, 33, 46, 60 and
    // y = 0, 10, ..., 60.
    const std::vector<int> xs = {6, 19, 33, 46, 60};
    const std::vector<int> ys = {0, 10, 20, 30, 40, 50, 60};
    const struct {
        Lcd::TZnIndicatorStyle style;
        QSize dot, hovered;
    } cases[] = {
        {Lcd::isThin, {8, 5}, {5, 4}},   // 2px/3 - 1 = 8.07, 5.67; px/2 - 1 = 5.8, 4
        {Lcd::isNormal, {9, 6}, {8, 5}}, // 3px/4 - 1 = 9.2, 6.5; 2px/3 - 1
        {Lcd::isThick, {12, 9}, {9, 6}}, // px - 1 = 12.6, 9; 3px/4 - 1
    };
    for (const auto &c : cases) {
        Host host;
        Lcd *lcd = new Lcd(host.window.get());
        lcd->setIndicatorKind(Lcd::ik5x7matrix);
        lcd->setOuterBevel(Lcd::bkNone);
        lcd->setInnerBevel(Lcd::bkNone);
        lcd->setIndicatorGap(0);
        lcd->setSignNumber(1);
        lcd->setIndicatorWidth(80);
        lcd->setIndicatorHeight(70);
        lcd->setIndicatorStyle(c.style);
        lcd->setMouseAction(Lcd::maWidth);
        host.window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.window.get()));
        const QRgb unlit = Rgb(lcd->NumberBackColor());
        const QRgb back = Rgb(lcd->BackColor());
        ExpectDots(Shot(lcd), {0, 0}, {80, 70}, xs, ys, c.dot.width(), c.dot.height(), unlit, back);

        QPointF at(5, 5);
        QEnterEvent enter(at, at, lcd->mapToGlobal(at));
        QCoreApplication::sendEvent(lcd, &enter);
        QCoreApplication::processEvents();
        ExpectDots(Shot(lcd), {0, 0}, {80, 70}, xs, ys, c.hovered.width(), c.hovered.height(), unlit, back);
    }
}

TEST_F(MainDisplayTest, SmallCellsTakeTheMinimumDotSizesAndOverlapsDropOut)
{
    // 18 x 22 cells: px = 2.8 and py = 3.14 give sizes below every minimum: thin 1.5 -> 1 x 1,
    // thick 3.5 -> 3 x 3. Thick dots in columns 1 and 2 (x = 2 and 4) overlap in column 4,
    // which is left out.
    const std::vector<int> xs = {2, 4, 7, 10, 13};
    const std::vector<int> ys = {0, 3, 6, 9, 12, 15, 18};
    lcd->setIndicatorstring(QString());
    lcd->setIndicatorStyle(Lcd::isThin);
    QImage image = OnWindow();
    for (int k = 0; k < 6; ++k)
        ExpectDots(image, {4 + 18 * k, 4}, {18, 22}, xs, ys, 1, 1, kUnlit, kFrame);
    lcd->setIndicatorStyle(Lcd::isThick);
    image = OnWindow();
    for (int k = 0; k < 6; ++k)
        ExpectDots(image, {4 + 18 * k, 4}, {18, 22}, xs, ys, 3, 3, kUnlit, kFrame);
    EXPECT_EQ(image.pixel(4 + 4, 4), kFrame);
    EXPECT_EQ(image.pixel(4 + 3, 4), kUnlit);
}
