#include "base/Exception.h"
#include "controls/Gauges.h"
#include "controls/kwFltBtn.h"
#include "tools/gallery/ContactSheet.h"
#include "tools/gallery/Gallery.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <functional>
#include <vector>

namespace {

constexpr int kZoom = 4;
constexpr int kTitleWidth = 150;

QImage Load(const QString &name)
{
    const QString path = QStringLiteral(TAMBLO_RESOURCE_DIR "/") + name;
    QImage image(path);
    if (image.isNull())
        throw Exception(FormatText("Cannot read %s", qPrintable(path)));
    return image.convertToFormat(QImage::Format_RGB32);
}

// A window surface that shows a picture, as the main window shows its background.
class Backdrop : public QWidget {
public:
    explicit Backdrop(QImage picture, QColor colour = ToQColor(clBtnFace)) : picture_(std::move(picture))
    {
        QPalette colours = palette();
        colours.setColor(QPalette::Window, colour);
        setPalette(colours);
        resize(picture_.isNull() ? QSize(120, 60) : picture_.size());
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Window));
        painter.drawImage(0, 0, picture_);
    }

private:
    QImage picture_;
};

QFont WindowFont()
{
    QFont font;
    font.setPixelSize(11);
    return font;
}

} // namespace

void RenderGaugeGallery(const QString &dir)
{
    struct KindShape {
        TGauge::TGaugeKind kind;
        const char *name;
        QSize size;
        TGauge::TBorderStyle border;
    };
    const KindShape kinds[] = {
        {TGauge::gkText, "text", {60, 30}, TGauge::bsSingle},
        {TGauge::gkHorizontalBar, "horizontal", {100, 24}, TGauge::bsSingle},
        {TGauge::gkVerticalBar, "vertical", {25, 41}, TGauge::bsNone},
        {TGauge::gkVerticalBar, "vertical-border", {25, 41}, TGauge::bsSingle},
        {TGauge::gkPie, "pie", {60, 60}, TGauge::bsSingle},
        {TGauge::gkNeedle, "needle", {80, 45}, TGauge::bsSingle},
    };
    const int percents[] = {0, 33, 100};

    QWidget window;
    window.resize(200, 100);
    window.setFont(WindowFont());
    auto *gauge = new TGauge(&window);
    gauge->setBackColor(clWindowFrame);
    gauge->setForeColor(clGradientActiveCaption);
    gauge->setColor(clBtnFace);
    window.show();

    ContactSheet sheet({QStringLiteral("0 %"), QStringLiteral("33 %"), QStringLiteral("100 %")}, kZoom, kTitleWidth);
    for (const KindShape &shape : kinds) {
        gauge->setKind(shape.kind);
        gauge->setBorderStyle(shape.border);
        gauge->setGeometry(QRect(QPoint(0, 0), shape.size));
        std::vector<QImage> cells;
        for (const int percent : percents) {
            gauge->setProgress(percent);
            const QImage shot = gauge->grab().toImage();
            SavePng(shot, dir, QStringLiteral("gauge-%1-%2.png").arg(QLatin1String(shape.name)).arg(percent));
            cells.push_back(shot);
        }
        sheet.AddRow(QLatin1String(shape.name), std::move(cells));
    }
    SavePng(sheet.Render(), dir, QStringLiteral("gauge-sheet.png"));
}

namespace {

enum class State { Normal, Hot, Pressed, Disabled };

// Puts a fresh button into a state the way the mouse would.
void Enter(TkwFlatBtn *button, State state)
{
    const QPointF inside(button->width() / 2.0, button->height() / 2.0);
    if (state == State::Hot || state == State::Pressed) {
        QEnterEvent enter(inside, button->mapToGlobal(inside), button->mapToGlobal(inside));
        QCoreApplication::sendEvent(button, &enter);
    }
    if (state == State::Pressed) {
        QMouseEvent press(QEvent::MouseButtonPress, inside, button->mapToGlobal(inside), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(button, &press);
    }
    if (state == State::Disabled)
        button->setEnabled(false);
}

const State kStates[] = {State::Normal, State::Hot, State::Pressed, State::Disabled};
const char *const kStateNames[] = {"normal", "hot", "pressed", "disabled"};

QStringList StateTitles()
{
    QStringList titles;
    for (const char *name : kStateNames)
        titles << QLatin1String(name);
    return titles;
}

// One button on the backdrop in each state, the picture taken with a margin of the backdrop.
std::vector<QImage> StateRow(Backdrop &backdrop, const std::function<void(TkwFlatBtn *)> &setUp, const QRect &place,
                             const QString &dir, const QString &name)
{
    std::vector<QImage> cells;
    for (size_t s = 0; s < std::size(kStates); ++s) {
        auto *button = new TkwFlatBtn(&backdrop);
        button->setGeometry(place);
        setUp(button);
        button->show();
        Enter(button, kStates[s]);
        const QImage shot = backdrop.grab(place.adjusted(-4, -4, 4, 4)).toImage();
        SavePng(shot, dir, QStringLiteral("button-%1-%2.png").arg(name, QLatin1String(kStateNames[s])));
        cells.push_back(shot);
        delete button;
    }
    return cells;
}

} // namespace

void RenderButtonGallery(const QString &dir)
{
    // The main window's six buttons on the background picture, at their places.
    struct WindowButton {
        const char *name;
        const char *glyph;
        QPoint at;
    };
    const WindowButton buttons[] = {
        {"list", "glyph-document.bmp", {168, 120}}, {"erase", "glyph-cross.bmp", {200, 120}},
        {"record1", "glyph-play.bmp", {232, 120}},  {"record2", "glyph-play.bmp", {264, 120}},
        {"stop", "glyph-stop.bmp", {296, 120}},     {"exit", "glyph-ring.bmp", {352, 32}},
    };

    Backdrop window(Load(QStringLiteral("background.jpg")).copy(0, 0, 401, 153));
    window.resize(403, 155);
    window.setFont(WindowFont());
    window.show();

    ContactSheet windowSheet(StateTitles(), kZoom, kTitleWidth);
    for (const WindowButton &b : buttons) {
        const QImage glyph = Load(QLatin1String(b.glyph));
        const auto setUp = [&glyph](TkwFlatBtn *button) {
            button->setGlyphLayout(TkwFlatBtn::glGlyphTop);
            button->setElliptic(false);
            button->setGlyph(glyph);
        };
        windowSheet.AddRow(QLatin1String(b.name),
                           StateRow(window, setUp, QRect(b.at, QSize(33, 25)), dir, QLatin1String(b.name)));
    }
    SavePng(windowSheet.Render(), dir, QStringLiteral("button-window-sheet.png"));

    // The other looks on a plain face-coloured surface.
    Backdrop plain{QImage()};
    plain.resize(140, 60);
    plain.setFont(WindowFont());
    plain.show();
    // A small triangle on a key-coloured ground for the captioned buttons.
    QImage play(16, 16, QImage::Format_RGB32);
    play.fill(QColor(255, 0, 255));
    {
        QPainter painter(&play);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(20, 90, 20));
        painter.drawPolygon(QPolygon({QPoint(4, 2), QPoint(13, 8), QPoint(4, 14)}));
    }
    QImage strip(80, 20, QImage::Format_RGB32);
    {
        // Four 20 x 20 images: normal, disabled, hot, pressed, each with a key-coloured corner.
        const QColor colours[] = {QColor(60, 60, 200), QColor(170, 170, 170), QColor(230, 150, 0), QColor(200, 30, 30)};
        QPainter painter(&strip);
        for (int k = 0; k < 4; ++k) {
            painter.fillRect(k * 20, 0, 20, 20, QColor(255, 0, 255));
            painter.setBrush(colours[k]);
            painter.setPen(Qt::NoPen);
            painter.drawEllipse(k * 20 + 2, 2, 16, 16);
        }
    }

    struct Look {
        const char *name;
        QSize size;
        std::function<void(TkwFlatBtn *)> setUp;
    };
    const Look looks[] = {
        {"elliptic-caption",
         {75, 25},
         [&](TkwFlatBtn *b) {
             b->setCaption(QStringLiteral("&Play"));
             b->setGlyph(play);
         }},
        {"square-caption",
         {75, 25},
         [&](TkwFlatBtn *b) {
             b->setElliptic(false);
             b->setCaption(QStringLiteral("&Play"));
             b->setGlyph(play);
         }},
        {"glyph-right-long",
         {75, 25},
         [&](TkwFlatBtn *b) {
             b->setElliptic(false);
             b->setGlyphLayout(TkwFlatBtn::glGlyphRight);
             b->setCaption(QStringLiteral("Record all"));
             b->setGlyph(play);
         }},
        {"glyph-bottom",
         {60, 50},
         [&](TkwFlatBtn *b) {
             b->setElliptic(false);
             b->setGlyphLayout(TkwFlatBtn::glGlyphBottom);
             b->setCaption(QStringLiteral("Stop"));
             b->setGlyph(play);
         }},
        {"frame-vertical",
         {40, 60},
         [&](TkwFlatBtn *b) {
             b->setDrawFrame(true);
             b->setButtonOrientation(TkwFlatBtn::boVertical);
             b->setGlyphLayout(TkwFlatBtn::glGlyphTop);
             b->setCaption(QStringLiteral("Go"));
         }},
        {"strip-of-four",
         {40, 30},
         [&](TkwFlatBtn *b) {
             b->setElliptic(false);
             b->setGlyphLayout(TkwFlatBtn::glGlyphTop);
             b->setGlyph(strip);
         }},
    };
    // On a parent of another colour the face-coloured ring inside the rounded frames shows.
    Backdrop coloured(QImage(), QColor(70, 110, 150));
    coloured.resize(140, 60);
    coloured.setFont(WindowFont());
    coloured.show();
    const Look colouredLooks[] = {
        {"elliptic-on-colour", {75, 25}, looks[0].setUp},
        {"vertical-on-colour", {40, 60}, looks[4].setUp},
    };

    ContactSheet lookSheet(StateTitles(), kZoom, kTitleWidth);
    for (const Look &look : looks)
        lookSheet.AddRow(QLatin1String(look.name),
                         StateRow(plain, look.setUp, QRect(QPoint(20, 5), look.size), dir, QLatin1String(look.name)));
    for (const Look &look : colouredLooks)
        lookSheet.AddRow(QLatin1String(look.name), StateRow(coloured, look.setUp, QRect(QPoint(20, 5), look.size), dir,
                                                            QLatin1String(look.name)));
    SavePng(lookSheet.Render(), dir, QStringLiteral("button-looks-sheet.png"));
}
