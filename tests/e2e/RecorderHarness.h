#pragma once

// Drives the real main window as an operator would, against the device simulator on a
// pseudo-terminal, with the sound going to a private sound server's sink (where its timing is
// judged) or to SDL's disk driver (where only its content counts). Shared by the end-to-end tests
// and the recording figures.

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
// Whether an ExpectModal is waiting for its widget.
bool ModalExpected();
// Arranged before a call that shows a message box: its text goes to *shown and it is answered OK.
void ExpectMessageBox(QString *shown, int timeoutMs = 10000);

// What the sink played during one recording, placed on the serial line's timeline.
struct HeardRecording {
    std::int64_t first = 0; // the first and last frames of sound in the sink's capture
    std::int64_t last = 0;
    std::chrono::steady_clock::time_point sound;    // when the first frame was played
    std::chrono::steady_clock::time_point soundEnd; // when the last frame had been played
    std::chrono::steady_clock::time_point start;    // arrival of "REC1" or "REC2"
    std::chrono::steady_clock::time_point stop;     // arrival of "REC"

    // First sound - the record command: how long the device recorded before the sound came.
    double LeadInMs() const;
    // "REC" - the end of the last sound; negative when the device stopped while sound still played.
    double TailMs() const;
    // "REC" - the first sound.
    double StopAfterSoundMs() const;
    // How long the sound lasted at the sink, by its frames there (gaps in the sound count).
    double HeardMs() const;
};

// How the sound at the sink fell silent: the level (RMS) of the 20 ms before its last 5 ms, of
// the first and second halves of those 5 ms, and of their last millisecond.
struct SoundEnding {
    double before = 0;
    double firstHalf = 0;
    double secondHalf = 0;
    double lastMs = 0;
};

// The window and what it needs: the simulator, a ports directory, and the sound output: disk audio
// into a file where the content counts, a private sound server's sink where the timing counts.
class RecorderHarness {
public:
    enum class Audio { Disk, Sink };

    explicit RecorderHarness(Audio audio = Audio::Disk, SoundSink::Options sinkOptions = SoundSink::Options());
    ~RecorderHarness();

    bool Start(QString *error);
    MainWindow &Window() { return *window_; }
    DeviceSimulator &Device() { return device_; }
    SoundSink &Sink() { return sink_; }
    QString AudioFile() const { return scratch_.filePath(QStringLiteral("audio.raw")); }
    QString Scratch() const { return scratch_.path(); }

    // A mono 16-bit WAV of the given length: a 440 Hz tone with no silent stretch (WriteToneWave).
    QString MakeToneWav(const QString &name, int milliseconds, int rate = 16000);
    // The same tone as an MP3 (lame); its decoded length is the WAV's.
    QString MakeToneMp3(const QString &name, int milliseconds, int rate = 44100);
    // A MIDI song at 120 beats per minute: one note held from the start to the song's end (a
    // multiple of 25 ms); as an RMI file when `rmi` is set. The note, a high C on a square lead,
    // sounds within 2 ms and holds an even level, so that its start and end show at the sink.
    QString MakeHeldNoteSong(const QString &name, int milliseconds, bool rmi = false);

    // What the sink played from the capture frame `from` (SoundSink::FrameCount before the
    // recording) to 300 ms after the latest "REC", against the latest record command
    // (`recordCommand`) and "REC". Waits for the capture to get there; none, with the reason,
    // when there was no sound or no command.
    std::optional<HeardRecording> Heard(std::int64_t from, const QString &recordCommand, QString *error);
    SoundEnding EndingOf(const HeardRecording &heard) const;

    // Clicks the file-name label, or another opener (the list button), and picks the file in the
    // open dialog.
    bool LoadThroughLabel(const QString &path, QWidget *opener = nullptr);
    // Clicks a button; when `portDialog` is set, answers the port dialog with COM1 first.
    void Click(QWidget *button, bool portDialog = false);
    // How many times the port dialog was answered.
    int PortDialogsAnswered() const { return portDialogs_; }

    // Frames of the disk output whose samples are not all zero, and all frames, for a
    // float output of the given channel count.
    static std::pair<qint64, qint64> SoundFrames(const QString &rawFile, int channels);

private:
    Audio audio_;
    SoundSink::Options sinkOptions_;
    QTemporaryDir scratch_;
    SoundSink sink_;
    DeviceSimulator device_;
    std::unique_ptr<MainWindow> window_;
    int portDialogs_ = 0;
};
