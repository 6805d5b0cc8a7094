#pragma once

#include "base/Colour.h"
#include "base/Component.h"

#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <optional>

// A push button that lies flat on whatever its parent shows behind it. It draws itself into an
// off-screen bitmap filled with the parent's colour and copies it with that colour left out, so
// the parent's own painting shows through. Hovering raises a thin 3D frame; holding the left
// button sinks it and moves the picture down and right by 2 pixels.
class TkwFlatBtn : public QWidget, public TComponent {
    Q_OBJECT
    Q_PROPERTY(QPixmap Glyph READ Glyph WRITE setGlyph)
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
    Q_PROPERTY(bool DrawFrame READ DrawFrame WRITE setDrawFrame)
    Q_PROPERTY(uint FrameColor READ FrameColor WRITE setFrameColor)
    Q_PROPERTY(int NumGlyphs READ NumGlyphs WRITE setNumGlyphs)
    Q_PROPERTY(TGlyphLayout GlyphLayout READ GlyphLayout WRITE setGlyphLayout)
    Q_PROPERTY(TButtonOrientation ButtonOrientation READ ButtonOrientation WRITE setButtonOrientation)
    Q_PROPERTY(uint A3DTopCl READ A3DTopCl WRITE setA3DTopCl)
    Q_PROPERTY(uint A3DBotCl READ A3DBotCl WRITE setA3DBotCl)
    Q_PROPERTY(bool Elliptic READ Elliptic WRITE setElliptic)

public:
    enum TGlyphLayout { glGlyphLeft, glGlyphRight, glGlyphTop, glGlyphBottom };
    Q_ENUM(TGlyphLayout)
    enum TButtonOrientation { boHorizontal, boVertical };
    Q_ENUM(TButtonOrientation)

    explicit TkwFlatBtn(QWidget *parent = nullptr);

    QPixmap Glyph() const { return QPixmap::fromImage(glyph_); }
    // Copies the picture; a strip whose width is 1 to 4 times its height sets NumGlyphs.
    void setGlyph(const QPixmap &glyph);
    void setGlyph(const QImage &glyph);
    QString Caption() const { return caption_; }
    void setCaption(const QString &caption);
    bool DrawFrame() const { return drawFrame_; }
    void setDrawFrame(bool draw);
    TColor FrameColor() const { return frameColor_; }
    void setFrameColor(TColor colour);
    int NumGlyphs() const { return numGlyphs_; }
    void setNumGlyphs(int count);
    TGlyphLayout GlyphLayout() const { return glyphLayout_; }
    void setGlyphLayout(TGlyphLayout layout);
    TButtonOrientation ButtonOrientation() const { return orientation_; }
    void setButtonOrientation(TButtonOrientation orientation);
    TColor A3DTopCl() const { return topColour_; }
    void setA3DTopCl(TColor colour);
    TColor A3DBotCl() const { return bottomColour_; }
    void setA3DBotCl(TColor colour);
    bool Elliptic() const { return elliptic_; }
    void setElliptic(bool elliptic);

    bool HeldDown() const { return heldDown_; }
    bool MouseInside() const { return mouseInside_; }

    // What the button copies to the screen: its off-screen bitmap with the key colour left out.
    QImage RenderImage();

    // The accelerator click: true when the key is the caption's accelerator letter and the
    // button is enabled (it is then clicked).
    bool DialogChar(QChar key);

signals:
    void OnClick();
    void OnDblClick();
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
    void OnMouseMove(Qt::KeyboardModifiers modifiers, int x, int y);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void Loaded() override;

private:
    enum class Look { Flat, Raised, Sunken };
    enum class Align { Centre, Left, Right };

    void invalidate();
    void pointerEntered();
    void pointerLeft();
    void buttonDown(QMouseEvent *event);
    void click();
    void chooseImage();
    void layOut(const QFontMetrics &metrics);
    void drawCaption(QPainter &painter, const QRect &rect, const QColor &colour) const;
    void drawFrame(QPainter &painter, int x1, int y1, int x2, int y2, TColor colour) const;
    void drawRoundedFrame(QPainter &painter, TColor light, TColor dark, std::optional<TColor> inner) const;
    void drawImage(QPainter &painter, int x, int y) const;
    void updateShortcut();

    QImage glyph_;
    QString caption_;
    bool drawFrame_ = false;
    TColor frameColor_ = clBtnShadow;
    int numGlyphs_ = 1;
    TGlyphLayout glyphLayout_ = glGlyphLeft;
    TButtonOrientation orientation_ = boHorizontal;
    TColor topColour_ = clBtnHighlight;
    TColor bottomColour_ = clBtnShadow;
    bool elliptic_ = true;

    bool heldDown_ = false;
    bool mouseInside_ = false;
    // Where the pointer really is, so enter and leave are seen once each, also while the
    // mouse is captured during a press.
    bool pointerInside_ = false;
    // A left press on the button that a release inside will turn into a click.
    bool clickArmed_ = false;

    QImage bitmap_;
    QImage image_;
    int corner_ = 0;
    QRect captionRect_;
    Align captionAlign_ = Align::Centre;
    int glyphX_ = 0;
    int glyphY_ = 0;
    int shortcutId_ = 0;
};
