#include "recorder/Verdict.h"

#include <cstdlib>
#include <iterator>

namespace Verdict {

namespace {

constexpr Ending endings[] = {
    {StopReason::FileEnd, "end", "stopped at the end of the file", true, ExitDone},
    {StopReason::Limit, "limit", "stopped at the 10 s limit", true, ExitDone},
    {StopReason::Operator, "stopped", "stopped", true, ExitDone},
    {StopReason::Exit, "interrupted", "stopped as the program ended", false, ExitDone},
    {StopReason::Signal, "interrupted", "interrupted", false, ExitBySignal},
    {StopReason::Suspend, "suspended", "stopped as the program was suspended", false, ExitFailure},
    {StopReason::OutputLost, "output-lost", "the sound output was lost", false, ExitFailure},
    {StopReason::FileDamaged, "damaged-file", "the sound file is damaged", false, ExitFailure},
    {StopReason::LineLost, "disconnected", "the recorder was disconnected", false, ExitFailure},
    {StopReason::Paused, "paused", "interrupted by a pause", false, ExitFailure},
    {StopReason::SilentOutput, "silent-output", "the output was silent", false, ExitFailure},
    {StopReason::PlayFailed, "play-failed", "the sound did not start", false, ExitFailure},
    {StopReason::OutputMoved, "output-moved", "the sound was moved to another output", false, ExitFailure},
    {StopReason::OutputMuted, "output-muted", "the output was muted", false, ExitFailure},
    {StopReason::OutputTurnedDown, "output-turned-down", "the output was turned down", false, ExitFailure},
    {StopReason::ServerStalled, "server-stalled", "the sound server stopped playing", false, ExitFailure},
};

} // namespace

bool IsSilent(double db) { return db < SilenceDb; }

bool Paused(std::int64_t onDeviceMs, std::int64_t playedMs) { return onDeviceMs - playedMs > PauseToleranceMs; }

PauseCause CauseOfPause(std::int64_t onDeviceMs, std::int64_t playedMs, std::int64_t stoodStillMs)
{
    if (!Paused(onDeviceMs, playedMs))
        return PauseCause::None;
    // What the program's standing still explains, within the tolerance, is the program's.
    return Paused(onDeviceMs, playedMs + stoodStillMs) ? PauseCause::Server : PauseCause::Program;
}

bool Hole(std::int64_t silentMs) { return silentMs >= HoleLimitMs; }

bool ServerSilent(std::int64_t unheardMs) { return unheardMs > ServerSilenceMs; }

bool TurnedDown(double volumeDb, double minimumDb) { return volumeDb < minimumDb - VolumeSlackDb; }

std::span<const Ending> Endings() { return endings; }

const Ending &EndingOf(StopReason reason)
{
    const auto index = static_cast<std::size_t>(reason);
    // An ending without its row must not be told as another one.
    if (index >= std::size(endings) || endings[index].reason != reason)
        std::abort();
    return endings[index];
}

int ExitStatus(bool failed, int signalNumber)
{
    if (signalNumber != 0)
        return ExitBySignal + signalNumber;
    return failed ? ExitFailure : ExitDone;
}

} // namespace Verdict
