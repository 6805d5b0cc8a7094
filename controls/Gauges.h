#pragma once

#include "base/Colour.h"
#include "base/Component.h"

#include <QImage>
#include <QWidget>
#include <cstdint>

// An off-screen bitmap that can take the size of another one.
class TBltBitmap : public QImage {
public:
    TBltBitmap() = default;
    void MakeLike(const QImage &other);
};

// Shows an integer value within a range as a percentage: a bar, a pie, a needle on a half dial,
// or only as text. A change that alters the picture repaints at once, while the caller waits,
// so a busy loop of Progress changes is seen step by step.
class TGauge : public QWidget, public TComponent {
    Q_OBJECT
    Q_PROPERTY(uint BackColor READ BackColor WRITE setBackColor)
    Q_PROPERTY(TBorderStyle BorderStyle READ BorderStyle WRITE setBorderStyle)
    Q_PROPERTY(uint ForeColor READ ForeColor WRITE setForeColor)
    Q_PROPERTY(TGaugeKind Kind READ Kind WRITE setKind)
    Q_PROPERTY(int MinValue READ MinValue WRITE setMinValue)
    Q_PROPERTY(int MaxValue READ MaxValue WRITE setMaxValue)
    Q_PROPERTY(int Progress READ Progress WRITE setProgress)
    Q_PROPERTY(bool ShowText READ ShowText WRITE setShowText)
    Q_PROPERTY(uint Color READ Color WRITE setColor)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE setParentColor)
    Q_PROPERTY(int Percent READ Percent)

public:
    enum TGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
    Q_ENUM(TGaugeKind)
    enum TBorderStyle { bsNone, bsSingle };
    Q_ENUM(TBorderStyle)

    explicit TGauge(QWidget *parent = nullptr);

    TColor BackColor() const { return backColor_; }
    void setBackColor(TColor colour);
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void setBorderStyle(TBorderStyle style);
    TColor ForeColor() const { return foreColor_; }
    void setForeColor(TColor colour);
    TGaugeKind Kind() const { return kind_; }
    void setKind(TGaugeKind kind);
    std::int32_t MinValue() const { return minValue_; }
    void setMinValue(std::int32_t value);
    std::int32_t MaxValue() const { return maxValue_; }
    void setMaxValue(std::int32_t value);
    std::int32_t Progress() const { return progress_; }
    // Clamps to the range; repaints only when Percent changes.
    void setProgress(std::int32_t value);
    bool ShowText() const { return showText_; }
    void setShowText(bool show);

    // Fills the area outside the dial of the pie and the needle; follows the parent's window
    // colour while ParentColor is set.
    TColor Color() const;
    void setColor(TColor colour);
    bool ParentColor() const { return parentColor_; }
    void setParentColor(bool parentColor);

    // The share of the range that Progress has reached, 0 to 100.
    int Percent() const;

    // The gauge's picture as it would be copied to the screen.
    QImage RenderPicture() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void Loaded() override;

private:
    QRect paintRect() const;
    void drawKind(QImage &overlay) const;
    void drawText(QImage &picture) const;
    void repaintNow();

    TColor backColor_ = clWhite;
    TBorderStyle borderStyle_ = bsSingle;
    TColor foreColor_ = clBlack;
    TGaugeKind kind_ = gkHorizontalBar;
    std::int32_t minValue_ = 0;
    std::int32_t maxValue_ = 100;
    std::int32_t progress_ = 0;
    bool showText_ = true;
    TColor color_ = clWhite;
    bool parentColor_ = true;
};
