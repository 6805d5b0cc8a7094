#pragma once

#include "recorder/DeviceCommands.h"
#include "recorder/RecorderParts.h"
#include "recorder/Verdict.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>

// Which channel the tick follows. Program-wide, not per window: a record press sets one and
// clears the other; nothing else writes them.
extern bool ActiveGSM1;
extern bool ActiveGSM2;

// How the latest recording ended.
struct RecordingEnd {
    int channel = 0; // 1 or 2; 0 before any recording ended
    StopReason reason = StopReason::Operator;
    // The sound played onto the device, in ms of the file.
    std::int32_t playedMs = 0;
    // The time from REC1 or REC2 leaving the port to REC going out.
    std::int64_t onWireMs = 0;
    // What is wrong with the recording, for the operator; empty when it is whole.
    QString problem;
    // What the operator should know of a whole recording (a REC that came late).
    QString note;
    // Which recording of this run it was, from 1.
    std::uint32_t number = 0;
    // The sound file, byte for byte; when the record command reached the device.
    std::string file;
    std::chrono::system_clock::time_point startedAt{};
    // What the output let through.
    OutputHearing heard;
};

// The recording controller: loads a sound file, records it onto a channel of the device while it
// plays, follows the play position every tick, and stops the device when the file ends, after
// 10 s, or when told. The window and the command line drive it through the same verbs; a verb
// that leaves a recording incomplete raises an exception whose text says so.
class Recorder {
public:
    static constexpr TColor RecordingColour = 255;
    static constexpr TColor NormalColour = clGradientActiveCaption;
    static constexpr std::int32_t RecordLimitMs = 10000;
    static constexpr unsigned EraseStepPauseMs = 30;
    // The tick's interval; its ticks must come on time (a precise timer).
    static constexpr int TimerIntervalMs = 10;
    // How long a command may take to leave before its line counts as stalled.
    static constexpr int SendTimeoutMs = 500;

    explicit Recorder(const RecorderParts &parts) : parts_(parts) {}

    // At start-up: whether there is a sound output, said once when there is none.
    void Start();
    // Whether a sound file can be loaded at all: false without a sound output.
    bool CanLoad();
    // Opens the sound file (its path byte for byte) on the chosen sound output and shows its name
    // and length; raises when it cannot be played, the output cannot be found, or what the device
    // would keep of it is damaged (then nothing is loaded).
    void Load(const std::string &path);
    // Checks the sound output, makes the sound ready, sends REC1 (channel 1) or REC2 (channel 2)
    // and, once it has left the port, plays the loaded file from its start while listening to the
    // output. Nothing is sent when the output would not be heard or the sound cannot start.
    void Record(int channel);
    // Ends playback and a recording: sends REC and waits until it has left.
    void Stop(StopReason reason = StopReason::Operator);
    // Ends playback and erases every record on the device, running both gauges down.
    void Erase();
    // Follows the play position; ends the recording at the file's end, the 10 s limit, or a fault.
    void Tick();
    // On the way out: a recording in progress (a red channel label) is stopped, so the device
    // does not go on alone.
    void Leave(StopReason reason = StopReason::Exit);
    // Whether the device was told to record and not yet to stop.
    bool Recording() const { return channel_ != 0; }
    const RecordingEnd &LastEnd() const { return lastEnd_; }

    // Problems that do not end the recording (one of several lines lost); without a receiver
    // they are raised.
    std::function<void(const QString &)> OnProblem;

    // "7.350 sec." for 7350 ms, "5.030 sec." for 5030 ms: seconds, ".", three digits of milliseconds, " sec.".
    static QString LengthText(std::int64_t lengthMs);
    // position / 100, rounded half to even.
    static int GaugeValue(std::int32_t positionMs);
    // Why a sound file that opened is refused: it has no length, so it would never end a recording.
    static std::string EmptyFileMessage(const QString &fileName);

private:
    void open(const std::string &path);
    void send(DeviceCommand command);
    void waitSent(DeviceCommand command);
    void resetLabelColours();
    std::exception_ptr stopPlayback();
    void stopRecording(StopReason reason, const QString &problem = QString());
    void endRecording(StopReason reason, const QString &problem);
    void hearOutput();
    void stopListening();
    void checkLines();
    QString faultProblem(const PlaybackFault &fault);
    void stopForFault(PlaybackFault fault);
    struct Gap {
        StopReason reason;
        QString problem;
    };
    void followOwnClock();
    QString stoodStillText() const;
    std::optional<Gap> gapIn(std::int32_t positionMs);
    std::optional<Gap> faultHeard(std::int32_t positionMs);
    QString holeProblem(int channel, const OutputHearing &heard) const;
    void stopForChange(const OutputChange &change);
    void report(const QString &problem);
    QString lengthText(std::int32_t &length);
    QString channelName() const;

    RecorderParts parts_;
    int channel_ = 0; // the channel the device was told to record, until REC
    std::chrono::steady_clock::time_point onWireSince_{};
    // When the sound started at the output, as the first position after it tells.
    std::optional<std::chrono::steady_clock::time_point> soundSince_;
    // By this program's own clock: when the last tick of the recording ran, and how long in all
    // the program stood still between ticks.
    std::optional<std::chrono::steady_clock::time_point> lastTickAt_;
    std::chrono::milliseconds stoodStill_{0};
    // When it last went on after standing still: what its threads did not read meanwhile is late.
    std::chrono::steady_clock::time_point resumedAt_{};
    std::int32_t lastPosition_ = 0;
    bool playing_ = false;   // a sound was started for the recording
    bool listening_ = false; // to the output, for the recording
    std::string file_;
    // The file open in the player, as it was loaded; empty when none is.
    std::string loaded_;
    std::chrono::system_clock::time_point startedAt_{};
    RecordingEnd lastEnd_;
};
