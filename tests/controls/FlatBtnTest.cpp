#include "controls/kwFltBtn.h"

#include <QPainter>
#include <QTest>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

const QRgb kHost = qRgb(0, 128, 0);
const QRgb kKey = qRgb(255, 0, 255);
const QRgb kLight = ToQColor(clBtnHighlight).rgb();
const QRgb kDark = ToQColor(clBtnShadow).rgb();
const QRgb kFace = ToQColor(clBtnFace).rgb();
const QRgb kImages[4] = {qRgb(200, 0, 0), qRgb(0, 0, 200), qRgb(0, 200, 200), qRgb(200, 200, 0)};

// A strip of `count` images of one colour each, each with its bottom-left pixel in the key colour.
QImage Strip(int imageWidth, int height, int count)
{
    QImage strip(imageWidth * count, height, QImage::Format_RGB32);
    QPainter painter(&strip);
    for (int k = 0; k < count; ++k) {
        painter.fillRect(k * imageWidth, 0, imageWidth, height, QColor(kImages[k]));
        painter.fillRect(k * imageWidth, height - 1, 1, 1, QColor(kKey));
    }
    return strip;
}

// A parent that paints something of its own beneath the button.
class Host : public QWidget {
public:
    QColor paint = QColor(kHost);
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), paint); }
};

// The main window's button on a green parent: 33 x 25, glyph on top, 30 x 20 glyph, square frames.
class FlatBtnTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host = std::make_unique<Host>();
        QPalette palette = host->palette();
        palette.setColor(QPalette::Window, QColor(kHost));
        host->setPalette(palette);
        host->resize(80, 60);
        button = new TkwFlatBtn(host.get());
        button->setGeometry(10, 8, 33, 25);
        button->setGlyphLayout(TkwFlatBtn::glGlyphTop);
        button->setElliptic(false);
        button->setGlyph(Strip(30, 20, 1));
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
        QObject::connect(button, &TkwFlatBtn::OnClick, [this] {
            ++clicks;
            heldAtClick = button->HeldDown();
        });
    }

    // The screen under the button, in button coordinates.
    QImage Shot() { return host->grab(button->geometry()).toImage().convertToFormat(QImage::Format_RGB32); }

    QWindow *Window() { return host->windowHandle(); }
    QPoint At(int x, int y) { return button->mapTo(host.get(), QPoint(x, y)); }
    // From a point of the parent beside the button onto the button.
    void Enter()
    {
        QTest::mouseMove(Window(), At(-5, -5));
        QTest::mouseMove(Window(), At(15, 12));
    }

    // The glyph covers exactly the 30 x 20 rectangle at (x, y) except its transparent corner.
    void ExpectGlyphAt(const QImage &image, int x, int y)
    {
        EXPECT_EQ(image.pixel(x, y), kImages[0]);
        EXPECT_EQ(image.pixel(x + 29, y + 19), kImages[0]);
        EXPECT_EQ(image.pixel(x + 1, y + 19), kImages[0]);
        EXPECT_NE(image.pixel(x, y + 19), kImages[0]) << "key corner must be transparent";
        EXPECT_NE(image.pixel(x - 1, y + 5), kImages[0]);
        if (x + 30 < image.width()) {
            EXPECT_NE(image.pixel(x + 30, y + 5), kImages[0]);
        }
        EXPECT_NE(image.pixel(x + 5, y - 1), kImages[0]);
        if (y + 20 < image.height()) {
            EXPECT_NE(image.pixel(x + 5, y + 20), kImages[0]);
        }
    }

    std::unique_ptr<Host> host;
    TkwFlatBtn *button = nullptr;
    int clicks = 0;
    bool heldAtClick = true;
};

} // namespace

TEST_F(FlatBtnTest, FlatLookShowsOnlyTheGlyphOverTheParent)
{
    const QImage image = Shot();
    ExpectGlyphAt(image, 1, 3);
    EXPECT_EQ(image.pixel(1, 22), kHost);
    EXPECT_EQ(image.pixel(5, 0), kHost);
    EXPECT_EQ(image.pixel(32, 10), kHost);
    EXPECT_EQ(image.pixel(10, 24), kHost);
}

TEST_F(FlatBtnTest, HotAndPressedFramesAndGlyphPositions)
{
    Enter();
    ASSERT_TRUE(button->MouseInside());
    QImage image = Shot();
    ExpectGlyphAt(image, 1, 3);
    // (1,0)-(33,25) light, (2,1)-(33,25) dark, (2,1)-(32,24) face; later frames cover earlier ones.
    EXPECT_EQ(image.pixel(5, 0), kLight);
    EXPECT_EQ(image.pixel(32, 0), kLight);
    EXPECT_EQ(image.pixel(1, 24), kLight);
    EXPECT_EQ(image.pixel(1, 22), kLight) << "seen through the glyph's key corner";
    EXPECT_EQ(image.pixel(0, 10), kHost);
    EXPECT_EQ(image.pixel(32, 10), kDark);
    EXPECT_EQ(image.pixel(10, 24), kDark);
    EXPECT_EQ(image.pixel(10, 1), kFace);
    EXPECT_EQ(image.pixel(31, 10), kFace);
    EXPECT_EQ(image.pixel(10, 23), kFace);
    EXPECT_EQ(image.pixel(2, 23), kFace);

    QTest::mousePress(Window(), Qt::LeftButton, {}, At(15, 12));
    ASSERT_TRUE(button->HeldDown());
    image = Shot();
    ExpectGlyphAt(image, 3, 5);
    EXPECT_EQ(image.pixel(5, 0), kDark);
    EXPECT_EQ(image.pixel(1, 10), kDark);
    EXPECT_EQ(image.pixel(32, 3), kLight);
    EXPECT_EQ(image.pixel(3, 24), kLight) << "seen through the glyph's key corner";
    EXPECT_EQ(image.pixel(10, 1), kFace);
    EXPECT_EQ(image.pixel(2, 10), kFace);

    QTest::mouseRelease(Window(), Qt::LeftButton, {}, At(15, 12));
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(heldAtClick) << "HeldDown is cleared before OnClick runs";
    ExpectGlyphAt(Shot(), 1, 3);
}

TEST_F(FlatBtnTest, ParentColourShowsTheParentsOwnPainting)
{
    // The main window's case: the parent's colour is the face colour and it paints a picture.
    QPalette palette = host->palette();
    palette.setColor(QPalette::Window, QColor(kFace));
    host->setPalette(palette);
    host->paint = QColor(90, 60, 30);
    Enter();
    const QImage image = Shot();
    EXPECT_EQ(image.pixel(10, 1), host->paint.rgb()) << "the face ring is transparent";
    EXPECT_EQ(image.pixel(0, 10), host->paint.rgb());
    EXPECT_EQ(image.pixel(5, 0), kLight);
}

TEST_F(FlatBtnTest, GlyphStripChoosesTheImageByState)
{
    const struct {
        int width, height, count;
    } strips[] = {{120, 30, 4}, {150, 30, 1}, {30, 20, 1}, {60, 30, 2}};
    for (const auto &s : strips) {
        button->setGlyph(QImage(s.width, s.height, QImage::Format_RGB32));
        EXPECT_EQ(button->NumGlyphs(), s.count) << s.width << " x " << s.height;
    }

    button->setGlyph(Strip(10, 10, 4));
    ASSERT_EQ(button->NumGlyphs(), 4);
    // Image centre: glyph at (11, 3), or (13, 5) while held.
    EXPECT_EQ(Shot().pixel(16, 8), kImages[0]);
    Enter();
    EXPECT_EQ(Shot().pixel(16, 8), kImages[2]);
    QTest::mousePress(Window(), Qt::LeftButton, {}, At(15, 12));
    EXPECT_EQ(Shot().pixel(18, 10), kImages[3]);
    QTest::mouseRelease(Window(), Qt::LeftButton, {}, At(15, 12));
    button->setEnabled(false);
    EXPECT_EQ(Shot().pixel(16, 8), kImages[1]);

    // Hot with two images: the strip has no picture for it.
    button->setEnabled(true);
    button->setNumGlyphs(2);
    const QImage hot = Shot();
    for (const QRgb colour : kImages)
        EXPECT_NE(hot.pixel(16, 8), colour);
}

TEST_F(FlatBtnTest, DraggingOutAndReleasingDoesNotClick)
{
    Enter();
    QTest::mousePress(Window(), Qt::LeftButton, {}, At(15, 12));
    QTest::mouseMove(Window(), At(50, 40));
    EXPECT_FALSE(button->MouseInside());
    EXPECT_FALSE(button->HeldDown());
    EXPECT_EQ(Shot().pixel(5, 0), kHost) << "flat after leaving";
    QTest::mouseRelease(Window(), Qt::LeftButton, {}, At(50, 40));
    EXPECT_EQ(clicks, 0);

    // Out and back in while held: raised, and the release clicks.
    QTest::mousePress(Window(), Qt::LeftButton, {}, At(15, 12));
    QTest::mouseMove(Window(), At(50, 40));
    QTest::mouseMove(Window(), At(16, 12));
    EXPECT_TRUE(button->MouseInside());
    EXPECT_FALSE(button->HeldDown());
    EXPECT_EQ(Shot().pixel(5, 0), kLight);
    QTest::mouseRelease(Window(), Qt::LeftButton, {}, At(16, 12));
    EXPECT_EQ(clicks, 1);
}

TEST_F(FlatBtnTest, DisabledWhileHoveredComesBackRaised)
{
    Enter();
    button->setEnabled(false);
    EXPECT_EQ(Shot().pixel(5, 0), kHost);
    QTest::mouseMove(Window(), At(50, 30)); // leaving is ignored while disabled
    EXPECT_TRUE(button->MouseInside());
    button->setEnabled(true);
    EXPECT_EQ(Shot().pixel(5, 0), kLight);
}

TEST_F(FlatBtnTest, DoubleClickClicksOnce)
{
    int doubles = 0;
    QObject::connect(button, &TkwFlatBtn::OnDblClick, [&doubles] { ++doubles; });
    Enter();
    QTest::mouseDClick(Window(), Qt::LeftButton, {}, At(15, 12));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(doubles, 1);
    EXPECT_FALSE(button->HeldDown());
}

TEST_F(FlatBtnTest, DisabledButtonIgnoresTheMouseAndEngravesItsCaption)
{
    button->setGlyph(QPixmap());
    button->setCaption(QStringLiteral("&Play"));
    button->setEnabled(false);
    const QImage before = Shot();
    Enter();
    EXPECT_FALSE(button->MouseInside());
    EXPECT_EQ(Shot(), before);
    int light = 0, dark = 0;
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x) {
            light += before.pixel(x, y) == kLight;
            dark += before.pixel(x, y) == kDark;
        }
    EXPECT_GT(light, 3);
    EXPECT_GT(dark, 3);

    EXPECT_FALSE(button->DialogChar(u'p'));
    button->setEnabled(true);
    EXPECT_FALSE(button->DialogChar(u'x'));
    EXPECT_TRUE(button->DialogChar(u'p'));
    EXPECT_EQ(clicks, 1);
    host->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
    QTest::keyClick(host.get(), Qt::Key_P, Qt::AltModifier);
    EXPECT_EQ(clicks, 2);
}

TEST_F(FlatBtnTest, EllipticFramesRoundTheEnds)
{
    button->setGeometry(10, 8, 75, 25);
    host->resize(100, 60);
    button->setElliptic(true);
    button->setGlyph(QPixmap());
    Enter();
    const QImage image = Shot();
    EXPECT_EQ(image.pixel(37, 0), kLight);
    EXPECT_EQ(image.pixel(0, 12), kLight);
    EXPECT_EQ(image.pixel(37, 24), kDark);
    EXPECT_EQ(image.pixel(0, 0), kHost) << "corner cut by the 25 x 25 ellipse";
    EXPECT_EQ(image.pixel(2, 2), kHost);
    EXPECT_EQ(image.pixel(74, 24), kHost);
}

TEST_F(FlatBtnTest, MouseMoveIsReportedOnPlainHover)
{
    std::vector<QPoint> moves;
    QObject::connect(button, &TkwFlatBtn::OnMouseMove,
                     [&moves](Qt::KeyboardModifiers, int x, int y) { moves.emplace_back(x, y); });
    Enter();
    QTest::mouseMove(Window(), At(20, 7));
    QTest::mouseMove(Window(), At(4, 18));
    ASSERT_FALSE(moves.empty());
    EXPECT_EQ(moves.back(), QPoint(4, 18));
    EXPECT_NE(std::find(moves.begin(), moves.end(), QPoint(20, 7)), moves.end());
    EXPECT_FALSE(button->HeldDown());
}

namespace {

// What the framework's plain frame rule gives: the outline of (x1, y1, x2, y2), right and
// bottom exclusive.
bool OnOutline(int x, int y, int x1, int y1, int x2, int y2)
{
    const bool inside = x >= x1 && x < x2 && y >= y1 && y < y2;
    return inside && (x == x1 || x == x2 - 1 || y == y1 || y == y2 - 1);
}

} // namespace

TEST_F(FlatBtnTest, PlainFrameInTheFlatLookLeavesTwoColumnsOnTheLeft)
{
    button->setGeometry(10, 8, 75, 25);
    host->resize(100, 60);
    button->setGlyph(QPixmap());
    button->setFrameColor(clBlue);
    button->setDrawFrame(true);
    const QImage image = Shot();
    const QRgb blue = qRgb(0, 0, 255);
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 75; ++x)
            ASSERT_EQ(image.pixel(x, y), OnOutline(x, y, 2, 0, 75, 25) ? blue : kHost) << x << "," << y;
}

namespace {

// The pixels of an image in one colour.
std::set<std::pair<int, int>> PixelsOf(const QImage &image, QRgb colour)
{
    std::set<std::pair<int, int>> pixels;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour)
                pixels.emplace(x, y);
    return pixels;
}

// Checks that a rounded frame nests: an outline in the light and dark colours closes the button
// off from the outside, the face ring lies right inside it without a gap, and nothing else is
// drawn. Returns the problems found.
std::string FrameNesting(const QImage &image, QRgb innerRing)
{
    const int w = image.width();
    const int h = image.height();
    const auto colour = [&](int x, int y) { return image.pixel(x, y); };
    const auto isOutline = [&](int x, int y) { return colour(x, y) == kLight || colour(x, y) == kDark; };
    // The outside: host pixels reached from the edge of the picture.
    std::vector<char> outside(static_cast<size_t>(w * h), 0);
    std::vector<QPoint> stack;
    for (int x = 0; x < w; ++x)
        stack.insert(stack.end(), {QPoint(x, 0), QPoint(x, h - 1)});
    for (int y = 0; y < h; ++y)
        stack.insert(stack.end(), {QPoint(0, y), QPoint(w - 1, y)});
    while (!stack.empty()) {
        const QPoint p = stack.back();
        stack.pop_back();
        if (!image.rect().contains(p) || outside[static_cast<size_t>(p.y() * w + p.x())]
            || colour(p.x(), p.y()) != kHost)
            continue;
        outside[static_cast<size_t>(p.y() * w + p.x())] = 1;
        stack.insert(stack.end(), {p + QPoint(1, 0), p - QPoint(1, 0), p + QPoint(0, 1), p - QPoint(0, 1)});
    }
    const auto out = [&](int x, int y) {
        return x < 0 || y < 0 || x >= w || y >= h || outside[static_cast<size_t>(y * w + x)];
    };
    const auto any = [&](int x, int y, const std::function<bool(int, int)> &test) {
        return test(x - 1, y) || test(x + 1, y) || test(x, y - 1) || test(x, y + 1);
    };
    const auto inImage = [&](std::function<bool(int, int)> test) {
        return [w, h, test](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h && test(x, y); };
    };
    std::string problems;
    const auto report = [&](const char *what, int x, int y) {
        problems += std::string(" ") + what + " at " + std::to_string(x) + "," + std::to_string(y);
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (out(x, y))
                continue;
            const bool nextToOutside = any(x, y, out);
            const bool nextToOutline = any(x, y, inImage(isOutline));
            if (nextToOutside && !isOutline(x, y))
                report("opening", x, y);
            else if (!nextToOutside && isOutline(x, y))
                report("stray outline pixel", x, y);
            else if (!isOutline(x, y) && nextToOutline && colour(x, y) != innerRing)
                report("gap inside the outline", x, y);
            else if (colour(x, y) == innerRing && !nextToOutline)
                report("stray ring pixel", x, y);
            else if (!isOutline(x, y) && !nextToOutline && colour(x, y) != kHost)
                report("drawn inside", x, y);
        }
    }
    return problems;
}

} // namespace

TEST_F(FlatBtnTest, RoundedFramesNestWithoutGapsOrStrayPixels)
{
    button->setGlyph(QPixmap());
    button->setElliptic(true);
    host->resize(120, 100);
    const struct {
        QSize size;
        TkwFlatBtn::TButtonOrientation orientation;
    } shapes[] = {{{75, 25}, TkwFlatBtn::boHorizontal},
                  {{40, 60}, TkwFlatBtn::boVertical},
                  {{33, 25}, TkwFlatBtn::boHorizontal},
                  {{90, 40}, TkwFlatBtn::boVertical},
                  {{60, 50}, TkwFlatBtn::boHorizontal}};
    for (const auto &shape : shapes) {
        button->setGeometry(QRect(QPoint(10, 8), shape.size));
        button->setButtonOrientation(shape.orientation);
        const int w = shape.size.width();
        const int h = shape.size.height();
        Enter();
        QImage image = Shot();
        EXPECT_EQ(FrameNesting(image, kFace), "") << "raised " << w << " x " << h;
        // The outline's light part faces the top left, its dark part the bottom right.
        EXPECT_EQ(image.pixel(w / 2, 0), kLight) << w << " x " << h;
        EXPECT_EQ(image.pixel(0, h / 2), kLight) << w << " x " << h;
        EXPECT_EQ(image.pixel(w / 2, h - 1), kDark) << w << " x " << h;
        EXPECT_EQ(image.pixel(w - 1, h / 2), kDark) << w << " x " << h;
        EXPECT_EQ(image.pixel(w / 2, 1), kFace) << w << " x " << h;
        EXPECT_EQ(image.pixel(0, 0), kHost) << w << " x " << h;
        const auto raisedOutline = PixelsOf(image, kLight);

        QTest::mousePress(Window(), Qt::LeftButton, {}, At(w / 2, h / 2));
        image = Shot();
        EXPECT_EQ(FrameNesting(image, kFace), "") << "sunken " << w << " x " << h;
        EXPECT_EQ(image.pixel(w / 2, 0), kDark) << w << " x " << h;
        EXPECT_EQ(image.pixel(w / 2, h - 1), kLight) << w << " x " << h;
        EXPECT_EQ(PixelsOf(image, kDark), raisedOutline) << "the colours trade places";
        QTest::mouseRelease(Window(), Qt::LeftButton, {}, At(w / 2, h / 2));
        QTest::mouseMove(Window(), At(-5, -5));
    }
    // The flat look's rounded frame is the same outline in one colour.
    button->setGeometry(10, 8, 75, 25);
    button->setButtonOrientation(TkwFlatBtn::boHorizontal);
    Enter();
    auto outline = PixelsOf(Shot(), kLight);
    const auto dark = PixelsOf(Shot(), kDark);
    outline.insert(dark.begin(), dark.end());
    QTest::mouseMove(Window(), At(-5, -5));
    button->setFrameColor(clBtnHighlight);
    button->setDrawFrame(true);
    EXPECT_EQ(PixelsOf(Shot(), kLight), outline);
}

namespace {

// The pixels one line of text covers when drawn in black into the rectangle (x1, y1, x2, y2),
// right and bottom exclusive, vertically centred and aligned as asked, in the button's font.
std::set<std::pair<int, int>> TextPixels(QSize size, const QFont &font, const QString &text, int x1, int y1, int x2,
                                         int y2, Qt::Alignment align)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QFont crisp = font;
    crisp.setStyleStrategy(QFont::NoAntialias);
    QPainter painter(&image);
    painter.setFont(crisp);
    painter.setPen(Qt::black);
    painter.drawText(QRect(QPoint(x1, y1), QPoint(x2 - 1, y2 - 1)),
                     Qt::TextSingleLine | Qt::TextShowMnemonic | Qt::AlignVCenter | align, text);
    painter.end();
    return PixelsOf(image, qRgb(0, 0, 0));
}

QRect Bounds(const std::set<std::pair<int, int>> &pixels)
{
    QRect bounds;
    for (const auto &[x, y] : pixels)
        bounds |= QRect(x, y, 1, 1);
    return bounds;
}

} // namespace

TEST_F(FlatBtnTest, CaptionAndGlyphFollowTheLayout)
{
    QFont font;
    font.setPixelSize(11);
    host->setFont(font);
    host->resize(120, 100);
    button->setGeometry(10, 8, 75, 25);
    const QImage glyph = Strip(16, 16, 1);
    const QString shortText = QStringLiteral("Go");
    const QString longText = QStringLiteral("Recording all");
    const QFontMetrics metrics(font);
    // The rules switch on the caption's width: room beside a left glyph is 75 - 16 - 9 - 2 = 48,
    // beside a right one 57 - 2 = 55.
    ASSERT_LT(metrics.horizontalAdvance(shortText), 48);
    ASSERT_GT(metrics.horizontalAdvance(longText), 55);

    const auto left = Qt::AlignLeft;
    const auto centre = Qt::AlignHCenter;
    const struct {
        const char *name;
        TkwFlatBtn::TGlyphLayout layout;
        TkwFlatBtn::TButtonOrientation orientation;
        QSize size;
        bool withGlyph;
        QString caption;
        int x1, y1, x2, y2;
        Qt::Alignment align;
        QPoint glyphAt;
    } cases[] = {
        // clang-format off
        // Corner 25: the caption starts at 25 / 4 + 5 = 11; the glyph at 75 / 8 = 9, 12 - 8 = 4.
        {"left, no glyph", TkwFlatBtn::glGlyphLeft, TkwFlatBtn::boHorizontal, {75, 25}, false, shortText, 11, 0, 75,
         25, centre, {}},
        {"left", TkwFlatBtn::glGlyphLeft, TkwFlatBtn::boHorizontal, {75, 25}, true, shortText, 11, 0, 75, 25, centre,
         {9, 4}},
        {"left, long", TkwFlatBtn::glGlyphLeft, TkwFlatBtn::boHorizontal, {75, 25}, true, longText, 27, 0, 75, 25,
         left, {9, 4}},
        // Vertical: the corner is the width, 75 / 4 + 5 = 23.
        {"left, vertical", TkwFlatBtn::glGlyphLeft, TkwFlatBtn::boVertical, {75, 25}, false, shortText, 23, 0, 75,
         25, centre, {}},
        // Glyph at 75 - 18 = 57; the caption centred left of 57 + 6.
        {"right", TkwFlatBtn::glGlyphRight, TkwFlatBtn::boHorizontal, {75, 25}, true, shortText, 0, 0, 63, 25,
         centre, {57, 4}},
        {"right, long", TkwFlatBtn::glGlyphRight, TkwFlatBtn::boHorizontal, {75, 25}, true, longText, 0, 0, 55, 25,
         Qt::AlignRight, {57, 4}},
        // 60 x 50: glyph at 30 - 8 = 22 and 50 / 8 = 6 or 50 - 12 = 38; caption in the middle.
        {"top", TkwFlatBtn::glGlyphTop, TkwFlatBtn::boHorizontal, {60, 50}, true, shortText, 0, 0, 60, 50, centre,
         {22, 6}},
        {"bottom", TkwFlatBtn::glGlyphBottom, TkwFlatBtn::boHorizontal, {60, 50}, true, shortText, 0, 0, 60, 50,
         centre, {22, 38}},
        // clang-format on
    };
    for (const auto &c : cases) {
        button->setGeometry(QRect(QPoint(10, 8), c.size));
        button->setGlyphLayout(c.layout);
        button->setButtonOrientation(c.orientation);
        button->setGlyph(c.withGlyph ? QPixmap::fromImage(glyph) : QPixmap());
        button->setCaption(c.caption);
        const QImage image = Shot();
        auto text = TextPixels(c.size, font, c.caption, c.x1, c.y1, c.x2, c.y2, c.align);
        if (c.withGlyph) {
            // The glyph is drawn over the caption, all but its key-coloured corner.
            const QRect covered(c.glyphAt, QSize(16, 16));
            std::erase_if(text, [&](const auto &p) {
                return covered.contains(p.first, p.second) && QPoint(p.first, p.second) != covered.bottomLeft();
            });
        }
        EXPECT_EQ(PixelsOf(image, qRgb(0, 0, 0)), text) << c.name;
        if (c.withGlyph) {
            const QRect glyphBounds = Bounds(PixelsOf(image, kImages[0]));
            EXPECT_EQ(glyphBounds, QRect(c.glyphAt, QSize(16, 16)) & image.rect()) << c.name;
        }
    }

    // Pressed, the caption's rectangle loses 2 pixels at its left and top, and the glyph moves
    // by (2, 2).
    button->setGeometry(10, 8, 75, 25);
    button->setGlyphLayout(TkwFlatBtn::glGlyphLeft);
    button->setButtonOrientation(TkwFlatBtn::boHorizontal);
    button->setCaption(shortText);
    QTest::mousePress(Window(), Qt::LeftButton, {}, At(40, 12));
    QImage image = Shot();
    EXPECT_EQ(PixelsOf(image, qRgb(0, 0, 0)), TextPixels({75, 25}, font, shortText, 13, 2, 75, 25, centre));
    EXPECT_EQ(Bounds(PixelsOf(image, kImages[0])), QRect(11, 6, 16, 16));
    QTest::mouseRelease(Window(), Qt::LeftButton, {}, At(40, 12));

    // Disabled, the caption is engraved: light in its rectangle, dark one pixel up and left.
    button->setGlyph(QPixmap());
    button->setEnabled(false);
    image = Shot();
    const auto light = TextPixels({75, 25}, font, shortText, 11, 0, 75, 25, centre);
    const auto dark = TextPixels({75, 25}, font, shortText, 10, -1, 74, 24, centre);
    EXPECT_EQ(PixelsOf(image, kDark), dark);
    std::set<std::pair<int, int>> lightShowing;
    std::set_difference(light.begin(), light.end(), dark.begin(), dark.end(),
                        std::inserter(lightShowing, lightShowing.end()));
    EXPECT_EQ(PixelsOf(image, kLight), lightShowing);
}
