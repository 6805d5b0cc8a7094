#pragma once

#include "recorder/DeviceCommands.h"
#include "recorder/RecorderParts.h"

#include <QString>
#include <cstdint>
#include <exception>
#include <string>

// Which channel the tick follows. Program-wide, not per window: a record press sets one and
// clears the other; nothing else writes them.
extern bool ActiveGSM1;
extern bool ActiveGSM2;

// The recording controller: loads a sound file, records it onto a channel of the device while it
// plays, follows the play position every tick, and stops the device when the file ends, after
// 10 s, or when told. The window and the command line drive it through the same verbs.
class Recorder {
public:
    static constexpr TColor RecordingColour = 255;
    static constexpr TColor NormalColour = clGradientActiveCaption;
    static constexpr std::int32_t RecordLimitMs = 10000;
    static constexpr unsigned EraseStepPauseMs = 30;
    // The tick's interval; its ticks must come on time (a precise timer).
    static constexpr int TimerIntervalMs = 10;

    explicit Recorder(const RecorderParts &parts) : parts_(parts) {}

    // At start-up: whether there is a sound output, said once when there is none.
    void Start();
    // Whether a sound file can be loaded at all: false without a sound output.
    bool CanLoad();
    // Opens the sound file and shows its name and length; raises when it cannot be played.
    void Load(const QString &file);
    // Sends REC1 (channel 1) or REC2 (channel 2) and plays the loaded file from its start.
    void Record(int channel);
    // Ends playback and the recording: sends REC.
    void Stop();
    // Ends playback and erases every record on the device, running both gauges down.
    void Erase();
    // Follows the play position; ends the recording at the file's end or the 10 s limit.
    void Tick();
    // On the way out: a recording in progress is stopped, so the device does not go on alone.
    void Leave();

    // "7.350 sec." for 7350 ms, "5.030 sec." for 5030 ms: seconds, ".", three digits of milliseconds, " sec.".
    static QString LengthText(std::int32_t lengthMs);
    // position / 100, rounded half to even.
    static int GaugeValue(std::int32_t positionMs);
    // Why a sound file that opened is refused: it has no length, so it would never end a recording.
    static std::string EmptyFileMessage(const QString &fileName);

private:
    void send(DeviceCommand command);
    void resetLabelColours();
    std::exception_ptr stopPlayback();
    void stopRecording();
    QString lengthText(std::int32_t &length);

    RecorderParts parts_;
};
