#include "controls/kwFltBtn.h"

#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
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
    QImage Shot()
    {
        return host->grab(button->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
    }

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
