#pragma once

// TEMPORARY: plain stand-ins for the components that are not built yet (serial port, media
// player, gauges, position display, flat buttons). They let the program start, show its window
// and run the controller; the real components replace them one by one.

#include "app/FormParts.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

class StandInParts {
public:
    explicit StandInParts(QWidget *window);

    FormParts Parts();

    QTimer timer;
    QPushButton *buttons[6];
    QLabel *fname;

private:
    struct Serial : SerialPortOps {
        void SendText(const std::string &text) override;
    } serial_;
    struct Player : MediaPlayerOps {
        QString fileName;
        bool notifyRequest = false;
        QString FileName() const override { return fileName; }
        void setFileName(const QString &name) override { fileName = name; }
        void OpenDevice() override;
        void setStepFrames(std::int32_t) override {}
        void StepForward() override {}
        bool NotifyRequest() const override { return notifyRequest; }
        void setNotifyRequest(bool request) override { notifyRequest = request; }
        void setDisplayArea(const QRect &) override {}
        void setTimeFormatCode(int) override {}
        std::int32_t MediaLength() override;
        void SeekTo(std::int32_t) override;
        void StartPlayback() override;
        void StopPlayback() override;
        std::int32_t CurrentPosition() override { return 0; }
    } player_;
    struct Dialog : OpenDialogOps {
        QWidget *parent = nullptr;
        QString chosen;
        bool Execute() override;
        QString FileName() const override { return chosen; }
    } dialog_;
    struct Timer : TimerOps {
        QTimer *timer = nullptr;
        void setEnabled(bool enabled) override;
    } timerOps_;
    struct Gauge : GaugeOps {
        QProgressBar *bar = nullptr;
        void setProgress(int progress) override;
    } gauge1_, gauge2_;
    struct Display : PositionDisplayOps {
        QLabel *label = nullptr;
        void setIndicatorstring(const QString &text) override;
    } display_;
    struct Label : LabelOps {
        QLabel *label = nullptr;
        void setFontColor(TColor colour) override;
        void setCaption(const QString &caption) override;
    } recGsm1_, recGsm2_, fname_, labelLength_;
    struct Panel : PanelOps {
        int Width() const override { return 17; }
        int Height() const override { return 17; }
    } panel_;
    struct Picture : PictureOps {
        void setTransparent(bool) override {}
    } picture_;
    struct Window : WindowOps {
        QWidget *window = nullptr;
        void Close() override;
    } windowOps_;
    struct Platform : PlatformOps {
        QWidget *parent = nullptr;
        unsigned waveOutGetNumDevs() override;
        void Sleep(unsigned milliseconds) override;
        void ShowMessage(const QString &text) override;
    } platform_;
};
