#include "app/TLabel.h"

#include <QMouseEvent>

TLabel::TLabel(QWidget *parent) : QLabel(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    applyColours();
}

void TLabel::setCaption(const QString &caption)
{
    if (caption == text())
        return;
    setText(caption);
    fitToText();
}

void TLabel::setColor(TColor colour)
{
    if (colour == color_)
        return;
    color_ = colour;
    applyColours();
}

void TLabel::setFontColor(TColor colour)
{
    if (colour == fontColor_)
        return;
    fontColor_ = colour;
    applyColours();
}

void TLabel::setTransparent(bool transparent)
{
    if (transparent == transparent_)
        return;
    transparent_ = transparent;
    applyColours();
}

void TLabel::setAutoSize(bool autoSize)
{
    if (autoSize == autoSize_)
        return;
    autoSize_ = autoSize;
    fitToText();
}

void TLabel::applyColours()
{
    QPalette colours = palette();
    // A label left at clDefault is painted with the default's low 24 bits, black: on the window's
    // dark panel it then shows no box behind its text.
    colours.setColor(QPalette::Window, color_ == clDefault ? QColor(Qt::black) : ToQColor(color_));
    colours.setColor(QPalette::WindowText, ToQColor(fontColor_));
    setPalette(colours);
    setAutoFillBackground(!transparent_);
}

// An auto-sized label keeps its left and top edges and takes its text's size.
void TLabel::fitToText()
{
    if (autoSize_)
        resize(sizeHint());
}

void TLabel::mousePressEvent(QMouseEvent *event)
{
    pressed_ = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void TLabel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit OnClick();
}
