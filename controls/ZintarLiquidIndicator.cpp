#include "controls/ZintarLiquidIndicator.h"

#include "controls/LcdCellList.h"
#include "controls/LcdCharShapes.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <array>
#include <cmath>

namespace {

struct SchemeColours {
    TColor back, bevel, numberBack, numberFore, numberFore1;
};

// Indexed by TZnColorScheme.
constexpr std::array<SchemeColours, 7> kSchemes{{
    {0xDDDDDD, 0xDDDDDD, 0xD3D3D3, 0x363636, 0x0000FF}, // csSilver
    {0x000000, 0xDDDDDD, 0x363636, 0xDDDDDD, 0x0000FF}, // csInvSilver
    {0xFFFFFF, 0xDDDDDD, 0xFFFFFF, 0x000000, 0x0000FF}, // csWhite
    {0x000000, 0x808080, 0x000000, 0xFFFFFF, 0x0080FF}, // csBlack
    {0x000080, 0x000080, 0x400080, 0x48BFFF, 0x80FFFF}, // csPlasma
    {0x48BFFF, 0x48BFFF, 0x57A3F7, 0x000080, 0x2747FC}, // csInvPlasma
    {0xA00000, 0xA00000, 0x804000, 0xDAF376, 0x00FFFF}, // csVORAN
}};

TColor ShiftColour(TColor colour, int delta)
{
    const TColor rgb = ColorToRGB(colour);
    auto channel = [&](int shift) { return std::clamp(static_cast<int>(rgb >> shift & 0xFF) + delta, 0, 255); };
    return RGBColor(channel(0), channel(8), channel(16));
}

// A copy of a 24-bit picture with every colour byte moved by delta and kept within 0..255.
QImage ShiftedMaterial(const QImage &base, int delta)
{
    QImage result = base.copy();
    if (delta == 0)
        return result;
    const int bytes = result.width() * 3;
    for (int y = 0; y < result.height(); ++y) {
        uchar *line = result.scanLine(y);
        for (int i = 0; i < bytes; ++i)
            line[i] = static_cast<uchar>(std::clamp(line[i] + delta, 0, 255));
    }
    return result;
}

QByteArray EightBit(const QString &text)
{
    // Characters beyond eight bits have no shape; they show as blanks like any byte above 126.
    QByteArray bytes(text.size(), '\0');
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        bytes[i] = static_cast<char>(u <= 0xFF ? u : 0x7F);
    }
    return bytes;
}

} // namespace

TZintarLiquidIndicator::TZintarLiquidIndicator(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // OnMouseMove reports every move over the control, not only while a button is held.
    setMouseTracking(true);
    resize(indicatorWidth_, indicatorHeight_);
    UpdateWindowRegion();
    RebuildImage();
}

TZintarLiquidIndicator::~TZintarLiquidIndicator() = default;

void TZintarLiquidIndicator::Loaded()
{
    PrepareMaterials();
    UpdateWindowRegion();
    RebuildImage();
    update();
}

// --- setters -------------------------------------------------------------------------------

void TZintarLiquidIndicator::Rebuild()
{
    RebuildImage();
    update();
}

void TZintarLiquidIndicator::PostRefresh() { QCoreApplication::postEvent(this, new QEvent(RefreshEvent)); }

void TZintarLiquidIndicator::InvalidateParent()
{
    if (QWidget *parent = parentWidget())
        parent->update();
    else
        update();
}

void TZintarLiquidIndicator::ResizeToBoundingBox()
{
    resize(RotatedBoundingBox(indicatorWidth_, indicatorHeight_, Theta()));
}

void TZintarLiquidIndicator::setSignNumber(int value)
{
    if (value <= 0 || value == signNumber_)
        return;
    signNumber_ = value;
    if (IsLoaded()) {
        UpdateWindowRegion();
        Rebuild();
    }
}

void TZintarLiquidIndicator::setIndicatorWidth(int value)
{
    if (value <= 0 || value == indicatorWidth_)
        return;
    indicatorWidth_ = value;
    if (IsLoaded()) {
        ResizeToBoundingBox();
        UpdateWindowRegion();
        RebuildImage();
        InvalidateParent();
    }
}

void TZintarLiquidIndicator::setIndicatorHeight(int value)
{
    if (value <= 0 || value == indicatorHeight_)
        return;
    indicatorHeight_ = value;
    if (IsLoaded()) {
        ResizeToBoundingBox();
        UpdateWindowRegion();
        RebuildImage();
        InvalidateParent();
    }
}

void TZintarLiquidIndicator::setIndicatorAngle(int value)
{
    if (value == indicatorAngle_)
        return;
    indicatorAngle_ = value;
    if (IsLoaded()) {
        ResizeToBoundingBox();
        UpdateWindowRegion();
        Rebuild();
    }
}

void TZintarLiquidIndicator::setIndicatorGap(int value)
{
    if (value == indicatorGap_)
        return;
    indicatorGap_ = value;
    Rebuild();
}

void TZintarLiquidIndicator::setIndicatorstring(const QString &value)
{
    // Called on every timer tick: an unchanged text must cost nothing.
    if (value == indicatorString_)
        return;
    indicatorString_ = value;
    indicatorBytes_ = EightBit(value);
    Rebuild();
}

// The plain properties: store and rebuild, even while the form is being read.
template <typename T>
void TZintarLiquidIndicator::StoreAndRebuild(T &field, T value)
{
    if (value == field)
        return;
    field = value;
    Rebuild();
}

void TZintarLiquidIndicator::setIndicatorKind(TZnIndicatorKind value) { StoreAndRebuild(indicatorKind_, value); }

void TZintarLiquidIndicator::setInnerBevel(TZnBevelKind value) { StoreAndRebuild(innerBevel_, value); }

void TZintarLiquidIndicator::setOuterBevel(TZnBevelKind value) { StoreAndRebuild(outerBevel_, value); }

void TZintarLiquidIndicator::setBevelColor(TColor value) { StoreAndRebuild(bevelColor_, value); }

void TZintarLiquidIndicator::setBackColor(TColor value) { StoreAndRebuild(backColor_, value); }

void TZintarLiquidIndicator::setNumberForeColor(TColor value) { StoreAndRebuild(numberForeColor_, value); }

void TZintarLiquidIndicator::setNumberForeColor1(TColor value) { StoreAndRebuild(numberForeColor1_, value); }

void TZintarLiquidIndicator::setNumberBackColor(TColor value) { StoreAndRebuild(numberBackColor_, value); }

void TZintarLiquidIndicator::setIndicatorStyle(TZnIndicatorStyle value) { StoreAndRebuild(indicatorStyle_, value); }

void TZintarLiquidIndicator::setMouseAction(TZnMouseAction value) { StoreAndRebuild(mouseAction_, value); }

void TZintarLiquidIndicator::setMaterialMode(TZnMaterialMode value) { StoreAndRebuild(materialMode_, value); }

void TZintarLiquidIndicator::setForeMaterialMode(TZnMaterialMode value) { StoreAndRebuild(foreMaterialMode_, value); }

void TZintarLiquidIndicator::setInnerBevelWidth(int value)
{
    if (value <= 0 || value == innerBevelWidth_)
        return;
    innerBevelWidth_ = value;
    Rebuild();
}

void TZintarLiquidIndicator::setOuterBevelWidth(int value)
{
    if (value <= 0 || value == outerBevelWidth_)
        return;
    outerBevelWidth_ = value;
    Rebuild();
}

void TZintarLiquidIndicator::setTransparentMode(TZnTransparentMode value)
{
    if (value == transparentMode_)
        return;
    transparentMode_ = value;
    // Transparent modes let the parent show where the picture is not copied.
    setAttribute(Qt::WA_OpaquePaintEvent, value == tmNone);
    Rebuild();
}

void TZintarLiquidIndicator::setColorScheme(TZnColorScheme value)
{
    colorScheme_ = value;
    // While a stored form is read its own colours win over the scheme's.
    if (!IsLoaded())
        return;
    const auto index = static_cast<size_t>(value);
    if (index < kSchemes.size()) {
        const SchemeColours &scheme = kSchemes[index];
        backColor_ = scheme.back;
        bevelColor_ = scheme.bevel;
        numberBackColor_ = scheme.numberBack;
        numberForeColor_ = scheme.numberFore;
        numberForeColor1_ = scheme.numberFore1;
    }
    PostRefresh();
}

void TZintarLiquidIndicator::setBackMaterial(const QImage &value)
{
    backMaterial_ = value.isNull() ? QImage() : value.convertToFormat(QImage::Format_RGB32);
    PrepareMaterials();
    Rebuild();
}

void TZintarLiquidIndicator::setForeMaterial(const QImage &value)
{
    foreMaterial_ = value.isNull() ? QImage() : value.convertToFormat(QImage::Format_RGB32);
    Rebuild();
}

void TZintarLiquidIndicator::setMaterialShadowMode(TZnMaterialShadowMode value)
{
    if (value == materialShadowMode_)
        return;
    materialShadowMode_ = value;
    PrepareMaterials();
    Rebuild();
}

// --- colours and materials -----------------------------------------------------------------

TColor TZintarLiquidIndicator::LightenColor(TColor colour) { return ShiftColour(colour, 32); }

TColor TZintarLiquidIndicator::DarkenColor(TColor colour) { return ShiftColour(colour, -32); }

void TZintarLiquidIndicator::PrepareMaterials()
{
    if (backMaterial_.isNull()) {
        darkMaterial_ = lightMaterial_ = shadowMaterial_ = QImage();
        return;
    }
    const QImage base = backMaterial_.convertToFormat(QImage::Format_RGB888);
    darkMaterial_ = ShiftedMaterial(base, -64);
    lightMaterial_ = ShiftedMaterial(base, 64);
    const int shadow = materialShadowMode_ == msmDark ? -32 : materialShadowMode_ == msmLight ? 32 : 0;
    shadowMaterial_ = ShiftedMaterial(base, shadow);
}

// --- messages ------------------------------------------------------------------------------

bool TZintarLiquidIndicator::HoverColour() const
{
    return mouseInside_ && (mouseAction_ == maColor || mouseAction_ == maBoth);
}

bool TZintarLiquidIndicator::HoverWidth() const
{
    return mouseInside_ && (mouseAction_ == maWidth || mouseAction_ == maBoth);
}

double TZintarLiquidIndicator::Theta() const { return AngleRadians(indicatorAngle_); }

bool TZintarLiquidIndicator::event(QEvent *event)
{
    if (event->type() == RefreshEvent) {
        Rebuild();
        return true;
    }
    return QWidget::event(event);
}

void TZintarLiquidIndicator::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (!IsLoading())
        emit OnResize();
    const double theta = Theta();
    if (std::fabs(std::sin(theta)) < 0.0001) {
        // Lying flat: the indicator follows the control.
        indicatorHeight_ = height();
        indicatorWidth_ = width();
        UpdateWindowRegion();
        PostRefresh();
    } else if (std::fabs(std::cos(theta)) < 0.0001) {
        // Standing upright: the same with width and height exchanged.
        indicatorHeight_ = width();
        indicatorWidth_ = height();
        UpdateWindowRegion();
        Rebuild();
    } else {
        // At any other angle the control keeps the size the indicator needs.
        ResizeToBoundingBox();
        InvalidateParent();
        PostRefresh();
    }
}

void TZintarLiquidIndicator::enterEvent(QEnterEvent *event)
{
    mouseInside_ = true;
    PostRefresh();
    QWidget::enterEvent(event);
    if (onMouseEnter_)
        onMouseEnter_(this);
}

void TZintarLiquidIndicator::leaveEvent(QEvent *event)
{
    mouseInside_ = false;
    PostRefresh();
    QWidget::leaveEvent(event);
    if (onMouseExit_)
        onMouseExit_(this);
}

void TZintarLiquidIndicator::mousePressEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    emit OnMouseDown(event->button(), event->modifiers(), at.x(), at.y());
}

void TZintarLiquidIndicator::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    emit OnMouseMove(event->modifiers(), at.x(), at.y());
}

void TZintarLiquidIndicator::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    emit OnMouseUp(event->button(), event->modifiers(), at.x(), at.y());
}

// --- drawing -------------------------------------------------------------------------------

void TZintarLiquidIndicator::Place(QPoint *points, int count) const
{
    RotatePoints(points, count, Theta(), QPoint(indicatorWidth_ / 2, indicatorHeight_ / 2));
    const QPoint shift((width() - indicatorWidth_) / 2, (height() - indicatorHeight_) / 2);
    for (int i = 0; i < count; ++i)
        points[i] += shift;
}

void TZintarLiquidIndicator::FillRegion(QPainter &painter, const QRegion &region, TColor colour) const
{
    // One fill through the region as a clip, as DrawMaterialIn draws: a fill for each of its many
    // small rectangles costs several times as much at every tick.
    painter.save();
    painter.setClipRegion(region);
    painter.fillRect(region.boundingRect(), ToQColor(colour));
    painter.restore();
}

void TZintarLiquidIndicator::DrawMaterial(QPainter &painter, const QImage &material, TZnMaterialMode mode) const
{
    if (mode == mmStretch) {
        painter.drawImage(image_.rect(), material);
        return;
    }
    const int bw = material.width();
    const int bh = material.height();
    if (bw == 0 || bh == 0)
        return;
    for (int i = 0; i <= image_.width() / bw; ++i) {
        for (int j = 0; j <= image_.height() / bh; ++j)
            painter.drawImage(i * bw, j * bh, material);
    }
}

void TZintarLiquidIndicator::DrawMaterialIn(QPainter &painter, const QRegion &region, const QImage &material,
                                            TZnMaterialMode mode) const
{
    // save/restore rather than switching clipping off: a clip region set after
    // setClipping(false) is not applied.
    painter.save();
    painter.setClipRegion(region);
    DrawMaterial(painter, material, mode);
    painter.restore();
}

void TZintarLiquidIndicator::DrawBand(QPainter &painter, QPoint *band, bool light)
{
    Place(band, 4);
    const QRegion region = PolygonRegion(band, 4);
    if (visibleRegion_)
        *visibleRegion_ |= region;
    if (backMaterial_.width() != 0) {
        DrawMaterialIn(painter, region, light ? lightMaterial_ : darkMaterial_, materialMode_);
    } else {
        FillRegion(painter, region, light ? LightenColor(bevelColor_) : DarkenColor(bevelColor_));
    }
}

void TZintarLiquidIndicator::DrawBevel(QPainter &painter, TZnBevelKind kind, int inset, int width, LightSector sector)
{
    const int iw = indicatorWidth_;
    const int ih = indicatorHeight_;
    const int k = inset;
    const int v = width;
    enum { Top, Left, Bottom, Right };
    QPoint bands[4][4] = {
        {{k, k}, {iw - k, k}, {iw - v - k, v + k}, {v + k, v + k}},
        {{k, k}, {k, ih - k}, {v + k, ih - v - k}, {v + k, v + k}},
        {{k, ih - k}, {v + k, ih - v - k}, {iw - v - k, ih - v - k}, {iw - k, ih - k}},
        {{iw - k, ih - k}, {iw - v - k, ih - v - k}, {iw - v - k, v + k}, {iw - k, k}},
    };
    // The two bands facing the top left of the screen come first; raised bevels light them.
    std::array<int, 4> order;
    switch (sector) {
    case LightSector::Upright: order = {Top, Left, Bottom, Right}; break;
    case LightSector::LeftTurned: order = {Top, Right, Left, Bottom}; break;
    case LightSector::UpsideDown: order = {Bottom, Right, Top, Left}; break;
    case LightSector::RightTurned: order = {Left, Bottom, Right, Top}; break;
    }
    const bool raised = kind == bkUP;
    for (int i = 0; i < 4; ++i)
        DrawBand(painter, bands[order[static_cast<size_t>(i)]], raised == (i < 2));
}

void TZintarLiquidIndicator::RebuildImage()
{
    visibleRegion_.reset();
    if (transparentMode_ != tmNone)
        visibleRegion_.emplace();
    lit_.Clear();
    unlit_.Clear();

    const int iw = indicatorWidth_;
    const int ih = indicatorHeight_;
    const int n = signNumber_;
    int off = indicatorGap_;
    if (outerBevel_ != bkNone)
        off += outerBevelWidth_;
    if (innerBevel_ != bkNone)
        off += innerBevelWidth_;
    int ch = ih - 2 * off;
    if (ch < 1 || ch > ih)
        ch = ih;
    int cw = (iw - 2 * off) / n;
    if (cw < 1 || cw > iw / n)
        cw = iw / n;

    const std::vector<LcdCell> cells = BuildCellList(indicatorBytes_, n, indicatorKind_);
    const CellShapeBuilder builder(indicatorKind_, indicatorStyle_, HoverWidth(), QSize(cw, ch));
    for (int k = 0; k < n; ++k) {
        const LcdCell &cell = cells[static_cast<size_t>(k)];
        builder.BuildCellShapes(QRect(k * cw, 0, cw, ch), cell.ch, cell.point, lit_, unlit_);
    }
    for (PolygonSet *set : {&lit_, &unlit_}) {
        set->Translate(off, off);
        Place(set->Points().data(), static_cast<int>(set->Points().size()));
    }

    if (image_.size() != size())
        image_ = QImage(size(), QImage::Format_RGB32);
    if (image_.isNull())
        return;

    QPainter painter(&image_);
    if (backMaterial_.width() != 0)
        DrawMaterial(painter, backMaterial_, materialMode_);
    else
        painter.fillRect(image_.rect(), ToQColor(backColor_));

    const LightSector sector = LightingSector(Theta());
    if (outerBevel_ != bkNone)
        DrawBevel(painter, outerBevel_, 0, outerBevelWidth_, sector);
    if (innerBevel_ != bkNone)
        DrawBevel(painter, innerBevel_, outerBevel_ == bkNone ? 0 : outerBevelWidth_, innerBevelWidth_, sector);

    if (!lit_.IsEmpty()) {
        const QRegion region = lit_.Region();
        if (visibleRegion_)
            *visibleRegion_ |= region;
        if (foreMaterial_.width() == 0 || HoverColour()) {
            FillRegion(painter, region, HoverColour() ? numberForeColor1_ : numberForeColor_);
        } else {
            DrawMaterialIn(painter, region, foreMaterial_, foreMaterialMode_);
        }
    }

    if (!unlit_.IsEmpty()) {
        const QRegion region = unlit_.Region();
        if (transparentMode_ == tmBackOnly)
            *visibleRegion_ |= region;
        if (backMaterial_.width() != 0) {
            DrawMaterialIn(painter, region, shadowMaterial_, materialMode_);
        } else {
            FillRegion(painter, region, numberBackColor_);
        }
    }
}

void TZintarLiquidIndicator::DrawSelf()
{
    QPainter painter(this);
    if (visibleRegion_)
        painter.setClipRegion(*visibleRegion_);
    painter.drawImage(0, 0, image_);
}

void TZintarLiquidIndicator::paintEvent(QPaintEvent *) { DrawSelf(); }

void TZintarLiquidIndicator::UpdateWindowRegion()
{
    QPoint corners[4] = {{0, 0}, {indicatorWidth_, 0}, {indicatorWidth_, indicatorHeight_}, {0, indicatorHeight_}};
    Place(corners, 4);
    if (parentWidget())
        setMask(PolygonRegion(corners, 4));
}
