#pragma once

// The recorder's parts as the command line has them: the position display and the gauges feed
// the progress report, the labels only remember their text, and the erase run-down does not wait.

#include "cli/ProgressReport.h"
#include "media/SoundCards.h"
#include "recorder/RecorderParts.h"

class ProgressDisplay : public PositionDisplayOps {
public:
    explicit ProgressDisplay(ProgressReport &report) : report_(report) {}
    void setIndicatorstring(const QString &text) override
    {
        position_ = text.toInt();
        report_.Position(position_);
    }
    // The last position shown.
    int Position() const { return position_; }

private:
    ProgressReport &report_;
    int position_ = 0;
};

// Only the channel being recorded has its gauge moved by the ticks.
class ProgressGauge : public GaugeOps {
public:
    explicit ProgressGauge(ProgressReport &report) : report_(report) {}
    void setProgress(int progress) override { report_.Gauge(progress); }

private:
    ProgressReport &report_;
};

class QuietLabel : public LabelOps {
public:
    void setFontColor(TColor) override {}
    void setCaption(const QString &caption) override { caption_ = caption; }
    const QString &Caption() const { return caption_; }

private:
    QString caption_;
};

class NoPanel : public PanelOps {
public:
    int Width() const override { return 0; }
    int Height() const override { return 0; }
};

// The platform without a display: the same sound output count, no pause for the erase run-down,
// and a message that is kept to be reported as a failure.
class ConsolePlatform : public PlatformOps {
public:
    unsigned waveOutGetNumDevs() override { return ::waveOutGetNumDevs(); }
    void Sleep(unsigned) override {}
    void ShowMessage(const QString &text) override { message_ = text; }
    const QString &Message() const { return message_; }

private:
    QString message_;
};
