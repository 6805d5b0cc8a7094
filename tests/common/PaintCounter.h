#pragma once

#include <QEvent>
#include <QObject>

// Counts the paint events a widget receives; install it with installEventFilter.
class PaintCounter : public QObject {
public:
    long paints = 0;

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};
