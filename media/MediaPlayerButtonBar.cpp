#include "media/MediaPlayer.h"

// The player's button bar: which buttons show and may be pressed, their layout, painting, and
// the mouse, keyboard and focus handling that turns them into clicks.

#include "base/ExceptionSink.h"
#include "media/MediaPlayerGlyphs.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <qdrawutil.h>

namespace {

const char *const glyphNames[TMediaPlayer::buttonCount] = {
    "MPPLAY", "MPPAUSE", "MPSTOP", "MPNEXT", "MPPREV", "MPSTEP", "MPBACK", "MPRECORD", "MPEJECT",
};

// A button keeps this much room around its glyph.
constexpr int glyphMarginX = 8;
constexpr int glyphMarginY = 4;

QSize GlyphSize()
{
    QSize size;
    for (const char *name : glyphNames)
        size = size.expandedTo(MediaPlayerGlyph(QStringLiteral("EN_") + name).size());
    return size;
}

} // namespace

void TMediaPlayer::AddPlayableButtons()
{
    if (playCapable_)
        autoEnabledButtons_ |= Bit(btPlay);
    if (recordCapable_)
        autoEnabledButtons_ |= Bit(btRecord);
}

void TMediaPlayer::AdjustAfterClick(TMPBtnType button)
{
    switch (button) {
    case btPlay:
    case btRecord:
        autoEnabledButtons_ &= TButtonSet(~(Bit(btPlay) | Bit(btRecord)));
        autoEnabledButtons_ |= Bit(btPause) | Bit(btStop);
        break;
    case btPause: AddPlayableButtons(); break;
    default:
        AddPlayableButtons();
        autoEnabledButtons_ &= TButtonSet(~(Bit(btPause) | Bit(btStop)));
        break;
    }
}

void TMediaPlayer::CopyToButtons(TButtonSet buttons, bool Button::*flag)
{
    for (int i = 0; i < buttonCount; ++i)
        buttons_[i].*flag = (buttons >> i) & 1;
}

void TMediaPlayer::CopyAutoEnabled() { CopyToButtons(autoEnabledButtons_, &Button::autoEnabled); }

void TMediaPlayer::setAutoEnable(bool autoEnable)
{
    if (autoEnable_ == autoEnable)
        return;
    autoEnable_ = autoEnable;
    update();
}

void TMediaPlayer::setVisibleButtons(TButtonSet buttons)
{
    buttons &= allButtons;
    if (visibleButtons_ == buttons)
        return;
    visibleButtons_ = buttons;
    CopyToButtons(buttons, &Button::visible);
    if (!buttons_[focusedButton_].visible)
        MoveFocus(1);
    LayOutButtons();
    update();
}

void TMediaPlayer::setEnabledButtons(TButtonSet buttons)
{
    buttons &= allButtons;
    if (enabledButtons_ == buttons)
        return;
    enabledButtons_ = buttons;
    CopyToButtons(buttons, &Button::enabled);
    update();
}

void TMediaPlayer::setColoredButtons(TButtonSet buttons)
{
    buttons &= allButtons;
    if (coloredButtons_ == buttons)
        return;
    coloredButtons_ = buttons;
    CopyToButtons(buttons, &Button::colored);
    update();
}

void TMediaPlayer::setTabStop(bool tabStop) { setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::NoFocus); }

bool TMediaPlayer::Usable(int button) const
{
    return autoEnable_ ? buttons_[button].autoEnabled : buttons_[button].enabled;
}

// Visible buttons side by side, of equal width, neighbours sharing their edge pixel.
void TMediaPlayer::LayOutButtons()
{
    int visible = 0;
    for (const Button &button : buttons_)
        visible += button.visible ? 1 : 0;
    const int count = std::max(visible, 1);
    const QSize glyph = GlyphSize();
    // While the window reads its description, the stored size comes before the stored buttons:
    // the size that fits the buttons is only known once loading ends.
    buttonsMinimum_ = QSize(count * (glyph.width() + glyphMarginX - 1) + 1, glyph.height() + glyphMarginY);
    if (!IsLoading())
        ApplySizeLimits();
    const int width = (this->width() - 1) / count + 1;
    int left = 0;
    for (Button &button : buttons_) {
        if (!button.visible) {
            button.rect = QRect();
            continue;
        }
        button.rect = QRect(left, 0, width, height());
        left += width - 1;
    }
}
int TMediaPlayer::ButtonAt(const QPoint &point) const
{
    for (int i = 0; i < buttonCount; ++i) {
        if (buttons_[i].visible && buttons_[i].rect.contains(point))
            return i;
    }
    return -1;
}

void TMediaPlayer::MoveFocus(int step)
{
    for (int i = 1; i <= buttonCount; ++i) {
        const int candidate = (focusedButton_ + step * i + buttonCount * buttonCount) % buttonCount;
        if (buttons_[candidate].visible) {
            focusedButton_ = candidate;
            return;
        }
    }
}

void TMediaPlayer::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    LayOutButtons();
}
void TMediaPlayer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().button());
    for (int i = 0; i < buttonCount; ++i) {
        const Button &button = buttons_[i];
        if (!button.visible)
            continue;
        const bool sunken = pressedButton_ == i && pressedInside_;
        qDrawWinButton(&painter, button.rect, palette(), sunken, &palette().button());
        const char *prefix = !isEnabled() || !Usable(i) ? "DI_" : button.colored ? "CL_" : "EN_";
        const QImage glyph = MediaPlayerGlyph(QLatin1String(prefix) + QLatin1String(glyphNames[i]));
        QPoint at = button.rect.center() - QPoint(glyph.width() / 2, glyph.height() / 2) + QPoint(1, 1);
        if (sunken)
            at += QPoint(1, 1);
        painter.drawImage(at, glyph);
        if (hasFocus() && focusedButton_ == i) {
            painter.setPen(QPen(palette().windowText().color(), 1, Qt::DotLine));
            painter.drawRect(button.rect.adjusted(3, 3, -4, -4));
        }
    }
}

void TMediaPlayer::mousePressEvent(QMouseEvent *event)
{
    const int button = ButtonAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || button < 0 || !isEnabled() || !Usable(button))
        return;
    // Qt keeps the mouse with this widget until the release.
    pressedButton_ = button;
    pressedInside_ = true;
    focusedButton_ = button;
    update();
}

void TMediaPlayer::mouseMoveEvent(QMouseEvent *event)
{
    if (pressedButton_ < 0)
        return;
    const bool inside = buttons_[pressedButton_].rect.contains(event->position().toPoint());
    if (inside != pressedInside_) {
        pressedInside_ = inside;
        update();
    }
}

void TMediaPlayer::mouseReleaseEvent(QMouseEvent *event)
{
    if (pressedButton_ < 0 || event->button() != Qt::LeftButton)
        return;
    const auto button = TMPBtnType(pressedButton_);
    const bool inside = buttons_[button].rect.contains(event->position().toPoint());
    pressedButton_ = -1;
    pressedInside_ = false;
    update();
    if (inside)
        RunAtBoundary([this, button] { Click(button); });
}
void TMediaPlayer::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space: {
        const auto button = TMPBtnType(focusedButton_);
        if (!buttons_[button].enabled)
            return;
        RunAtBoundary([this, button] {
            const TMPBtnType counted = FireClick(button);
            // The keyboard adjusts the buttons whatever the result and the device.
            if (autoEnable_) {
                AdjustAfterClick(counted);
                CopyAutoEnabled();
                update();
            }
        });
        return;
    }
    case Qt::Key_Left:
        MoveFocus(-1);
        update();
        return;
    case Qt::Key_Right:
        MoveFocus(1);
        update();
        return;
    default: QWidget::keyPressEvent(event);
    }
}

void TMediaPlayer::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    update();
    if (OnEnter)
        RunAtBoundary([this] { OnEnter(this); });
}

void TMediaPlayer::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
    if (OnExit)
        RunAtBoundary([this] { OnExit(this); });
}

void TMediaPlayer::contextMenuEvent(QContextMenuEvent *event)
{
    bool handled = false;
    if (OnContextPopup)
        RunAtBoundary([&] { OnContextPopup(this, event->pos(), handled); });
    if (!handled && popupMenu_ != nullptr)
        popupMenu_->popup(event->globalPos());
}
