#include "controls/LcdFont5x7.h"
#include "controls/LcdGeometry.h"
#include "tests/common/PaintCounter.h"
#include "tests/controls/LcdTestSupport.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QPolygon>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <string>
#include <vector>

using namespace lcdtest;

namespace {

class ShownDisplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lcd = MainDisplay(host.window.get());
        host.window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.window.get()));
        // Let the refresh posted by the first size notification and its repaint go by.
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

    Host host;
    Lcd *lcd = nullptr;
};

} // namespace

TEST_F(ShownDisplayTest, TheSameTextAgainNeitherRebuildsNorRepaints)
{
    PaintCounter counter;
    lcd->installEventFilter(&counter);
    lcd->setIndicatorstring(QStringLiteral("000000"));
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);

    lcd->setIndicatorstring(QStringLiteral("000010"));
    QCoreApplication::processEvents();
    EXPECT_GE(counter.paints, 1);
    EXPECT_EQ(ReadGlyph(Shot(lcd), 4 + 18 * 4, 4),
              (std::vector<std::string>{"00010", "00110", "00010", "00010", "00010", "00010", "00111"}));
}

TEST_F(ShownDisplayTest, ResizingFollowsTheAngle)
{
    lcd->resize(100, 40);
    EXPECT_EQ(lcd->IndicatorWidth(), 100);
    EXPECT_EQ(lcd->IndicatorHeight(), 40);

    lcd->setIndicatorAngle(900);
    ASSERT_EQ(lcd->size(), QSize(40, 100));
    lcd->resize(50, 150);
    EXPECT_EQ(lcd->IndicatorWidth(), 150);
    EXPECT_EQ(lcd->IndicatorHeight(), 50);

    // Any other angle: the control snaps back to what the turned indicator needs.
    lcd->setIndicatorAngle(450);
    const QSize needed = lcd->size();
    EXPECT_EQ(needed, QSize(141, 141)); // (150 + 50) * cos 45 degrees
    lcd->resize(60, 60);
    EXPECT_EQ(lcd->size(), needed);
    EXPECT_EQ(lcd->IndicatorWidth(), 150);
}

TEST_F(ShownDisplayTest, MouseEnterAndExitReachTheirHandlersAfterTheFlagChanged)
{
    std::vector<std::string> calls;
    lcd->setMouseAction(Lcd::maColor);
    lcd->setOnMouseEnter([&](Lcd *sender) { calls.push_back(sender == lcd ? "enter" : "enter from elsewhere"); });
    lcd->setOnMouseExit([&](Lcd *sender) { calls.push_back(sender == lcd ? "exit" : "exit from elsewhere"); });
    QPointF at(3, 3);
    QEnterEvent enter(at, at, lcd->mapToGlobal(at));
    QCoreApplication::sendEvent(lcd, &enter);
    QCoreApplication::processEvents();
    EXPECT_EQ(Shot(lcd).pixel(8, 4), kOrange);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(lcd, &leave);
    QCoreApplication::processEvents();
    EXPECT_EQ(Shot(lcd).pixel(8, 4), kLit);
    EXPECT_EQ(calls, (std::vector<std::string>{"enter", "exit"}));
}

TEST_F(ShownDisplayTest, MouseAndResizeEventsReachTheirHandlers)
{
    std::vector<std::string> calls;
    const auto at = [](const char *what, int x, int y) {
        return std::string(what) + " " + std::to_string(x) + "," + std::to_string(y);
    };
    QObject::connect(lcd, &Lcd::OnMouseMove,
                     [&](Qt::KeyboardModifiers, int x, int y) { calls.push_back(at("move", x, y)); });
    QObject::connect(lcd, &Lcd::OnMouseDown, [&](Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
        const char *what = button == Qt::LeftButton ? "down" : "other down";
        calls.push_back(at(what, x, y));
    });
    QObject::connect(lcd, &Lcd::OnMouseUp, [&](Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
        calls.push_back(at(button == Qt::LeftButton ? "up" : "other up", x, y));
    });
    QWindow *window = host.window->windowHandle();
    const auto onWindow = [&](int x, int y) { return lcd->mapTo(host.window.get(), QPoint(x, y)); };
    QTest::mouseMove(window, QPoint(200, 200));
    QTest::mouseMove(window, onWindow(10, 5)); // no button held
    QTest::mousePress(window, Qt::LeftButton, {}, onWindow(20, 8));
    QTest::mouseMove(window, onWindow(25, 9));
    QTest::mouseRelease(window, Qt::LeftButton, {}, onWindow(25, 9));
    QTest::mouseClick(window, Qt::RightButton, {}, onWindow(3, 4));
    std::vector<std::string> expected{"move 10,5", "down 20,8",      "move 25,9",
                                      "up 25,9",   "other down 3,4", "other up 3,4"};
    // Moves the platform adds on its own to reach a pressed point are allowed.
    std::erase_if(calls, [&](const std::string &call) {
        return call.starts_with("move") && std::find(expected.begin(), expected.end(), call) == expected.end();
    });
    EXPECT_EQ(calls, expected);

    // Resizing reports the new size before the indicator follows it.
    int resizes = 0;
    QObject::connect(lcd, &Lcd::OnResize, [&] {
        ++resizes;
        EXPECT_EQ(lcd->size(), QSize(100, 40));
        EXPECT_EQ(lcd->IndicatorWidth(), 120);
    });
    lcd->resize(100, 40);
    EXPECT_EQ(resizes, 1);
    EXPECT_EQ(lcd->IndicatorWidth(), 100);
}

TEST(LcdModel, StoredColoursWinOverTheSchemeWhileLoading)
{
    Host host;
    Lcd *lcd = MainDisplay(host.window.get());
    // Read with csBlack and colours of its own: the form's colours show.
    EXPECT_EQ(lcd->ColorScheme(), Lcd::csBlack);
    EXPECT_EQ(lcd->BackColor(), clWindowFrame);
    EXPECT_EQ(Shot(lcd).pixel(10, 4), kFrame);

    // Chosen on a loaded control the scheme sets all five, once the refresh arrives.
    lcd->setColorScheme(Lcd::csBlack);
    EXPECT_EQ(lcd->BackColor(), 0x000000u);
    EXPECT_EQ(lcd->BevelColor(), 0x808080u);
    EXPECT_EQ(lcd->NumberBackColor(), 0x000000u);
    EXPECT_EQ(lcd->NumberForeColor(), 0xFFFFFFu);
    EXPECT_EQ(lcd->NumberForeColor1(), 0x0080FFu);
    EXPECT_EQ(lcd->Image().pixel(10, 4), kFrame);
    QCoreApplication::sendPostedEvents(lcd, Lcd::RefreshEvent);
    const QImage image = Shot(lcd);
    EXPECT_EQ(image.pixel(10, 4), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(8, 4), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(60, 1), qRgb(160, 160, 160));

    // A value outside the seven schemes leaves the colours alone.
    lcd->setColorScheme(static_cast<Lcd::TZnColorScheme>(9));
    EXPECT_EQ(lcd->BackColor(), 0x000000u);
    lcd->setColorScheme(Lcd::csVORAN);
    EXPECT_EQ(lcd->BackColor(), 0xA00000u);
    EXPECT_EQ(lcd->NumberForeColor(), 0xDAF376u);
}

TEST(LcdModel, SizeSettersWaitForTheFormAndIgnoreValuesBelowOne)
{
    Host host;
    Lcd *lcd;
    {
        FormLoadingScope loading;
        lcd = new Lcd(host.window.get());
        lcd->setGeometry(0, 0, 120, 30);
        lcd->setIndicatorWidth(200);
        lcd->setIndicatorAngle(900);
        EXPECT_EQ(lcd->size(), QSize(120, 30)); // only stored while the form is read
    }
    lcd->FinishLoading();
    EXPECT_EQ(lcd->IndicatorWidth(), 200);

    for (int bad : {0, -3}) {
        lcd->setSignNumber(bad);
        lcd->setIndicatorWidth(bad);
        lcd->setIndicatorHeight(bad);
        lcd->setInnerBevelWidth(bad);
        lcd->setOuterBevelWidth(bad);
    }
    EXPECT_EQ(lcd->SignNumber(), 10);
    EXPECT_EQ(lcd->IndicatorWidth(), 200);
    EXPECT_EQ(lcd->IndicatorHeight(), 36);
    EXPECT_EQ(lcd->InnerBevelWidth(), 2);
    EXPECT_EQ(lcd->OuterBevelWidth(), 2);
    lcd->setIndicatorGap(-2);
    EXPECT_EQ(lcd->IndicatorGap(), -2);

    // A control made in code is live at once: the size setters resize it.
    Lcd live(host.window.get());
    EXPECT_EQ(live.size(), QSize(172, 36));
    live.setIndicatorAngle(900);
    EXPECT_EQ(live.size(), QSize(36, 172));
}

TEST(LcdModel, PropertiesCanBeSetByNameAsTheFormDescriptionDoes)
{
    Lcd lcd;
    EXPECT_TRUE(lcd.setProperty("IndicatorKind", QStringLiteral("ik9segment")));
    EXPECT_EQ(lcd.IndicatorKind(), Lcd::ik9segment);
    EXPECT_TRUE(lcd.setProperty("ColorScheme", QStringLiteral("csPlasma")));
    EXPECT_EQ(lcd.ColorScheme(), Lcd::csPlasma);
    EXPECT_EQ(lcd.BackColor(), 0x000080u);
    EXPECT_TRUE(lcd.setProperty("NumberBackColor", 0xFF000015u));
    EXPECT_EQ(lcd.NumberBackColor(), cl3DDkShadow);
    EXPECT_TRUE(lcd.setProperty("Indicatorstring", QStringLiteral("12:30")));
    EXPECT_EQ(lcd.property("Indicatorstring").toString(), QStringLiteral("12:30"));
}

TEST(LcdModel, FontHasAGlyphForEveryPrintableCharacterButTheBackquote)
{
    int glyphs = 0;
    for (int ch = 0; ch < 256; ++ch) {
        const std::uint64_t glyph = MatrixGlyph(static_cast<unsigned char>(ch));
        const bool expected = ch >= 33 && ch <= 126 && ch != '`';
        EXPECT_EQ(glyph != 0, expected) << "character " << ch;
        EXPECT_EQ(glyph >> 35, 0u) << "character " << ch;
        glyphs += glyph != 0;
    }
    EXPECT_EQ(glyphs, 93);
}

// --- regions -------------------------------------------------------------------------------

TEST(LcdRegions, RectanglesCoverTheSamePixelsAsQtsOwnPolygonRegions)
{
    const QPoint a(3, 2), b(9, 2), c(9, 7), d(3, 7);
    const QPoint orders[][4] = {{a, b, c, d}, {b, c, d, a}, {c, d, a, b}, {d, a, b, c},
                                {a, d, c, b}, {d, c, b, a}, {c, b, a, d}, {b, a, d, c}};
    for (const auto &order : orders) {
        const QRegion qt(QPolygon(QList<QPoint>(order, order + 4)), Qt::OddEvenFill);
        EXPECT_EQ(PolygonRegion(order, 4), qt);
        EXPECT_EQ(PolygonRegion(order, 4), QRegion(3, 2, 6, 5));
    }
    const QPoint flat[4] = {{3, 2}, {9, 2}, {9, 2}, {3, 2}};
    EXPECT_TRUE(PolygonRegion(flat, 4).isEmpty());
}

TEST(LcdRegions, OverlapsWithinASetDropOut)
{
    PolygonSet set;
    const QPoint first[4] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    const QPoint second[4] = {{5, 5}, {15, 5}, {15, 15}, {5, 15}};
    const QPoint third[4] = {{8, 8}, {12, 8}, {12, 12}, {8, 12}};
    const QPoint slanted[3] = {{20, 0}, {30, 10}, {20, 10}};
    set.Append(first, 4);
    set.Append(second, 4);
    const QRegion twice = QRegion(5, 5, 5, 5);
    EXPECT_EQ(set.Region(), (QRegion(0, 0, 10, 10) | QRegion(5, 5, 10, 10)) - twice);

    // Covered three times is odd again.
    set.Append(third, 4);
    EXPECT_TRUE(set.Region().contains(QPoint(9, 9)));
    EXPECT_FALSE(set.Region().contains(QPoint(7, 7)));
    EXPECT_FALSE(set.Region().contains(QPoint(11, 11)));
    EXPECT_TRUE(set.Region().contains(QPoint(13, 13)));

    // The same polygon twice cancels; abutting ones join.
    PolygonSet pair;
    pair.Append(slanted, 3);
    pair.Append(slanted, 3);
    EXPECT_TRUE(pair.Region().isEmpty());
    PolygonSet side;
    const QPoint left[4] = {{0, 0}, {4, 0}, {4, 3}, {0, 3}};
    const QPoint right[4] = {{4, 0}, {9, 0}, {9, 3}, {4, 3}};
    side.Append(left, 4);
    side.Append(right, 4);
    EXPECT_EQ(side.Region(), QRegion(0, 0, 9, 3));
    EXPECT_EQ(side.Region().rectCount(), 1);
}

namespace {

// Paints each polygon's region with its number (from 1); reports polygons that overlap or
// share an edge (4-neighbours with different numbers).
std::string Contacts(const PolygonSet &elements, QSize cell, QRegion (*regionOf)(const QPoint *, int))
{
    const int margin = 20, w = cell.width() + 2 * margin, h = cell.height() + 2 * margin;
    std::vector<int> label(static_cast<size_t>(w * h), 0);
    std::string contacts;
    const QPoint *p = elements.Points().data();
    for (int e = 1; e <= elements.PolygonCount(); ++e) {
        const int count = elements.Counts()[static_cast<size_t>(e - 1)];
        for (const QRect &r : regionOf(p, count).translated(margin, margin)) {
            if (!QRect(0, 0, w, h).contains(r))
                return "outside the grid";
            for (int y = r.top(); y <= r.bottom(); ++y) {
                for (int x = r.left(); x <= r.right(); ++x) {
                    int &cell = label[static_cast<size_t>(y * w + x)];
                    if (cell != 0)
                        contacts += " overlap " + std::to_string(cell) + "-" + std::to_string(e);
                    cell = e;
                }
            }
        }
        p += count;
    }
    for (int y = 0; y + 1 < h; ++y) {
        for (int x = 0; x + 1 < w; ++x) {
            const int here = label[static_cast<size_t>(y * w + x)];
            for (int next : {label[static_cast<size_t>(y * w + x + 1)], label[static_cast<size_t>((y + 1) * w + x)]}) {
                if (here != 0 && next != 0 && here != next)
                    contacts +=
                        " touch " + std::to_string(std::min(here, next)) + "-" + std::to_string(std::max(here, next));
            }
        }
    }
    return contacts;
}

QRegion QtCornerRule(const QPoint *points, int count)
{
    return QRegion(QPolygon(QList<QPoint>(points, points + count)), Qt::OddEvenFill);
}

// The elements that must keep apart: the seven segments and the point, and in 9-segment
// cells from 31 pixels wide the colon dots too (narrower cells leave them no room).
PolygonSet Separated(Lcd::TZnIndicatorKind kind, Lcd::TZnIndicatorStyle style, bool hover, int w, int h)
{
    const PolygonSet elements = CellElements(kind, style, hover, w, h);
    PolygonSet kept;
    const QPoint *p = elements.Points().data();
    for (int e = 0; e < elements.PolygonCount(); ++e) {
        const int count = elements.Counts()[static_cast<size_t>(e)];
        const bool colon = kind == Lcd::ik9segment && (e == 7 || e == 8);
        if (!colon || w >= 31)
            kept.Append(p, count);
        p += count;
    }
    return kept;
}

} // namespace

TEST(LcdRegions, QtsCornerRuleWouldJoinNeighbouringSegments)
{
    // In a 30 x 44 cell the middle bar's pointed end lies on the row where the lower-left
    // segment begins; taking pixels by their top-left corner makes the two share an edge.
    const PolygonSet elements = CellElements(Lcd::ik7segment, Lcd::isNormal, false, 30, 44);
    EXPECT_NE(Contacts(elements, QSize(30, 44), QtCornerRule).find("touch 1-7"), std::string::npos);
    EXPECT_EQ(Contacts(elements, QSize(30, 44), PolygonRegion), "");
}

TEST(LcdRegions, NeighbouringSegmentsStayAPixelApartAtEverySize)
{
    const Lcd::TZnIndicatorStyle styles[] = {Lcd::isThin, Lcd::isNormal, Lcd::isThick};
    for (Lcd::TZnIndicatorKind kind : {Lcd::ik7segment, Lcd::ik9segment}) {
        for (Lcd::TZnIndicatorStyle style : styles) {
            for (bool hover : {false, true}) {
                // The heaviest stroke is wider than the room left for the point.
                if (style == Lcd::isThick && hover)
                    continue;
                for (int w = 12; w <= 80; ++w) {
                    for (int h = (w * 14 + 9) / 10; h <= w * 22 / 10; h += 2) {
                        const PolygonSet elements = Separated(kind, style, hover, w, h);
                        ASSERT_EQ(Contacts(elements, QSize(w, h), PolygonRegion), "")
                            << "kind " << kind << " style " << style << " hover " << hover << " cell " << w << "x" << h;
                    }
                }
            }
        }
    }
}

TEST(LcdRegions, AnEightWithItsPointShowsEightSeparateElements)
{
    // One 30 x 44 cell without bevels; count the lit blobs, joining 4-neighbours.
    Lcd lcd;
    lcd.setOuterBevel(Lcd::bkNone);
    lcd.setInnerBevel(Lcd::bkNone);
    lcd.setIndicatorGap(0);
    lcd.setSignNumber(1);
    lcd.setIndicatorWidth(30);
    lcd.setIndicatorHeight(44);
    lcd.setIndicatorstring("8.");
    const QImage image = Shot(&lcd);
    const QRgb lit = Rgb(lcd.NumberForeColor());
    std::vector<int> seen(30 * 44, 0);
    int blobs = 0;
    for (int start = 0; start < 30 * 44; ++start) {
        if (seen[static_cast<size_t>(start)] || image.pixel(start % 30, start / 30) != lit)
            continue;
        ++blobs;
        std::vector<int> stack{start};
        seen[static_cast<size_t>(start)] = 1;
        while (!stack.empty()) {
            const int at = stack.back();
            stack.pop_back();
            const int x = at % 30, y = at / 30;
            const QPoint next[4] = {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}};
            for (const QPoint &n : next) {
                if (n.x() < 0 || n.y() < 0 || n.x() >= 30 || n.y() >= 44)
                    continue;
                const int index = n.y() * 30 + n.x();
                if (!seen[static_cast<size_t>(index)] && image.pixel(n) == lit) {
                    seen[static_cast<size_t>(index)] = 1;
                    stack.push_back(index);
                }
            }
        }
    }
    EXPECT_EQ(blobs, 8);
}
