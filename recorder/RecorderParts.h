#pragma once

#include "base/Colour.h"

#include <QRect>
#include <QString>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

// The operations through which the recording controller reaches the parts it drives. The window
// connects them to its components, the command line to its own, tests to fakes.

// A port whose line let a command down: it stopped taking data (a stuck adapter or bridge), or it
// hung up (an adapter pulled out, the far end gone).
struct LineTrouble {
    enum Kind { Stalled, Gone };
    QString port;
    Kind kind = Stalled;
};

class SerialPortOps {
public:
    virtual ~SerialPortOps() = default;
    // Queues the whole text for sending and returns without waiting; raises on failure.
    virtual void SendText(const std::string &text) = 0;
    // Waits, at most timeoutMs, until what was queued has left; the ports where it did not.
    virtual std::vector<LineTrouble> WaitSent(int timeoutMs) = 0;
    // The ports whose line hung up since they were last asked, each named once.
    virtual std::vector<QString> LostLines() = 0;
    // Whether any port is still there to take commands.
    virtual bool AnyLineLeft() const = 0;
    // While non-empty, the text a dying process still writes to every open port.
    virtual void setCrashText(const std::string &text) = 0;
};

// Why a play ended before its end: the sound output went away, or the file is damaged there.
struct PlaybackFault {
    enum Kind { None, OutputLost, FileDamaged };
    Kind kind = None;
    // Where the sound stopped, in milliseconds of the file.
    std::int32_t atMs = 0;
};

class MediaPlayerOps {
public:
    virtual ~MediaPlayerOps() = default;
    // The sound file's path, byte for byte as the file system has it.
    virtual std::string FileName() const = 0;
    virtual void setFileName(const std::string &path) = 0;
    // Closes any open device, then opens FileName; raises EMCIDeviceError on failure.
    virtual void OpenDevice() = 0;
    virtual void CloseDevice() = 0;
    virtual void setStepFrames(std::int32_t frames) = 0;
    virtual void StepForward() = 0;
    virtual bool NotifyRequest() const = 0;
    virtual void setNotifyRequest(bool request) = 0;
    // left, top, and as right and bottom the width and height, as the video device reads them.
    virtual void setDisplayArea(const QRect &area) = 0;
    virtual void setTimeFormatCode(int code) = 0;
    virtual std::int32_t MediaLength() = 0;
    virtual void SeekTo(std::int32_t position) = 0;
    // Makes the sound output ready to play from the current position at once; raises when the
    // sound cannot start (no output).
    virtual void Cue() = 0;
    virtual void StartPlayback() = 0;
    virtual void StopPlayback() = 0;
    virtual std::int32_t CurrentPosition() = 0;
    // The text of the last command's failure, empty when it succeeded.
    virtual std::string LastError() const = 0;
    // Why the running play ended early, if it did.
    virtual PlaybackFault Fault() = 0;
};

// What was heard at the sound output while the file played.
struct OutputHearing {
    // False where nothing could be listened to (no sound server, no monitor).
    bool listened = false;
    // The output, as the desktop calls it.
    QString output;
    // Sample peak and RMS in dBFS; -inf when nothing at all was heard.
    double peakDb = -INFINITY;
    double rmsDb = -INFINITY;
    // The longest stretch during which the output was silent while the file had sound, and where
    // in the file it began.
    std::int32_t silentMs = 0;
    std::int32_t silentFromMs = 0;
};

// What became of the sound output while it recorded, as the sound server told it.
struct OutputChange {
    enum Kind { None, Moved, Muted, TurnedDown, Removed };
    Kind kind = None;
    // When the server told of it.
    std::chrono::steady_clock::time_point at{};
    // The output, as the desktop calls it; where the sound went (Moved; empty when that output
    // went too); the volume it was turned down to and the limit it is below (TurnedDown):
    // "20 % (−41.9 dB)", "−20.0 dB".
    QString output;
    QString movedTo;
    QString volume;
    QString limit;
};

// The sound output the file plays into: the operator's choice, checked before the device is
// told to record, and listened to while it records.
class SoundOutputOps {
public:
    virtual ~SoundOutputOps() = default;
    // Finds the chosen output, so that the file is opened on it; raises, listing the outputs
    // there are, when the choice fits none or several, or cannot be made.
    virtual void Choose() = 0;
    // Measures the file just loaded (its path byte for byte), to know what the output should play;
    // raises, saying where, when what the device keeps of it is damaged, unless the operator said
    // to record what decodes.
    virtual void Measure(const std::string &path) = 0;
    // Raises, saying what is wrong, when the output would not be heard (muted, turned down,
    // nothing plugged in), unless the operator said to record anyway. Says nothing where the
    // sound server cannot tell.
    virtual void Check() = 0;
    // Starts listening to what leaves the output; the file's sound starts now; stops listening
    // and tells what was heard while the file played its first playedMs.
    virtual void Listen() = 0;
    // While listening: where the output plays in cycles, waits until a command that takes
    // `commandTime` to leave, sent now, ends just before one begins (the sound, started then,
    // plays from that cycle on). Returns at once elsewhere.
    virtual void AwaitCycle(std::chrono::microseconds commandTime) { (void)commandTime; }
    virtual void Playing() = 0;
    // Whether what leaves the output is heard (its monitor recorded) while listening.
    virtual bool Hears() const = 0;
    // While hearing: the silences heard so far against the file's first playedMs (not listened
    // before the sound's start at the output is known), and when the monitor last delivered sound.
    virtual OutputHearing SoFar(std::int32_t playedMs) = 0;
    virtual std::optional<std::chrono::steady_clock::time_point> LastHeard() const = 0;
    // While listening: the first change to the output since Listen; None while there was none.
    virtual OutputChange Change() = 0;
    virtual OutputHearing Finish(std::int32_t playedMs) = 0;
};

class GaugeOps {
public:
    virtual ~GaugeOps() = default;
    virtual void setProgress(int progress) = 0;
};

class PositionDisplayOps {
public:
    virtual ~PositionDisplayOps() = default;
    virtual void setIndicatorstring(const QString &text) = 0;
};

class LabelOps {
public:
    virtual ~LabelOps() = default;
    virtual void setFontColor(TColor colour) = 0;
    virtual void setCaption(const QString &caption) = 0;
};

class PanelOps {
public:
    virtual ~PanelOps() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
};

class TimerOps {
public:
    virtual ~TimerOps() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
};

class PlatformOps {
public:
    virtual ~PlatformOps() = default;
    virtual unsigned waveOutGetNumDevs() = 0;
    virtual void Sleep(unsigned milliseconds) = 0;
    // A modal message box with an OK button.
    virtual void ShowMessage(const QString &text) = 0;
    // The steady clock, by which the time a recording takes on the device is measured.
    virtual std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }
};

// Everything the controller drives, by the names the window gives them.
struct RecorderParts {
    SerialPortOps &ComPort1;
    MediaPlayerOps &MediaPlayer1;
    TimerOps &Timer1;
    GaugeOps &Gauge1;
    GaugeOps &Gauge2;
    PositionDisplayOps &LCDPosition;
    LabelOps &RecGSM1;
    LabelOps &RecGSM2;
    LabelOps &Fname;
    LabelOps &LabelLength;
    PanelOps &Panel1;
    PlatformOps &Platform;
    SoundOutputOps &Output;
};
