#pragma once

#include "base/Colour.h"
#include "base/Component.h"
#include "controls/LcdPolygonSet.h"
#include "controls/LcdRotation.h"
#include "controls/ZnTypes.h"

#include <QEvent>
#include <QImage>
#include <QRegion>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

// A liquid-crystal display imitation: a row of character cells drawn as seven- or nine-segment
// digits or 5x7 dot matrices, lit elements in one colour and unlit ones faintly in another,
// inside optional bevels, optionally rotated, textured and partly transparent. The picture is
// prepared off-screen whenever the model changes; painting only copies it.
class TZintarLiquidIndicator : public QWidget, public TComponent {
    Q_OBJECT
    Q_PROPERTY(Zn::TZnColorScheme ColorScheme READ ColorScheme WRITE setColorScheme)
    Q_PROPERTY(int SignNumber READ SignNumber WRITE setSignNumber)
    Q_PROPERTY(int IndicatorWidth READ IndicatorWidth WRITE setIndicatorWidth)
    Q_PROPERTY(int IndicatorHeight READ IndicatorHeight WRITE setIndicatorHeight)
    Q_PROPERTY(int IndicatorAngle READ IndicatorAngle WRITE setIndicatorAngle)
    Q_PROPERTY(int IndicatorGap READ IndicatorGap WRITE setIndicatorGap)
    Q_PROPERTY(QString Indicatorstring READ Indicatorstring WRITE setIndicatorstring)
    Q_PROPERTY(Zn::TZnIndicatorKind IndicatorKind READ IndicatorKind WRITE setIndicatorKind)
    Q_PROPERTY(Zn::TZnBevelKind InnerBevel READ InnerBevel WRITE setInnerBevel)
    Q_PROPERTY(Zn::TZnBevelKind OuterBevel READ OuterBevel WRITE setOuterBevel)
    Q_PROPERTY(int InnerBevelWidth READ InnerBevelWidth WRITE setInnerBevelWidth)
    Q_PROPERTY(int OuterBevelWidth READ OuterBevelWidth WRITE setOuterBevelWidth)
    Q_PROPERTY(uint BevelColor READ BevelColor WRITE setBevelColor)
    Q_PROPERTY(uint BackColor READ BackColor WRITE setBackColor)
    Q_PROPERTY(uint NumberForeColor READ NumberForeColor WRITE setNumberForeColor)
    Q_PROPERTY(uint NumberForeColor1 READ NumberForeColor1 WRITE setNumberForeColor1)
    Q_PROPERTY(uint NumberBackColor READ NumberBackColor WRITE setNumberBackColor)
    Q_PROPERTY(Zn::TZnIndicatorStyle IndicatorStyle READ IndicatorStyle WRITE setIndicatorStyle)
    Q_PROPERTY(Zn::TZnMouseAction MouseAction READ MouseAction WRITE setMouseAction)
    Q_PROPERTY(Zn::TZnTransparentMode TransparentMode READ TransparentMode WRITE setTransparentMode)
    Q_PROPERTY(QImage BackMaterial READ BackMaterial WRITE setBackMaterial)
    Q_PROPERTY(QImage ForeMaterial READ ForeMaterial WRITE setForeMaterial)
    Q_PROPERTY(Zn::TZnMaterialShadowMode MaterialShadowMode READ MaterialShadowMode WRITE setMaterialShadowMode)
    Q_PROPERTY(Zn::TZnMaterialMode MaterialMode READ MaterialMode WRITE setMaterialMode)
    Q_PROPERTY(Zn::TZnMaterialMode ForeMaterialMode READ ForeMaterialMode WRITE setForeMaterialMode)

public:
    using TZnColorScheme = Zn::TZnColorScheme;
    using TZnIndicatorKind = Zn::TZnIndicatorKind;
    using TZnBevelKind = Zn::TZnBevelKind;
    using TZnIndicatorStyle = Zn::TZnIndicatorStyle;
    using TZnMouseAction = Zn::TZnMouseAction;
    using TZnTransparentMode = Zn::TZnTransparentMode;
    using TZnMaterialShadowMode = Zn::TZnMaterialShadowMode;
    using TZnMaterialMode = Zn::TZnMaterialMode;
    using enum Zn::TZnColorScheme;
    using enum Zn::TZnIndicatorKind;
    using enum Zn::TZnBevelKind;
    using enum Zn::TZnIndicatorStyle;
    using enum Zn::TZnMouseAction;
    using enum Zn::TZnTransparentMode;
    using enum Zn::TZnMaterialShadowMode;
    using enum Zn::TZnMaterialMode;

    using TMouseInOutEvent = std::function<void(TZintarLiquidIndicator *sender)>;

    // Posted to itself to rebuild the picture from the message loop.
    static constexpr QEvent::Type RefreshEvent = static_cast<QEvent::Type>(0xB065);

    explicit TZintarLiquidIndicator(QWidget *parent = nullptr);
    ~TZintarLiquidIndicator() override;

    TZnColorScheme ColorScheme() const { return colorScheme_; }
    int SignNumber() const { return signNumber_; }
    int IndicatorWidth() const { return indicatorWidth_; }
    int IndicatorHeight() const { return indicatorHeight_; }
    int IndicatorAngle() const { return indicatorAngle_; }
    int IndicatorGap() const { return indicatorGap_; }
    QString Indicatorstring() const { return indicatorString_; }
    TZnIndicatorKind IndicatorKind() const { return indicatorKind_; }
    TZnBevelKind InnerBevel() const { return innerBevel_; }
    TZnBevelKind OuterBevel() const { return outerBevel_; }
    int InnerBevelWidth() const { return innerBevelWidth_; }
    int OuterBevelWidth() const { return outerBevelWidth_; }
    TColor BevelColor() const { return bevelColor_; }
    TColor BackColor() const { return backColor_; }
    TColor NumberForeColor() const { return numberForeColor_; }
    TColor NumberForeColor1() const { return numberForeColor1_; }
    TColor NumberBackColor() const { return numberBackColor_; }
    TZnIndicatorStyle IndicatorStyle() const { return indicatorStyle_; }
    TZnMouseAction MouseAction() const { return mouseAction_; }
    TZnTransparentMode TransparentMode() const { return transparentMode_; }
    QImage BackMaterial() const { return backMaterial_; }
    QImage ForeMaterial() const { return foreMaterial_; }
    TZnMaterialShadowMode MaterialShadowMode() const { return materialShadowMode_; }
    TZnMaterialMode MaterialMode() const { return materialMode_; }
    TZnMaterialMode ForeMaterialMode() const { return foreMaterialMode_; }

    virtual void setSignNumber(int value);
    virtual void setIndicatorWidth(int value);
    virtual void setIndicatorHeight(int value);
    virtual void setIndicatorAngle(int value);
    virtual void setIndicatorGap(int value);
    virtual void setIndicatorstring(const QString &value);
    virtual void setIndicatorKind(TZnIndicatorKind value);
    virtual void setInnerBevel(TZnBevelKind value);
    virtual void setOuterBevel(TZnBevelKind value);
    virtual void setInnerBevelWidth(int value);
    virtual void setOuterBevelWidth(int value);
    virtual void setBevelColor(TColor value);
    virtual void setBackColor(TColor value);
    virtual void setNumberForeColor(TColor value);
    virtual void setNumberForeColor1(TColor value);
    virtual void setNumberBackColor(TColor value);
    virtual void setIndicatorStyle(TZnIndicatorStyle value);
    virtual void setMouseAction(TZnMouseAction value);
    virtual void setTransparentMode(TZnTransparentMode value);
    virtual void setColorScheme(TZnColorScheme value);
    virtual void setBackMaterial(const QImage &value);
    virtual void setForeMaterial(const QImage &value);
    virtual void setMaterialShadowMode(TZnMaterialShadowMode value);
    virtual void setMaterialMode(TZnMaterialMode value);
    virtual void setForeMaterialMode(TZnMaterialMode value);

    const TMouseInOutEvent &onMouseEnter() const { return onMouseEnter_; }
    void setOnMouseEnter(TMouseInOutEvent handler) { onMouseEnter_ = std::move(handler); }
    const TMouseInOutEvent &onMouseExit() const { return onMouseExit_; }
    void setOnMouseExit(TMouseInOutEvent handler) { onMouseExit_ = std::move(handler); }

    // Bevel shades: each of red, green and blue moved by 32 and kept within 0..255.
    static TColor LightenColor(TColor colour);
    static TColor DarkenColor(TColor colour);

    // Derives the dark, light and shadow variants of BackMaterial.
    void PrepareMaterials();
    // Recomputes the element sets, the off-screen picture and the visible region.
    void RebuildImage();
    // Shapes the window to the turned indicator rectangle.
    void UpdateWindowRegion();

    // What the last rebuild prepared.
    const QImage &Image() const { return image_; }
    const PolygonSet &LitSet() const { return lit_; }
    const PolygonSet &UnlitSet() const { return unlit_; }
    const std::optional<QRegion> &VisibleRegion() const { return visibleRegion_; }
    const QImage &DarkMaterial() const { return darkMaterial_; }
    const QImage &LightMaterial() const { return lightMaterial_; }
    const QImage &ShadowMaterial() const { return shadowMaterial_; }

signals:
    // The framework's events: every move over the control, pressed or not, and each resize
    // (not while a stored form is read), before the indicator follows the new size.
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
    void OnMouseMove(Qt::KeyboardModifiers modifiers, int x, int y);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
    void OnResize();

protected:
    void Loaded() override;
    virtual void DrawSelf();

    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool IsLoaded() const { return !IsLoading(); }
    bool HoverColour() const;
    bool HoverWidth() const;
    double Theta() const;
    void Rebuild();
    template <typename T>
    void StoreAndRebuild(T &field, T value);
    void PostRefresh();
    void ResizeToBoundingBox();
    void InvalidateParent();
    // Shifts a set of points in the unrotated indicator rectangle to the control: turned about
    // the rectangle's centre and centred in the control.
    void Place(QPoint *points, int count) const;
    void DrawMaterial(QPainter &painter, const QImage &material, TZnMaterialMode mode) const;
    void DrawMaterialIn(QPainter &painter, const QRegion &region, const QImage &material, TZnMaterialMode mode) const;
    void DrawBevel(QPainter &painter, TZnBevelKind kind, int inset, int width, LightSector sector);
    void DrawBand(QPainter &painter, QPoint *band, bool light);
    void FillRegion(QPainter &painter, const QRegion &region, TColor colour) const;

    TZnColorScheme colorScheme_ = csSilver;
    int signNumber_ = 10;
    int indicatorWidth_ = 172;
    int indicatorHeight_ = 36;
    int indicatorAngle_ = 0;
    int indicatorGap_ = 2;
    QString indicatorString_;
    QByteArray indicatorBytes_;
    TZnIndicatorKind indicatorKind_ = ik7segment;
    TZnBevelKind innerBevel_ = bkDown;
    TZnBevelKind outerBevel_ = bkUP;
    int innerBevelWidth_ = 2;
    int outerBevelWidth_ = 2;
    TColor bevelColor_ = 0xDDDDDD;
    TColor backColor_ = 0xDDDDDD;
    TColor numberForeColor_ = 0x363636;
    TColor numberForeColor1_ = 0x0000FF;
    TColor numberBackColor_ = 0xD3D3D3;
    TZnIndicatorStyle indicatorStyle_ = isNormal;
    TZnMouseAction mouseAction_ = maNone;
    TZnTransparentMode transparentMode_ = tmNone;
    TZnMaterialShadowMode materialShadowMode_ = msmDark;
    TZnMaterialMode materialMode_ = mmStretch;
    TZnMaterialMode foreMaterialMode_ = mmStretch;
    TMouseInOutEvent onMouseEnter_;
    TMouseInOutEvent onMouseExit_;

    bool mouseInside_ = false;
    QImage backMaterial_;
    QImage foreMaterial_;
    QImage darkMaterial_;
    QImage lightMaterial_;
    QImage shadowMaterial_;
    QImage image_;
    std::optional<QRegion> visibleRegion_;
    PolygonSet lit_;
    PolygonSet unlit_;
};
