#pragma once

// Whether a recording is good, decided in one place: the limits that decide it, and what each
// way a recording ends is called, for the operator, for scripts and the history, and in the exit
// status. Pure: no clock, no device, no sound server.

#include <cstdint>
#include <span>

// Why a recording ended. The controller knows it; nobody guesses it from the position.
enum class StopReason {
    FileEnd,          // the file's last sound has been played
    Limit,            // 10 s have been played
    Operator,         // the stop button, the list button, `tamblo stop`
    Exit,             // the program is left
    Signal,           // a termination signal
    Suspend,          // Ctrl-Z: the program is about to stop
    OutputLost,       // the sound output went away
    FileDamaged,      // the file cannot be decoded on
    LineLost,         // the recorder's line hung up
    Paused,           // the program stood still while the device recorded
    SilentOutput,     // the output was silent while the file had sound
    PlayFailed,       // the sound did not start
    OutputMoved,      // the sound was moved to another output
    OutputMuted,      // the output was muted
    OutputTurnedDown, // the output was turned down below the limit
    ServerStalled,    // the sound server stopped playing while this program ran on
};

namespace Verdict {

// Below this a sound counts as silence, at the output and in a file alike.
inline constexpr double SilenceDb = -60.0;
// How much longer than its sound a recording may take on the device before it has a gap.
inline constexpr std::int64_t PauseToleranceMs = 100;
// With the output listened to: a hole this long in the output's sound, where the file has sound,
// fails the recording.
inline constexpr std::int64_t HoleLimitMs = 20;
// The output may play the file this much early or late (its buffers, the monitor's placing): a
// hole counts only where the file sounds this long on either side of it.
inline constexpr std::int64_t OutputLatencyMs = 60;
// A start at the output later than this after the sound was started is a hole, not a late start.
inline constexpr std::int64_t LateStartMs = 1000;
// A monitor delivers its sound every few tens of milliseconds; nothing for this long, while this
// program ran on, is a server that stopped.
inline constexpr std::int64_t ServerSilenceMs = 250;
// A passage of the file this close to the silence floor may fall below it at the output (the
// server's resampling, the stream's own volume): it is no sound to miss.
inline constexpr double SilenceHeadroomDb = 10.0;
// Below this volume an output is too quiet to record from, unless the operator sets another limit.
inline constexpr double DefaultMinimumVolumeDb = -20.0;
// The server keeps volumes in steps of a few thousandths of a dB: an output set to the limit
// itself is not below it.
inline constexpr double VolumeSlackDb = 0.01;

// A level in dBFS that counts as silence.
bool IsSilent(double db);
// Whether the device, recording for onDeviceMs, got a gap beside the playedMs of sound it was given.
bool Paused(std::int64_t onDeviceMs, std::int64_t playedMs);
// Who made such a gap: this program, when it stood still at least as long (its own clock tells,
// stoodStillMs), else the sound server, which stopped playing while the program ran on.
enum class PauseCause { None, Program, Server };
PauseCause CauseOfPause(std::int64_t onDeviceMs, std::int64_t playedMs, std::int64_t stoodStillMs);
// Whether a silence at the output, where the file has sound, is a hole that fails the recording.
bool Hole(std::int64_t silentMs);
// Whether an output's monitor that delivered nothing for unheardMs, while this program ran on,
// shows a sound server that stopped playing.
bool ServerSilent(std::int64_t unheardMs);
// Whether an output's volume is below the limit.
bool TurnedDown(double volumeDb, double minimumDb);

// Exit statuses of a command.
inline constexpr int ExitDone = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;
// A process ended by signal n reports 128 + n.
inline constexpr int ExitBySignal = 128;

// One way a recording ends.
struct Ending {
    StopReason reason;
    // One word, for scripts (the "reason" of --json) and the history ("ended").
    const char *word;
    // The result line's words: "stopped at the end of the file".
    const char *text;
    // Whether the recording is whole, unless something else is found wrong with it.
    bool whole;
    // The exit status it leaves; ExitBySignal: 128 + the signal's number.
    int exitStatus;
};

// Every way, in the order of StopReason.
std::span<const Ending> Endings();
const Ending &EndingOf(StopReason reason);
// The status a command ends with: 128 + n after signal n, else 1 after any failure, else 0.
int ExitStatus(bool failed, int signalNumber = 0);

} // namespace Verdict
