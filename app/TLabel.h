#pragma once

#include "base/Colour.h"

#include <QLabel>

// A label as the window uses them: its own background and font colours (or transparent), a
// caption that can size the label to its text from the left edge, and a click event.
class TLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
    Q_PROPERTY(uint Color READ Color WRITE setColor)
    Q_PROPERTY(uint FontColor READ FontColor WRITE setFontColor)
    Q_PROPERTY(bool Transparent READ Transparent WRITE setTransparent)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE setAutoSize)
public:
    explicit TLabel(QWidget *parent = nullptr);

    QString Caption() const { return text(); }
    void setCaption(const QString &caption);
    TColor Color() const { return color_; }
    void setColor(TColor colour);
    TColor FontColor() const { return fontColor_; }
    void setFontColor(TColor colour);
    bool Transparent() const { return transparent_; }
    void setTransparent(bool transparent);
    bool AutoSize() const { return autoSize_; }
    void setAutoSize(bool autoSize);

signals:
    void OnClick();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void applyColours();
    void fitToText();

    TColor color_ = clBtnFace;
    TColor fontColor_ = clWindowText;
    bool transparent_ = false;
    bool autoSize_ = true;
    bool pressed_ = false;
};
