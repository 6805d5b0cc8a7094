#include "controls/Gauges.h"

#include "base/Exception.h"
#include "controls/PixelRings.h"

#include <QPaintEvent>
#include <QPainter>
#include <cmath>
#include <limits>
#include <numbers>

void TBltBitmap::MakeLike(const QImage &other) { QImage::operator=(QImage(other.size(), QImage::Format_RGB32)); }

namespace {

// A rectangle given by its edges, right and bottom exclusive.
QRect Edges(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

// Rounds to the nearest integer, halves to the even neighbour.
int RoundEven(double value) { return static_cast<int>(std::nearbyint(value)); }

// XOR of the colour bits of source into target; both RGB32 of the same size.
void XorInto(QImage &target, const QImage &source)
{
    for (int y = 0; y < target.height(); ++y) {
        auto *out = reinterpret_cast<QRgb *>(target.scanLine(y));
        const auto *in = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        for (int x = 0; x < target.width(); ++x)
            out[x] ^= in[x] & 0x00FFFFFFu;
    }
}

// The pie inside the box (left, top, right, bottom) whose arc runs counterclockwise from the
// radial through `from` to the radial through `to`; equal radials give the whole ellipse.
void DrawPie(QPainter &painter, const QRect &box, QPointF from, QPointF to)
{
    const double cx = box.left() + (box.width() + 1) / 2.0;
    const double cy = box.top() + (box.height() + 1) / 2.0;
    const double a = (box.width() + 1) / 2.0;
    const double b = (box.height() + 1) / 2.0;
    if (a <= 0 || b <= 0)
        return;
    // Qt's arc angles are parametric on the ellipse; a radial's direction maps onto them so.
    const auto angle = [&](QPointF p) {
        return std::atan2(-(p.y() - cy) / b, (p.x() - cx) / a) * 180.0 / std::numbers::pi;
    };
    if (from == to) {
        painter.drawEllipse(box);
        return;
    }
    const double start = angle(from);
    double span = angle(to) - start;
    while (span <= 0)
        span += 360.0;
    painter.drawPie(box, RoundEven(start * 16), RoundEven(span * 16));
}

// The pie inside the box (left, top, right, bottom) whose arc runs counterclockwise from the
// radial through `from` to the radial through `to`, taken pixel by pixel. Pixels and the radials'
// points are taken at their centres; equal radials give the whole ellipse.
class PieShape {
public:
    PieShape(const QRect &box, QPoint from, QPoint to)
        : a_(box.width() / 2.0),
          b_(box.height() / 2.0),
          cx_(box.left() + a_),
          cy_(box.top() + b_),
          start_(Radial(from)),
          end_(Radial(to))
    {}

    bool Holds(int x, int y) const
    {
        if (a_ <= 0 || b_ <= 0)
            return false;
        const QPointF p = Radial(QPoint(x, y));
        if ((p.x() / a_) * (p.x() / a_) + (p.y() / b_) * (p.y() / b_) > 1)
            return false;
        // Turning counterclockwise from the start radial, the pixel comes before the end radial.
        // A radial along the centre's own pixel row lies on that row exactly: keep the row.
        const double sweep = Cross(start_, end_);
        const bool afterStart = Cross(start_, p) >= 0;
        const bool beforeEnd = Cross(p, end_) >= 0;
        if (sweep == 0)
            return QPointF::dotProduct(start_, end_) > 0 || afterStart; // a full or half turn
        return sweep > 0 ? afterStart && beforeEnd : afterStart || beforeEnd;
    }

private:
    // The direction from the centre to the pixel's centre, y pointing up.
    QPointF Radial(QPoint pixel) const { return {pixel.x() + 0.5 - cx_, cy_ - (pixel.y() + 0.5)}; }
    static double Cross(QPointF u, QPointF v) { return u.x() * v.y() - u.y() * v.x(); }

    double a_, b_, cx_, cy_;
    QPointF start_, end_;
};

} // namespace

TGauge::TGauge(QWidget *parent) : QWidget(parent)
{
    // Paints its whole rectangle, so nothing beneath needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(100, 100);
}

void TGauge::setBackColor(TColor colour)
{
    if (colour == backColor_)
        return;
    backColor_ = colour;
    repaintNow();
}

void TGauge::setBorderStyle(TBorderStyle style)
{
    if (style == borderStyle_)
        return;
    borderStyle_ = style;
    repaintNow();
}

void TGauge::setForeColor(TColor colour)
{
    if (colour == foreColor_)
        return;
    foreColor_ = colour;
    repaintNow();
}

void TGauge::setKind(TGaugeKind kind)
{
    if (kind == kind_)
        return;
    kind_ = kind;
    repaintNow();
}

void TGauge::setShowText(bool show)
{
    if (show == showText_)
        return;
    showText_ = show;
    repaintNow();
}

void TGauge::setMinValue(std::int32_t value)
{
    if (value == minValue_)
        return;
    if (value > maxValue_ && !IsLoading())
        throw EInvalidOperation(
            FormatText("Value must be between %d and %d", -std::numeric_limits<std::int32_t>::max(), maxValue_ - 1));
    minValue_ = value;
    if (progress_ < value)
        progress_ = value;
    repaintNow();
}

void TGauge::setMaxValue(std::int32_t value)
{
    if (value == maxValue_)
        return;
    if (value < minValue_ && !IsLoading())
        throw EInvalidOperation(
            FormatText("Value must be between %d and %d", minValue_ + 1, std::numeric_limits<std::int32_t>::max()));
    maxValue_ = value;
    if (progress_ > value)
        progress_ = value;
    repaintNow();
}

void TGauge::setProgress(std::int32_t value)
{
    const int before = Percent();
    if (value < minValue_)
        value = minValue_;
    else if (value > maxValue_)
        value = maxValue_;
    if (value == progress_)
        return;
    progress_ = value;
    if (Percent() != before)
        repaintNow();
}

TColor TGauge::Color() const { return parentColor_ ? FromQColor(palette().color(QPalette::Window)) : color_; }

void TGauge::setColor(TColor colour)
{
    if (colour == color_ && !parentColor_)
        return;
    color_ = colour;
    parentColor_ = false;
    repaintNow();
}

void TGauge::setParentColor(bool parentColor)
{
    if (parentColor == parentColor_)
        return;
    parentColor_ = parentColor;
    repaintNow();
}

int TGauge::Percent() const
{
    const std::int64_t range = std::int64_t{maxValue_} - minValue_;
    if (range == 0)
        return 0;
    return static_cast<int>((std::int64_t{progress_} - minValue_) * 100 / range);
}

QRect TGauge::paintRect() const
{
    QRect area(0, 0, width(), height());
    if (borderStyle_ == bsSingle)
        area.adjust(1, 1, -1, -1);
    return area;
}

QImage TGauge::RenderPicture() const
{
    QImage picture(width(), height(), QImage::Format_RGB32);
    picture.fill(Qt::black);
    if (picture.isNull())
        return picture;

    TBltBitmap overlay;
    overlay.MakeLike(picture);
    overlay.fill(Qt::black);
    drawKind(overlay);
    XorInto(picture, overlay);

    if (showText_)
        drawText(picture);
    return picture;
}

void TGauge::drawKind(QImage &overlay) const
{
    const QRect area = paintRect();
    if (area.isEmpty())
        return;
    const int left = area.left();
    const int top = area.top();
    const int right = area.left() + area.width();
    const int bottom = area.top() + area.height();
    const int percent = Percent();

    QPainter painter(&overlay);
    painter.setClipRect(area);
    painter.setPen(QPen(ToQColor(foreColor_), 1));
    painter.setBrush(ToQColor(foreColor_));

    switch (kind_) {
    case gkText: painter.fillRect(area, ToQColor(backColor_)); break;
    case gkHorizontalBar:
    case gkVerticalBar: {
        const int w = right - left + 1;
        const int h = bottom - top + 1;
        painter.fillRect(area, ToQColor(backColor_));
        if (kind_ == gkHorizontalBar) {
            const int fill = std::min(w, static_cast<int>(std::int64_t{w} * percent / 100));
            if (fill >= 1)
                painter.fillRect(Edges(left, top, fill, h), ToQColor(foreColor_));
        } else {
            int fill = static_cast<int>(std::int64_t{h} * percent / 100);
            if (fill >= h)
                fill = h - 1;
            // The bar grows upward from the bottom; a rectangle below the bitmap draws nothing.
            if (fill >= 1)
                painter.fillRect(Edges(left, h - fill, w, h), ToQColor(foreColor_));
        }
        break;
    }
    case gkPie: {
        const int extra = borderStyle_ == bsSingle ? 1 : 0;
        const int w = right - left + extra;
        const int h = bottom - top + extra;
        painter.fillRect(area, ToQColor(Color()));
        painter.setBrush(ToQColor(backColor_));
        const QRect box = Edges(left, top, w, h);
        painter.drawEllipse(QRect(box.topLeft(), box.size() - QSize(1, 1)));
        if (percent == 0)
            break;
        painter.setBrush(ToQColor(foreColor_));
        const int mx = w / 2;
        const int my = h / 2;
        const double a = std::numbers::pi * (percent / 50.0 + 0.5);
        const QPointF from(RoundEven(mx * (1 - std::cos(a))), RoundEven(my * (1 - std::sin(a))));
        DrawPie(painter, QRect(box.topLeft(), box.size() - QSize(1, 1)), from, QPointF(mx, 0));
        break;
    }
    case gkNeedle: {
        const int extra = borderStyle_ == bsSingle ? 1 : 0;
        const int w = right - left + extra;
        const int h = bottom - top + extra;
        painter.fillRect(area, ToQColor(Color()));
        // The dial: outline and inside come from one set of pixels, so the outline is closed
        // and fills the bounding box. Qt fills a pie by pixel centres and strokes its arc by
        // its own rule, and the fill pokes through between the steps of the arc.
        const QRect box = Edges(left, top, w, 2 * h - 1);
        const QPoint from(left + w, bottom - 1);
        const QPoint to(left, bottom - 1);
        const PieShape pie(box, from, to);
        const PixelRings dial(
            area, [&](int x, int y) { return pie.Holds(x, y); }, 1);
        dial.Fill(painter, 1, ToQColor(backColor_));
        dial.Fill(painter, 0, ToQColor(foreColor_));
        // The dial's base line; the end point is not drawn.
        painter.drawLine(left, bottom, left + w - 1, bottom);
        if (percent == 0)
            break;
        const int mx = width() / 2;
        const double a = std::numbers::pi * percent / 100.0;
        painter.drawLine(QPoint(mx, bottom - 1),
                         QPoint(RoundEven(mx * (1 - std::cos(a))), RoundEven((bottom - 1) * (1 - std::sin(a)))));
        break;
    }
    }
}

void TGauge::drawText(QImage &picture) const
{
    const QRect area = paintRect();
    const int left = area.left();
    const int top = area.top();
    const int right = area.left() + area.width();
    const int bottom = area.top() + area.height();

    TBltBitmap textBitmap;
    textBitmap.MakeLike(picture);
    textBitmap.fill(Qt::black);

    // Bitmap-crisp glyphs: every text pixel is either fully white or untouched, so the XOR
    // below gives a clean inversion.
    QFont textFont = font();
    textFont.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics metrics(textFont);
    const QString text = QStringLiteral("%1%").arg(Percent());
    const int x = (right - left + 1 - metrics.horizontalAdvance(text)) / 2;
    const int y = (bottom - top + 1 - metrics.height()) / 2;

    QPainter painter(&textBitmap);
    painter.setClipRect(area);
    painter.setFont(textFont);
    painter.setPen(Qt::white);
    painter.drawText(x, y + metrics.ascent(), text);
    painter.end();

    XorInto(picture, textBitmap);
}

void TGauge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, RenderPicture());
}

void TGauge::Loaded() { update(); }

void TGauge::repaintNow()
{
    // Synchronous on purpose: a caller that keeps the GUI thread busy still sees every step.
    if (!IsLoading() && isVisible())
        repaint();
}
