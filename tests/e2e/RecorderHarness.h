#pragma once

// Drives the real main window as an operator would, against the device simulator on a
// pseudo-terminal and SDL's disk audio driver. Shared by the end-to-end tests and the
// recording figures.

#include "app/MainWindow.h"
#include "tests/common/DeviceSimulator.h"
#include "tests/common/SoundSink.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Arranged before a call that opens a modal widget: polls for the active modal widget and hands
// it to `action` until the action returns true (it took the widget) or the time is up.
void ExpectModal(std::function<bool(QWidget *)> action, int timeoutMs = 10000);

// The window and what it needs: the simulator, a ports directory, and the sound output: disk audio
// into a file where the content counts, a private sound server's sink where the timing counts.
class RecorderHarness {
public:
    enum class Audio { Disk, Sink };

    explicit RecorderHarness(Audio audio = Audio::Disk);
    ~RecorderHarness();

    bool Start(QString *error);
    MainWindow &Window() { return *window_; }
    DeviceSimulator &Device() { return device_; }
    SoundSink &Sink() { return sink_; }
    QString AudioFile() const { return scratch_.filePath(QStringLiteral("audio.raw")); }
    QString Scratch() const { return scratch_.path(); }

    // A mono 16-bit WAV of the given length: a 440 Hz tone with no silent stretch.
    QString MakeToneWav(const QString &name, int milliseconds, int rate = 16000);

    // Clicks the file-name label and picks the file in the open dialog.
    bool LoadThroughLabel(const QString &path);
    // Clicks a button; when `portDialog` is set, answers the port dialog with COM1 first.
    void Click(QWidget *button, bool portDialog = false);
    // How many times the port dialog was answered.
    int PortDialogsAnswered() const { return portDialogs_; }

    // Frames of the disk output whose samples are not all zero, and all frames, for a
    // float output of the given channel count.
    static std::pair<qint64, qint64> SoundFrames(const QString &rawFile, int channels);

private:
    Audio audio_;
    QTemporaryDir scratch_;
    SoundSink sink_;
    DeviceSimulator device_;
    std::unique_ptr<MainWindow> window_;
    int portDialogs_ = 0;
};
