#pragma once

#include "recorder/RecorderParts.h"

#include <QTimer>

// The controller's timer on a QTimer, for the window and the command line alike.
class TimerAdapter : public TimerOps {
public:
    explicit TimerAdapter(QTimer &timer) : timer_(timer) {}
    // Enabling a running timer leaves its ticks as they are.
    void setEnabled(bool enabled) override
    {
        if (!enabled)
            timer_.stop();
        else if (!timer_.isActive())
            timer_.start();
    }
    bool Enabled() const override { return timer_.isActive(); }

private:
    QTimer &timer_;
};
