#include "controls/kwFltBtn.h"

#include "controls/PixelRings.h"

#include <QEnterEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QShortcutEvent>
#include <algorithm>

namespace {

// A copy of the image in which every pixel of the key colour is fully transparent.
QImage WithoutColour(const QImage &source, QRgb key)
{
    QImage out = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if ((line[x] & 0x00FFFFFFu) == (key & 0x00FFFFFFu))
                line[x] = 0;
        }
    }
    return out;
}

// The key colour of a picture: its bottom-left pixel.
QRgb KeyColour(const QImage &image) { return image.pixel(0, image.height() - 1); }

// The letter after a single "&", or a null character.
QChar AcceleratorOf(const QString &caption)
{
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != u'&')
            continue;
        if (caption[i + 1] != u'&')
            return caption[i + 1];
        ++i;
    }
    return QChar();
}

constexpr int kTextFlags = Qt::TextSingleLine | Qt::TextShowMnemonic;

// Whether the pixel lies in the rectangle (0, 0, w, h) with rounded corners of a corner ellipse
// of corner x corner (at most the rectangle's own size): whether its centre does.
bool InRoundedRect(int x, int y, int w, int h, int corner)
{
    const double rx = std::min(corner, w) / 2.0;
    const double ry = std::min(corner, h) / 2.0;
    // How far outside its corner ellipse a point lies, in the ellipse's radii; 0 along the sides.
    const auto offset = [](double p, double r, int size) { return r > 0 ? (p - std::clamp(p, r, size - r)) / r : 0.0; };
    const double dx = offset(x + 0.5, rx, w);
    const double dy = offset(y + 0.5, ry, h);
    return dx * dx + dy * dy <= 1;
}

} // namespace

TkwFlatBtn::TkwFlatBtn(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    // OnMouseMove reports every move over the button, not only while a button is held.
    setMouseTracking(true);
    resize(75, 25);
}

void TkwFlatBtn::setGlyph(const QPixmap &glyph) { setGlyph(glyph.toImage()); }

void TkwFlatBtn::setGlyph(const QImage &glyph)
{
    glyph_ = glyph;
    if (!glyph.isNull() && glyph.height() > 0) {
        int count = 1;
        if (glyph.width() % glyph.height() == 0)
            count = glyph.width() / glyph.height();
        // A zero-width picture counts as one image; more than four is not a strip.
        numGlyphs_ = (count < 1 || count > 4) ? 1 : count;
    }
    invalidate();
}

void TkwFlatBtn::setCaption(const QString &caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    updateShortcut();
    invalidate();
}

void TkwFlatBtn::setDrawFrame(bool draw)
{
    if (draw == drawFrame_)
        return;
    drawFrame_ = draw;
    invalidate();
}

void TkwFlatBtn::setFrameColor(TColor colour)
{
    if (colour == frameColor_)
        return;
    frameColor_ = colour;
    invalidate();
}

void TkwFlatBtn::setNumGlyphs(int count)
{
    count = std::clamp(count, 1, 4);
    if (count == numGlyphs_)
        return;
    numGlyphs_ = count;
    invalidate();
}

void TkwFlatBtn::setGlyphLayout(TGlyphLayout layout)
{
    if (layout == glyphLayout_)
        return;
    glyphLayout_ = layout;
    invalidate();
}

void TkwFlatBtn::setButtonOrientation(TButtonOrientation orientation)
{
    if (orientation == orientation_)
        return;
    orientation_ = orientation;
    invalidate();
}

void TkwFlatBtn::setA3DTopCl(TColor colour)
{
    if (colour == topColour_)
        return;
    topColour_ = colour;
    invalidate();
}

void TkwFlatBtn::setA3DBotCl(TColor colour)
{
    if (colour == bottomColour_)
        return;
    bottomColour_ = colour;
    invalidate();
}

void TkwFlatBtn::setElliptic(bool elliptic)
{
    if (elliptic == elliptic_)
        return;
    elliptic_ = elliptic;
    invalidate();
}

void TkwFlatBtn::invalidate()
{
    // State changes only mark the button; it is drawn with the parent's next paint.
    if (!IsLoading())
        update();
}

void TkwFlatBtn::Loaded() { update(); }

void TkwFlatBtn::updateShortcut()
{
    if (shortcutId_ != 0)
        releaseShortcut(shortcutId_);
    shortcutId_ = 0;
    const QKeySequence accelerator = QKeySequence::mnemonic(caption_);
    if (!accelerator.isEmpty())
        shortcutId_ = grabShortcut(accelerator);
}

bool TkwFlatBtn::DialogChar(QChar key)
{
    const QChar accelerator = AcceleratorOf(caption_);
    if (accelerator.isNull() || accelerator.toUpper() != key.toUpper() || !isEnabled())
        return false;
    click();
    return true;
}

void TkwFlatBtn::click()
{
    heldDown_ = false;
    emit OnClick();
}

bool TkwFlatBtn::event(QEvent *event)
{
    if (event->type() == QEvent::Shortcut) {
        auto *shortcut = static_cast<QShortcutEvent *>(event);
        if (shortcut->shortcutId() == shortcutId_ && DialogChar(AcceleratorOf(caption_)))
            return true;
    }
    return QWidget::event(event);
}

void TkwFlatBtn::changeEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::EnabledChange:
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::ParentChange: invalidate(); break;
    default: break;
    }
    QWidget::changeEvent(event);
}

void TkwFlatBtn::pointerEntered()
{
    if (pointerInside_)
        return;
    pointerInside_ = true;
    if (!isEnabled())
        return;
    mouseInside_ = true;
    heldDown_ = false;
    invalidate();
}

void TkwFlatBtn::pointerLeft()
{
    if (!pointerInside_)
        return;
    pointerInside_ = false;
    if (!isEnabled())
        return;
    mouseInside_ = false;
    heldDown_ = false;
    invalidate();
}

void TkwFlatBtn::enterEvent(QEnterEvent *) { pointerEntered(); }

void TkwFlatBtn::leaveEvent(QEvent *) { pointerLeft(); }

void TkwFlatBtn::buttonDown(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    emit OnMouseDown(event->button(), event->modifiers(), at.x(), at.y());
    if (event->button() != Qt::LeftButton)
        return;
    pointerInside_ = true;
    heldDown_ = true;
    mouseInside_ = true;
    invalidate();
}

void TkwFlatBtn::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        clickArmed_ = true;
    buttonDown(event);
}

void TkwFlatBtn::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double click is a press that does not click again.
    if (event->button() == Qt::LeftButton)
        emit OnDblClick();
    buttonDown(event);
}

void TkwFlatBtn::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    emit OnMouseMove(event->modifiers(), at.x(), at.y());
    // While a press holds the mouse, the platform reports no leaving or entering: see it here.
    const bool inside = rect().contains(at);
    if (inside && !pointerInside_)
        pointerEntered();
    else if (!inside && pointerInside_)
        pointerLeft();
}

void TkwFlatBtn::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton && clickArmed_) {
        clickArmed_ = false;
        if (rect().contains(at)) {
            // The handler may close the window or take the button away.
            QPointer<TkwFlatBtn> alive(this);
            click();
            if (!alive)
                return;
        }
    }
    emit OnMouseUp(event->button(), event->modifiers(), at.x(), at.y());
    if (event->button() != Qt::LeftButton)
        return;
    heldDown_ = false;
    if (at.x() >= 0 && at.x() <= width() && at.y() >= 0 && at.y() <= height() && mouseInside_)
        invalidate();
}

void TkwFlatBtn::chooseImage()
{
    if (numGlyphs_ == 1) {
        image_ = glyph_;
        return;
    }
    image_ = QImage();
    int index = -1;
    if (!isEnabled())
        index = 1;
    else if (!mouseInside_)
        index = 0;
    else if (heldDown_ && numGlyphs_ == 4)
        index = 3;
    else if (!heldDown_ && numGlyphs_ >= 3)
        index = 2;
    // Hot with two images, or held with two or three: the strip has no picture for it.
    if (index < 0 || glyph_.isNull())
        return;
    const int imageWidth = glyph_.width() / numGlyphs_;
    image_ = glyph_.copy(index * imageWidth, 0, imageWidth, glyph_.height());
}

void TkwFlatBtn::layOut(const QFontMetrics &metrics)
{
    const int w = width();
    const int h = height();
    const bool hasImage = !image_.isNull();
    const int captionWidth = metrics.size(kTextFlags, caption_).width();
    captionAlign_ = Align::Centre;
    captionRect_ = QRect(0, 0, w, h);

    switch (glyphLayout_) {
    case glGlyphLeft:
        captionRect_ = QRect(QPoint(corner_ / 4 + 5, 0), QPoint(w - 1, h - 1));
        glyphX_ = w / 8;
        if (hasImage) {
            if (captionWidth > w - image_.width() - glyphX_ - 2) {
                captionRect_ = QRect(QPoint(image_.width() + w / 8 + 2, 0), QPoint(w - 1, h - 1));
                captionAlign_ = Align::Left;
            }
            glyphY_ = h / 2 - image_.height() / 2;
        }
        break;
    case glGlyphRight:
        glyphX_ = w - w / 4;
        captionRect_ = QRect(QPoint(0, 0), QPoint(glyphX_ + corner_ / 4 - 1, h - 1));
        if (hasImage) {
            glyphY_ = h / 2 - image_.height() / 2;
            if (captionWidth > glyphX_ - 2) {
                captionRect_ = QRect(QPoint(0, 0), QPoint(glyphX_ - 2 - 1, h - 1));
                captionAlign_ = Align::Right;
            }
        }
        break;
    case glGlyphTop:
    case glGlyphBottom:
        if (hasImage) {
            glyphX_ = w / 2 - image_.width() / 2;
            glyphY_ = glyphLayout_ == glGlyphTop ? h / 8 : h - h / 4;
        }
        break;
    }
}

void TkwFlatBtn::drawCaption(QPainter &painter, const QRect &rect, const QColor &colour) const
{
    if (caption_.isEmpty())
        return;
    int flags = kTextFlags | Qt::AlignVCenter;
    switch (captionAlign_) {
    case Align::Centre: flags |= Qt::AlignHCenter; break;
    case Align::Left: flags |= Qt::AlignLeft; break;
    case Align::Right: flags |= Qt::AlignRight; break;
    }
    painter.setPen(colour);
    painter.drawText(rect, flags, caption_);
}

// The square outline of (x1, y1, x2, y2), right and bottom exclusive.
void TkwFlatBtn::drawFrame(QPainter &painter, int x1, int y1, int x2, int y2, TColor colour) const
{
    if (x2 - x1 < 1 || y2 - y1 < 1)
        return;
    painter.setPen(QPen(ToQColor(colour), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
}

// The rounded frame of the whole button: its outline, light where it lies nearer the top or
// left side than the bottom or right side (as a square frame's top and left edges are) and dark
// elsewhere, and when asked the ring just inside it. The outlines are peeled off one shape:
// three rounded outlines of slightly different sizes would cross along the curves, leaving
// gaps and stray pixels.
void TkwFlatBtn::drawRoundedFrame(QPainter &painter, TColor light, TColor dark, std::optional<TColor> inner) const
{
    const int w = width();
    const int h = height();
    const PixelRings rings(
        QRect(0, 0, w, h), [&](int x, int y) { return InRoundedRect(x, y, w, h, corner_); }, 2);
    const auto lightSide = [&](int x, int y) {
        return std::min(x + 0.5, y + 0.5) <= std::min(w - x - 0.5, h - y - 0.5);
    };
    const auto darkSide = [&](int x, int y) { return !lightSide(x, y); };
    rings.Fill(painter, 0, ToQColor(light), lightSide);
    rings.Fill(painter, 0, ToQColor(dark), darkSide);
    if (inner)
        rings.Fill(painter, 1, ToQColor(*inner));
}

void TkwFlatBtn::drawImage(QPainter &painter, int x, int y) const
{
    if (image_.isNull() || image_.width() == 0 || image_.height() == 0)
        return;
    painter.drawImage(x, y, WithoutColour(image_, KeyColour(image_)));
}

QImage TkwFlatBtn::RenderImage()
{
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0)
        return QImage();
    if (bitmap_.size() != QSize(w, h))
        bitmap_ = QImage(w, h, QImage::Format_RGB32);
    corner_ = orientation_ == boHorizontal ? h : w;

    chooseImage();
    // Crisp glyphs only: a blended edge next to the key colour would leave a halo.
    QFont captionFont = font();
    captionFont.setStyleStrategy(QFont::NoAntialias);
    layOut(QFontMetrics(captionFont));

    Look look = Look::Raised;
    if (!heldDown_ && !mouseInside_)
        look = Look::Flat;
    else if (!isEnabled())
        look = Look::Flat;
    else if (heldDown_)
        look = Look::Sunken;

    const QWidget *owner = parentWidget() ? parentWidget() : this;
    const QColor parentColour = owner->palette().color(QPalette::Window);
    const QColor fontColour = palette().color(QPalette::Active, QPalette::WindowText);

    QPainter painter(&bitmap_);
    painter.setFont(captionFont);
    painter.fillRect(0, 0, w, h, parentColour);

    const int l = 0, t = 0, r = w, b = h;
    switch (look) {
    case Look::Flat:
        if (isEnabled()) {
            drawCaption(painter, captionRect_, fontColour);
        } else {
            // Engraved: light, then dark one pixel up and left.
            drawCaption(painter, captionRect_, ToQColor(clBtnHighlight));
            drawCaption(painter, captionRect_.translated(-1, -1), ToQColor(clBtnShadow));
        }
        if (drawFrame_) {
            if (elliptic_)
                drawRoundedFrame(painter, frameColor_, frameColor_, std::nullopt);
            else
                drawFrame(painter, l + 2, t, r, b, frameColor_);
        }
        drawImage(painter, glyphX_, glyphY_);
        break;
    case Look::Raised:
    case Look::Sunken: {
        const bool raised = look == Look::Raised;
        if (raised)
            drawCaption(painter, captionRect_, fontColour);
        else
            drawCaption(painter, captionRect_.adjusted(2, 2, 0, 0), fontColour);
        const TColor outer = raised ? topColour_ : bottomColour_;
        const TColor inner = raised ? bottomColour_ : topColour_;
        if (elliptic_) {
            // The second outline shares the first one's bottom and right side and the third
            // covers the rest of it: the outline in two colours with a face ring inside.
            drawRoundedFrame(painter, outer, inner, clBtnFace);
        } else {
            drawFrame(painter, l + 1, t, r, b, outer);
            drawFrame(painter, l + 2, t + 1, r, b, inner);
            drawFrame(painter, l + 2, t + 1, r - 1, b - 1, clBtnFace);
        }
        const int shift = raised ? 0 : 2;
        drawImage(painter, glyphX_ + shift, glyphY_ + shift);
        break;
    }
    }
    painter.end();

    return WithoutColour(bitmap_, KeyColour(bitmap_));
}

void TkwFlatBtn::paintEvent(QPaintEvent *)
{
    const QImage image = RenderImage();
    QPainter painter(this);
    painter.drawImage(0, 0, image);
}
