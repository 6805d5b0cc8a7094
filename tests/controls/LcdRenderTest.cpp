#include "controls/LcdGeometry.h"
#include "tests/controls/LcdTestSupport.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QTest>
#include <QTransform>
#include <map>

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

    // Which elements of each cell are lit, read from the pixels inside every element.
    std::vector<std::string> Read(const QString &text)
    {
        lcd->setIndicatorstring(text);
        const QImage image = Shot(lcd.get());
        const QRgb lit = Rgb(lcd->NumberForeColor());
        const QRgb unlit = Rgb(lcd->NumberBackColor());
        const TPolygonSet elements = CellElements(kind, Lcd::isNormal, false, 30, 44);
        std::vector<std::string> cells;
        for (int k = 0; k < 4; ++k) {
            std::string pattern;
            const QPoint *p = elements.Points().data();
            for (int count : elements.Counts()) {
                const QRegion region = PolygonRegion(p, count).translated(4 + 30 * k, 4);
                p += count;
                int lits = 0, unlits = 0;
                for (const QRect &r : region) {
                    for (int y = r.top(); y <= r.bottom(); ++y) {
                        for (int x = r.left(); x <= r.right(); ++x) {
                            const QRgb pixel = image.pixel(x, y);
                            lits += pixel == lit;
                            unlits += pixel == unlit;
                            EXPECT_TRUE(pixel == lit || pixel == unlit) << x << "," << y;
                        }
                    }
                }
                EXPECT_TRUE(lits == 0 || unlits == 0) << "element half lit in cell " << k + 1;
                pattern += lits > 0 ? '1' : '0';
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
    EXPECT_EQ(display.Read(""), (Cells(4, "00000000")));
    // Case matters, the colon has no segments, a trailing point joins the last digit.
    EXPECT_EQ(display.Read("oO:8."), (Cells{"10001110", "11111100", "00000000", "11111111"}));
}

TEST(LcdRender, NineSegmentCellsAddTheColon)
{
    SegmentDisplay display(Lcd::ik9segment);
    // Elements 8 and 9 are the colon dots, 10 the point.
    EXPECT_EQ(display.Read("8.:"), (Cells{"0000000000", "0000000000", "1111111001", "0000000110"}));
    EXPECT_EQ(display.Read(":.,-"),
              (Cells{"0000000000", "0000000111", "0000000001", "0000001000"}));
}
