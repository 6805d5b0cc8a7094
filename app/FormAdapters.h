#pragma once

// Connects the operations the recorder and the window's handlers use to the window's real components.

#include "app/TForm1.h"
#include "app/TLabel.h"
#include "app/TOpenDialog.h"
#include "base/Exception.h"
#include "controls/Gauges.h"
#include "controls/ZintarLiquidIndicator.h"
#include "media/MediaPlayer.h"
#include "recorder/RecorderParts.h"
#include "recorder/TimerAdapter.h"
#include "serial/ComPort.h"

#include <QFile>
#include <vector>

class ComPortAdapter : public SerialPortOps {
public:
    explicit ComPortAdapter(TComPort &port) : port_(port) {}
    void SendText(const std::string &text) override { port_.SendText(text); }
    std::vector<LineTrouble> WaitSent(int timeoutMs) override
    {
        const TComPort::SendState state = port_.WaitSent(timeoutMs);
        stalled_ = state == TComPort::SendState::Pending;
        switch (state) {
        case TComPort::SendState::Delivered: return {};
        case TComPort::SendState::Pending: return {{name(), LineTrouble::Stalled}};
        case TComPort::SendState::LineGone: return {{name(), LineTrouble::Gone}};
        }
        return {};
    }
    std::vector<QString> LostLines() override
    {
        const bool gone = port_.LineGone();
        const bool fresh = gone && !told_;
        told_ = gone;
        return fresh ? std::vector<QString>{name()} : std::vector<QString>{};
    }
    bool AnyLineLeft() const override { return !stalled_ && !port_.LineGone(); }
    void setCrashText(const std::string &text) override { port_.setCrashText(text); }

private:
    QString name() const { return QStringLiteral("COM") + QString::number(port_.ComNumber()); }

    TComPort &port_;
    bool told_ = false;
    bool stalled_ = false;
};

class MediaPlayerAdapter : public MediaPlayerOps {
public:
    explicit MediaPlayerAdapter(TMediaPlayer &player) : player_(player) {}
    std::string FileName() const override { return QFile::encodeName(player_.FileName()).toStdString(); }
    void setFileName(const std::string &path) override
    {
        player_.setFileName(QFile::decodeName(QByteArray::fromStdString(path)));
    }
    void OpenDevice() override { player_.OpenDevice(); }
    void CloseDevice() override { player_.CloseDevice(); }
    void setStepFrames(std::int32_t frames) override { player_.setStepFrames(frames); }
    void StepForward() override { player_.StepForward(); }
    bool NotifyRequest() const override { return player_.NotifyRequest(); }
    void setNotifyRequest(bool request) override { player_.setNotifyRequest(request); }
    void setDisplayArea(const QRect &area) override { player_.setDisplayArea(area); }
    void setTimeFormatCode(int code) override { player_.setTimeFormatCode(code); }
    std::int32_t MediaLength() override { return player_.MediaLength(); }
    void SeekTo(std::int32_t position) override { player_.SeekTo(position); }
    void Cue() override
    {
        player_.Cue();
        if (player_.LastMciResult() != 0)
            throw Exception(player_.LastMciResultText().toStdString());
    }
    void StartPlayback() override { player_.StartPlayback(); }
    void StopPlayback() override { player_.StopPlayback(); }
    std::int32_t CurrentPosition() override { return player_.CurrentPosition(); }
    std::string LastError() const override
    {
        return player_.LastMciResult() == 0 ? std::string() : player_.LastMciResultText().toStdString();
    }
    PlaybackFault Fault() override
    {
        const MCIERROR failure = player_.PlayFailure();
        if (failure == 0)
            return {};
        return {failure == MCIERR_OUTPUT_LOST ? PlaybackFault::OutputLost : PlaybackFault::FileDamaged,
                player_.CurrentPosition()};
    }

private:
    TMediaPlayer &player_;
};

class GaugeAdapter : public GaugeOps {
public:
    explicit GaugeAdapter(TGauge &gauge) : gauge_(gauge) {}
    void setProgress(int progress) override { gauge_.setProgress(progress); }

private:
    TGauge &gauge_;
};

class PositionDisplayAdapter : public PositionDisplayOps {
public:
    explicit PositionDisplayAdapter(TZintarLiquidIndicator &display) : display_(display) {}
    void setIndicatorstring(const QString &text) override { display_.setIndicatorstring(text); }

private:
    TZintarLiquidIndicator &display_;
};

class LabelAdapter : public LabelOps, public PanelOps {
public:
    explicit LabelAdapter(TLabel &label) : label_(label) {}
    void setFontColor(TColor colour) override { label_.setFontColor(colour); }
    void setCaption(const QString &caption) override { label_.setCaption(caption); }
    int Width() const override { return label_.width(); }
    int Height() const override { return label_.height(); }

private:
    TLabel &label_;
};

class OpenDialogAdapter : public OpenDialogOps {
public:
    explicit OpenDialogAdapter(TOpenDialog &dialog) : dialog_(dialog) {}
    bool Execute() override { return dialog_.Execute(); }
    QString FileName() const override { return dialog_.FileName(); }

private:
    TOpenDialog &dialog_;
};
