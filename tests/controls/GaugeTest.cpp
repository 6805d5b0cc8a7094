#include "base/Exception.h"
#include "controls/Gauges.h"
#include "tests/common/PaintCounter.h"

#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

static void PrintTo(const QRect &rect, std::ostream *out)
{
    *out << "(" << rect.left() << "," << rect.top() << ")-(" << rect.right() << "," << rect.bottom() << ")";
}

namespace {

const QRgb kBack = ToQColor(clWindowFrame).rgb();
const QRgb kFore = ToQColor(clGradientActiveCaption).rgb();

// The main window's gauge on a shown window.
class GaugeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        window->resize(60, 60);
        gauge = new TGauge(window.get());
        gauge->setGeometry(0, 0, 25, 41);
        gauge->setKind(TGauge::gkVerticalBar);
        gauge->setBorderStyle(TGauge::bsNone);
        gauge->setBackColor(clWindowFrame);
        gauge->setForeColor(clGradientActiveCaption);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    QImage Shot() { return gauge->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // Which rows are all ForeColor; every other row must be all BackColor.
    std::vector<int> FilledRows(const QImage &image)
    {
        std::vector<int> rows;
        for (int y = 0; y < image.height(); ++y) {
            const QRgb first = image.pixel(0, y);
            for (int x = 0; x < image.width(); ++x)
                EXPECT_EQ(image.pixel(x, y), first) << "row " << y << " is not uniform";
            if (first == kFore)
                rows.push_back(y);
            else
                EXPECT_EQ(first, kBack) << "row " << y;
        }
        return rows;
    }

    std::unique_ptr<QWidget> window;
    TGauge *gauge = nullptr;
};

std::vector<int> Range(int from, int to)
{
    std::vector<int> rows;
    for (int y = from; y <= to; ++y)
        rows.push_back(y);
    return rows;
}

} // namespace

TEST_F(GaugeTest, VerticalBarFillsRowsFromTheBottom)
{
    gauge->setShowText(false);
    const struct {
        int progress;
        std::vector<int> rows;
    } cases[] = {{100, Range(1, 40)}, {50, Range(21, 40)}, {3, {}}, {2, {}}};
    for (const auto &c : cases) {
        gauge->setProgress(c.progress);
        EXPECT_EQ(FilledRows(Shot()), c.rows) << "Progress " << c.progress;
    }
}

TEST_F(GaugeTest, SingleBorderAtFullFillsTheWholeInside)
{
    gauge->setShowText(false);
    gauge->setBorderStyle(TGauge::bsSingle);
    gauge->setProgress(100);
    const QImage image = Shot();
    for (int y = 0; y < 41; ++y) {
        for (int x = 0; x < 25; ++x) {
            const bool inside = x >= 1 && x <= 23 && y >= 1 && y <= 39;
            ASSERT_EQ(image.pixel(x, y), inside ? kFore : qRgb(0, 0, 0)) << x << "," << y;
        }
    }
}

TEST_F(GaugeTest, PercentTextIsInvertedOnBothSidesOfTheBarEdge)
{
    gauge->setShowText(false);
    gauge->setProgress(50);
    const QImage plain = Shot();
    gauge->setShowText(true);
    const QImage withText = Shot();

    int invertedBack = 0, invertedFore = 0;
    for (int y = 0; y < 41; ++y) {
        for (int x = 0; x < 25; ++x) {
            const QRgb under = plain.pixel(x, y);
            const QRgb shown = withText.pixel(x, y);
            if (shown == under)
                continue;
            ASSERT_EQ(shown & 0xFFFFFFu, (under ^ 0xFFFFFFu) & 0xFFFFFFu) << x << "," << y;
            (y < 21 ? invertedBack : invertedFore)++;
        }
    }
    // "50%" straddles the bar's top edge at row 21: light on the back, dark on the bar.
    EXPECT_GT(invertedBack, 5);
    EXPECT_GT(invertedFore, 5);

    // The text is drawn at 0 % as well, inverted against the background.
    gauge->setProgress(0);
    const QImage zero = Shot();
    int inverted = 0;
    for (int y = 0; y < 41; ++y)
        for (int x = 0; x < 25; ++x)
            inverted += (zero.pixel(x, y) & 0xFFFFFFu) == ((kBack ^ 0xFFFFFFu) & 0xFFFFFFu);
    EXPECT_GT(inverted, 5);
}

TEST_F(GaugeTest, RepaintsAtOnceOnlyWhenPercentChanges)
{
    PaintCounter counter;
    gauge->installEventFilter(&counter);

    gauge->setProgress(50);
    EXPECT_EQ(counter.paints, 1) << "painted before returning, without the event loop";
    gauge->setProgress(50);
    gauge->setProgress(-20); // clamps to 0: a change
    EXPECT_EQ(counter.paints, 2);
    gauge->setProgress(500);
    gauge->setProgress(1000); // both clamp to 100
    EXPECT_EQ(counter.paints, 3);
    EXPECT_EQ(gauge->Progress(), 100);

    gauge->setMaxValue(1000); // a range change repaints
    EXPECT_EQ(counter.paints, 4);
    gauge->setProgress(500);
    EXPECT_EQ(counter.paints, 5);
    gauge->setProgress(505); // still 50 %
    EXPECT_EQ(counter.paints, 5);
    EXPECT_EQ(gauge->Progress(), 505);
    gauge->setProgress(510);
    EXPECT_EQ(counter.paints, 6);
    gauge->removeEventFilter(&counter);
}

TEST_F(GaugeTest, RangeErrorsNameTheAllowedValues)
{
    gauge->setProgress(40);
    try {
        gauge->setMinValue(101);
        FAIL() << "no exception";
    } catch (const EInvalidOperation &error) {
        EXPECT_EQ(error.Message(), "Value must be between -2147483647 and 99");
    }
    try {
        gauge->setMaxValue(-1);
        FAIL() << "no exception";
    } catch (const EInvalidOperation &error) {
        EXPECT_EQ(error.Message(), "Value must be between 1 and 2147483647");
    }
    EXPECT_EQ(gauge->MinValue(), 0);
    EXPECT_EQ(gauge->MaxValue(), 100);
    EXPECT_EQ(gauge->Progress(), 40);

    gauge->setMinValue(100); // equal ends are allowed; Progress follows, Percent is 0
    EXPECT_EQ(gauge->Progress(), 100);
    EXPECT_EQ(gauge->Percent(), 0);

    // While the window builds itself, the stored order of the ends does not matter.
    FormLoadingScope loading;
    TGauge loaded;
    loaded.setMinValue(500);
    loaded.setMaxValue(900);
    EXPECT_EQ(loaded.MinValue(), 500);
    EXPECT_EQ(loaded.Progress(), 500);
}

TEST_F(GaugeTest, PieAndNeedleFollowTheirRadials)
{
    gauge->setShowText(false);
    gauge->setBorderStyle(TGauge::bsSingle);
    gauge->setGeometry(0, 0, 41, 41);
    gauge->setKind(TGauge::gkPie);
    gauge->setProgress(25);
    QImage image = Shot();
    EXPECT_EQ(image.pixel(28, 12), kFore) << "upper right quarter filled";
    EXPECT_EQ(image.pixel(12, 12), kBack);
    EXPECT_EQ(image.pixel(28, 28), kBack);
    gauge->setProgress(100);
    image = Shot();
    EXPECT_EQ(image.pixel(12, 12), kFore);
    EXPECT_EQ(image.pixel(12, 28), kFore);

    gauge->setKind(TGauge::gkNeedle);
    gauge->setProgress(50);
    image = Shot();
    EXPECT_EQ(image.pixel(20, 10), kFore) << "points straight up at 50";
    EXPECT_EQ(image.pixel(10, 30), kBack);
}

namespace {

const QRgb kOutside = ToQColor(clBtnFace).rgb();

// A shown needle or pie gauge of the given size in the main window's colours, with the area
// outside the dial in the face colour.
struct DialGauge {
    DialGauge()
    {
        window.resize(200, 120);
        gauge = new TGauge(&window);
        gauge->setShowText(false);
        gauge->setBackColor(clWindowFrame);
        gauge->setForeColor(clGradientActiveCaption);
        gauge->setColor(clBtnFace);
        window.show();
    }
    QImage Shot(TGauge::TGaugeKind kind, TGauge::TBorderStyle border, QSize size)
    {
        gauge->setKind(kind);
        gauge->setBorderStyle(border);
        gauge->setGeometry(QRect(QPoint(0, 0), size));
        return gauge->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    QWidget window;
    TGauge *gauge = nullptr;
};

// Where the dial's back colour touches the area outside it, the outline has a hole.
std::string Holes(const QImage &image)
{
    std::string holes;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != kBack)
                continue;
            const QPoint next[4] = {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}};
            for (const QPoint &n : next) {
                if (image.rect().contains(n) && image.pixel(n) == kOutside) {
                    holes += " (" + std::to_string(x) + "," + std::to_string(y) + ")";
                    break;
                }
            }
        }
    }
    return holes;
}

// The columns and rows the dial (outline and inside) covers.
QRect DialBounds(const QImage &image)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == kBack || image.pixel(x, y) == kFore)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

} // namespace

TEST(GaugeDial, NeedleDialFillsItsBoundingRectangleWithAClosedOutline)
{
    DialGauge dial;
    dial.gauge->setProgress(0);
    // 80 x 45 with a border: the dial is bounded by (1, 1, 79, 87), so it spans columns 1 to 78
    // and shows rows 1 to 43.
    QImage image = dial.Shot(TGauge::gkNeedle, TGauge::bsSingle, {80, 45});
    EXPECT_EQ(DialBounds(image), QRect(QPoint(1, 1), QPoint(78, 43)));
    EXPECT_EQ(Holes(image), "");
    for (int w = 20; w <= 120; w += 7) {
        for (int h = 12; h <= 70; h += 5) {
            for (TGauge::TBorderStyle border : {TGauge::bsNone, TGauge::bsSingle}) {
                image = dial.Shot(TGauge::gkNeedle, border, {w, h});
                const int b = border == TGauge::bsSingle ? 1 : 0;
                ASSERT_EQ(DialBounds(image), QRect(QPoint(b, b), QPoint(w - 1 - b, h - 1 - b)))
                    << w << " x " << h << " border " << b;
                ASSERT_EQ(Holes(image), "") << w << " x " << h << " border " << b;
            }
        }
    }
}

namespace {

// A shown gauge in the main window's colours and an 11-pixel font.
struct PlainGauge {
    PlainGauge(TGauge::TGaugeKind kind, TGauge::TBorderStyle border, QSize size)
    {
        QFont font;
        font.setPixelSize(11);
        window.setFont(font);
        window.resize(200, 120);
        gauge = new TGauge(&window);
        gauge->setShowText(false);
        gauge->setBackColor(clWindowFrame);
        gauge->setForeColor(clGradientActiveCaption);
        gauge->setKind(kind);
        gauge->setBorderStyle(border);
        gauge->setGeometry(QRect(QPoint(0, 0), size));
        window.show();
    }
    QImage Shot() { return gauge->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QWidget window;
    TGauge *gauge = nullptr;
};

// The columns filled with ForeColor; every column inside the border must be all ForeColor or
// all BackColor, and the border black.
std::vector<int> FilledColumns(const QImage &image, int border)
{
    std::vector<int> columns;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            const bool edge = x < border || y < border || x >= image.width() - border || y >= image.height() - border;
            if (edge) {
                EXPECT_EQ(image.pixel(x, y), qRgb(0, 0, 0)) << "border at " << x << "," << y;
            }
        }
        if (x < border || x >= image.width() - border)
            continue;
        const QRgb first = image.pixel(x, border);
        for (int y = border; y < image.height() - border; ++y)
            EXPECT_EQ(image.pixel(x, y), first) << "column " << x << " is not uniform";
        if (first == kFore)
            columns.push_back(x);
        else
            EXPECT_EQ(first, kBack) << "column " << x;
    }
    return columns;
}

} // namespace

TEST(GaugeKinds, HorizontalBarFillsTheWholePartOfItsLengthFromTheLeft)
{
    // 100 x 24 with a border: W = 99 and the fill runs from column 1 to F - 1, so at 2 % (F = 1)
    // nothing shows and at 3 % (F = 2) one column does. Without a border W = 101.
    const struct {
        TGauge::TBorderStyle border;
        int percent;
        std::vector<int> columns;
    } cases[] = {
        {TGauge::bsSingle, 0, {}},
        {TGauge::bsSingle, 2, {}},
        {TGauge::bsSingle, 3, {1}},
        {TGauge::bsSingle, 33, Range(1, 31)},
        {TGauge::bsSingle, 100, Range(1, 98)},
        {TGauge::bsNone, 1, {0}},
        {TGauge::bsNone, 33, Range(0, 32)},
        {TGauge::bsNone, 99, Range(0, 98)},
        {TGauge::bsNone, 100, Range(0, 99)},
    };
    for (const auto &c : cases) {
        PlainGauge plain(TGauge::gkHorizontalBar, c.border, {100, 24});
        plain.gauge->setProgress(c.percent);
        const int border = c.border == TGauge::bsSingle ? 1 : 0;
        EXPECT_EQ(FilledColumns(plain.Shot(), border), c.columns) << c.percent << " % border " << border;
    }
}

TEST(GaugeKinds, TextKindFillsItsInsideWithBackColor)
{
    PlainGauge plain(TGauge::gkText, TGauge::bsSingle, {60, 30});
    plain.gauge->setProgress(70);
    EXPECT_EQ(FilledColumns(plain.Shot(), 1), std::vector<int>{});
    plain.gauge->setBorderStyle(TGauge::bsNone);
    EXPECT_EQ(FilledColumns(plain.Shot(), 0), std::vector<int>{});
}

TEST(GaugeKinds, PercentTextSitsAtTheCentreOfTheInsideMeasuredFromZero)
{
    // X = (Right - Left + 1 - text width) / 2 and Y = (Bottom - Top + 1 - text height) / 2,
    // not moved by the border; the text inverts what lies under it.
    const struct {
        TGauge::TGaugeKind kind;
        TGauge::TBorderStyle border;
        QSize size;
        int percent;
    } cases[] = {
        {TGauge::gkText, TGauge::bsSingle, {60, 30}, 7},
        {TGauge::gkHorizontalBar, TGauge::bsSingle, {100, 24}, 33},
        {TGauge::gkHorizontalBar, TGauge::bsNone, {100, 24}, 100},
        {TGauge::gkVerticalBar, TGauge::bsNone, {25, 41}, 50},
        {TGauge::gkVerticalBar, TGauge::bsSingle, {25, 41}, 0},
    };
    for (const auto &c : cases) {
        PlainGauge plain(c.kind, c.border, c.size);
        plain.gauge->setProgress(c.percent);
        const QImage picture = plain.Shot();
        plain.gauge->setShowText(true);
        const QImage withText = plain.Shot();

        const QString text = QString::number(c.percent) + u'%';
        QFont font = plain.gauge->font();
        font.setStyleStrategy(QFont::NoAntialias);
        const QFontMetrics metrics(font);
        const int b = c.border == TGauge::bsSingle ? 1 : 0;
        const int right = c.size.width() - b;
        const int bottom = c.size.height() - b;
        const int x = (right - b + 1 - metrics.horizontalAdvance(text)) / 2;
        const int y = (bottom - b + 1 - metrics.height()) / 2;
        QImage expected(c.size, QImage::Format_RGB32);
        expected.fill(Qt::black);
        {
            QPainter painter(&expected);
            painter.setClipRect(QRect(b, b, right - b, bottom - b));
            painter.setFont(font);
            painter.setPen(Qt::white);
            painter.drawText(QRect(x, y, 200, 100), Qt::AlignLeft | Qt::AlignTop, text);
        }
        int textPixels = 0;
        for (int py = 0; py < c.size.height(); ++py) {
            for (int px = 0; px < c.size.width(); ++px) {
                const bool inText = expected.pixel(px, py) == qRgb(255, 255, 255);
                textPixels += inText;
                const QRgb under = picture.pixel(px, py);
                ASSERT_EQ(withText.pixel(px, py), inText ? (under ^ 0x00FFFFFFu) : under)
                    << text.toStdString() << " at " << px << "," << py;
            }
        }
        EXPECT_GT(textPixels, 10) << text.toStdString();
    }
}
