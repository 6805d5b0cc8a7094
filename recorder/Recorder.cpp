#include "recorder/Recorder.h"

#include "base/Exception.h"
#include "recorder/DisplayName.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

bool ActiveGSM1 = false;
bool ActiveGSM2 = false;

namespace {

constexpr int kGaugeFull = 100;

// Whole seconds of a length: the division in floating point, truncated toward zero.
std::int64_t wholeSeconds(std::int64_t lengthMs) { return static_cast<std::int64_t>(std::trunc(lengthMs / 1000.0)); }

// The milliseconds are widened to three digits: 5030 ms reads "5.030 sec.", not "5.30 sec.".
QString formatLength(std::int64_t seconds, std::int64_t remainder)
{
    return QString::number(seconds) + QLatin1Char('.') + QStringLiteral("%1").arg(remainder, 3, 10, QLatin1Char('0'))
           + QStringLiteral(" sec.");
}

QString word(DeviceCommand command)
{
    const std::string_view text = CommandWord(command);
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// What a command that did not leave leaves the device doing.
QString undelivered(DeviceCommand command)
{
    switch (command) {
    case DeviceCommand::Record1:
    case DeviceCommand::Record2: return QStringLiteral("nothing was recorded");
    case DeviceCommand::Stop: return QStringLiteral("the recorder may still be recording");
    case DeviceCommand::Erase: return QStringLiteral("the records were not erased");
    }
    return {};
}

} // namespace

QString Recorder::LengthText(std::int64_t lengthMs)
{
    const std::int64_t seconds = wholeSeconds(lengthMs);
    return formatLength(seconds, lengthMs - seconds * 1000);
}

int Recorder::GaugeValue(std::int32_t positionMs)
{
    // The default rounding mode: to nearest, ties to even (150 ms -> 2, 250 ms -> 2).
    return static_cast<int>(std::nearbyint(positionMs / 100.0));
}

std::string Recorder::EmptyFileMessage(const QString &fileName)
{
    return "The sound file is empty: " + fileName.toStdString();
}

QString Recorder::channelName() const { return QStringLiteral("GSM") + QString::number(channel_); }

// The length is read three times, as the label's text is built from separate queries.
QString Recorder::lengthText(std::int32_t &length)
{
    MediaPlayerOps &player = parts_.MediaPlayer1;
    const std::int64_t seconds = wholeSeconds(player.MediaLength());
    length = player.MediaLength();
    const std::int64_t remainder = length - wholeSeconds(player.MediaLength()) * 1000;
    return formatLength(seconds, remainder);
}

void Recorder::resetLabelColours()
{
    parts_.RecGSM1.setFontColor(NormalColour);
    parts_.RecGSM2.setFontColor(NormalColour);
}

void Recorder::report(const QString &problem)
{
    if (!OnProblem)
        throw Exception(problem.toStdString());
    OnProblem(problem);
}

// Runs a player call whose failure must not keep a device command from going out: the failure is
// held and raised once the command is on its way.
std::exception_ptr Recorder::stopPlayback()
{
    if (!parts_.MediaPlayer1.NotifyRequest())
        return nullptr;
    try {
        parts_.MediaPlayer1.StopPlayback();
    } catch (const std::exception &) {
        return std::current_exception();
    }
    return nullptr;
}

void Recorder::send(DeviceCommand command) { parts_.ComPort1.SendText(CommandText(command)); }

// A command that did not leave a port is told: the device may not be doing what it was told. When
// it left no port at all, that ends the verb.
void Recorder::waitSent(DeviceCommand command)
{
    const std::vector<LineTrouble> troubles = parts_.ComPort1.WaitSent(SendTimeoutMs);
    QStringList problems;
    for (const LineTrouble &trouble : troubles) {
        if (trouble.kind == LineTrouble::Gone)
            problems << QStringLiteral("The recorder on ") + trouble.port + QStringLiteral(" is disconnected: ")
                            + word(command) + QStringLiteral(" did not reach it; ") + undelivered(command);
        else
            problems << word(command) + QStringLiteral(" was not delivered to ") + trouble.port
                            + QStringLiteral(" (the line stopped taking data); ") + undelivered(command);
    }
    if (problems.isEmpty())
        return;
    if (!parts_.ComPort1.AnyLineLeft() || !OnProblem)
        throw Exception(problems.join(QLatin1Char('\n')).toStdString());
    for (const QString &problem : problems)
        report(problem);
}

bool Recorder::CanLoad() { return parts_.Platform.waveOutGetNumDevs() != 0; }

void Recorder::Load(const std::string &path)
{
    // The file's sound goes to the output it is opened on: without one, nothing is loaded.
    parts_.Output.Choose();
    // Opening a file closes the one before. A file refused here leaves the one before loaded
    // again, as the window still shows it; where that cannot be, no file is loaded, and the
    // window says so, rather than showing a file that is not there to play.
    const std::string previous = std::exchange(loaded_, std::string());
    try {
        open(path);
    } catch (const std::exception &) {
        if (!previous.empty()) {
            try {
                open(previous);
            } catch (const std::exception &) {
            }
        }
        if (loaded_.empty()) {
            parts_.MediaPlayer1.setNotifyRequest(false);
            parts_.LabelLength.setCaption(LengthText(0));
            parts_.Fname.setCaption(QString());
        }
        throw;
    }
}

void Recorder::open(const std::string &path)
{
    MediaPlayerOps &player = parts_.MediaPlayer1;
    player.setFileName(path);
    player.OpenDevice();
    player.setStepFrames(1);
    player.StepForward();
    player.setNotifyRequest(true);
    player.setDisplayArea(QRect(0, 0, parts_.Panel1.Width(), parts_.Panel1.Height()));
    player.setTimeFormatCode(0);
    std::int32_t length = 0;
    const QString text = lengthText(length);
    if (length <= 0) {
        player.CloseDevice();
        throw Exception(EmptyFileMessage(DisplayName(path)));
    }
    // A damaged file is not loaded: nothing would tell that its recording lacks a part.
    try {
        parts_.Output.Measure(path);
    } catch (const std::exception &) {
        player.CloseDevice();
        throw;
    }
    parts_.LabelLength.setCaption(text);
    parts_.Fname.setCaption(DisplayName(player.FileName()));
    loaded_ = path;
}

void Recorder::Record(int channel)
{
    MediaPlayerOps &player = parts_.MediaPlayer1;
    const bool withSound = player.NotifyRequest();
    // The sound must be able to start, into an output that is heard, before the device is told to
    // record. Listening starts before the command goes out, so that it does not hold the sound up.
    if (withSound) {
        player.SeekTo(0);
        parts_.Output.Check();
        player.Cue();
        parts_.Output.Listen();
        listening_ = true;
    }
    const DeviceCommand command = RecordCommand(channel);
    if (withSound) {
        // The command's bytes, then the time the sound's start takes to reach the server.
        constexpr std::chrono::microseconds startTime{500};
        const auto onLine = std::chrono::microseconds(CommandText(command).size() * 10 * 1'000'000 / LineBaud);
        parts_.Output.AwaitCycle(onLine + startTime);
    }
    // A crash from here on still stops the device: no moment exists in which it records and
    // nothing would tell it to stop.
    parts_.ComPort1.setCrashText(CommandText(DeviceCommand::Stop));
    try {
        send(command);
    } catch (const std::exception &) {
        parts_.ComPort1.setCrashText({});
        stopListening();
        throw;
    }
    channel_ = channel;
    file_ = withSound ? player.FileName() : std::string();
    playing_ = false;
    lastPosition_ = 0;
    parts_.Timer1.setEnabled(true);
    try {
        // The sound starts once the command has reached the device, so its start is recorded.
        waitSent(command);
        onWireSince_ = parts_.Platform.Now();
        soundSince_.reset();
        startedAt_ = std::chrono::system_clock::now();
        lastTickAt_ = onWireSince_;
        resumedAt_ = onWireSince_;
        stoodStill_ = {};
        if (withSound) {
            player.StartPlayback();
            const std::string failure = player.LastError();
            if (!failure.empty())
                throw Exception(failure);
            parts_.Output.Playing();
            playing_ = true;
        }
    } catch (const std::exception &) {
        // The device records from now on: if the sound cannot start, it is stopped at once.
        stopListening();
        parts_.Timer1.setEnabled(false);
        channel_ = 0;
        send(DeviceCommand::Stop);
        parts_.ComPort1.setCrashText({});
        resetLabelColours();
        throw;
    }
    const bool gsm1 = channel == 1;
    ActiveGSM1 = gsm1;
    ActiveGSM2 = !gsm1;
    if (gsm1) {
        parts_.RecGSM1.setFontColor(RecordingColour);
        parts_.RecGSM2.setFontColor(NormalColour);
    } else {
        parts_.RecGSM2.setFontColor(RecordingColour);
        parts_.RecGSM1.setFontColor(NormalColour);
    }
}

// Counts the time this program stood still, by its own clock: a tick that comes far later than
// the one before.
void Recorder::followOwnClock()
{
    const auto now = parts_.Platform.Now();
    if (lastTickAt_) {
        const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - *lastTickAt_);
        if (gap.count() > Verdict::PauseToleranceMs) {
            stoodStill_ += gap;
            resumedAt_ = now;
        }
    }
    lastTickAt_ = now;
}

QString Recorder::stoodStillText() const
{
    return QStringLiteral("the program stood still for ") + QString::number(stoodStill_.count())
           + QStringLiteral(" ms");
}

// The time the device recorded against the sound it was given: more means a gap in the recording.
// This program made it when it stood still as long; else the sound server stopped playing. With
// the output listened to, a gap of the program's own is judged by what the output played: a hole
// there, or only a REC that came late.
//
// Counted from the sound's start at the output, not from REC1: an output whose sound comes out
// late (a sink that renders far ahead, Bluetooth) starts late, and then keeps time.
std::optional<Recorder::Gap> Recorder::gapIn(std::int32_t positionMs)
{
    if (!playing_ || !soundSince_)
        return std::nullopt;
    const auto onDevice =
        std::chrono::duration_cast<std::chrono::milliseconds>(parts_.Platform.Now() - *soundSince_).count();
    const QString recorded = QString::number(onDevice) + QStringLiteral(" ms while only ") + QString::number(positionMs)
                             + QStringLiteral(" ms of sound were played");
    switch (Verdict::CauseOfPause(onDevice, positionMs, stoodStill_.count())) {
    case Verdict::PauseCause::None: return std::nullopt;
    case Verdict::PauseCause::Server:
        return Gap{StopReason::ServerStalled, QStringLiteral("The recording on ") + channelName()
                                                  + QStringLiteral(" failed: the sound server stopped playing at ")
                                                  + QString::number(positionMs)
                                                  + QStringLiteral(" ms; the device recorded ") + recorded};
    case Verdict::PauseCause::Program:
        if (parts_.Output.Hears())
            return std::nullopt;
        return Gap{StopReason::Paused, QStringLiteral("The recording on ") + channelName()
                                           + QStringLiteral(" was interrupted: the device recorded ") + recorded
                                           + QStringLiteral(" (") + stoodStillText() + QLatin1Char(')')};
    }
    return std::nullopt;
}

void Recorder::endRecording(StopReason reason, const QString &problem)
{
    lastEnd_.number += 1;
    lastEnd_.file = file_;
    lastEnd_.startedAt = startedAt_;
    lastEnd_.heard = {};
    lastEnd_.channel = channel_;
    lastEnd_.reason = reason;
    lastEnd_.playedMs = lastPosition_;
    lastEnd_.onWireMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(parts_.Platform.Now() - onWireSince_).count();
    lastEnd_.problem = problem;
    if (reason == StopReason::Suspend)
        lastEnd_.problem = QStringLiteral("The recording on ") + channelName() + QStringLiteral(" was stopped at ")
                           + QString::number(lastPosition_)
                           + QStringLiteral(" ms: the program was suspended (Ctrl-Z); record it again");
    lastEnd_.note.clear();
    if (!problem.isEmpty() || !Verdict::EndingOf(reason).whole)
        return;
    if (const std::optional<Gap> gap = gapIn(lastPosition_)) {
        lastEnd_.reason = gap->reason;
        lastEnd_.problem = gap->problem;
        return;
    }
    // A REC that left late after the whole sound adds silence at the end, which harms nothing.
    if (!soundSince_)
        return;
    const auto soundFrom = std::chrono::duration_cast<std::chrono::milliseconds>(*soundSince_ - onWireSince_).count();
    const std::int64_t trailing = lastEnd_.onWireMs - soundFrom - lastPosition_;
    if (trailing > Verdict::PauseToleranceMs)
        lastEnd_.note =
            QStringLiteral("REC left ") + QString::number(trailing) + QStringLiteral(" ms after the sound ended")
            + (stoodStill_.count() > 0 ? QStringLiteral(" (") + stoodStillText() + QLatin1Char(')') : QString())
            + QStringLiteral(": the recording on ") + channelName() + QStringLiteral(" ends with ")
            + QString::number(trailing) + QStringLiteral(" ms of silence");
}

// Ends the listening of a recording that ended, and judges by it whether the recording, whole
// by every other account, is: the output must not have gone silent while the file had sound.
void Recorder::hearOutput()
{
    if (!listening_)
        return;
    listening_ = false;
    lastEnd_.heard = parts_.Output.Finish(lastEnd_.playedMs);
    const OutputHearing &heard = lastEnd_.heard;
    if (!lastEnd_.problem.isEmpty() || !Verdict::EndingOf(lastEnd_.reason).whole || !Verdict::Hole(heard.silentMs))
        return;
    lastEnd_.reason = StopReason::SilentOutput;
    lastEnd_.note.clear();
    lastEnd_.problem = holeProblem(lastEnd_.channel, heard);
}

QString Recorder::holeProblem(int channel, const OutputHearing &heard) const
{
    QString problem = QStringLiteral("The recording on GSM") + QString::number(channel)
                      + QStringLiteral(" failed: the output '") + heard.output + QStringLiteral("' was silent for ")
                      + QString::number(heard.silentMs) + QStringLiteral(" ms, from ")
                      + QString::number(heard.silentFromMs) + QStringLiteral(" ms into the file, where it has sound");
    // The cause, where this program's own clock shows it.
    if (stoodStill_.count() > 0)
        problem += QStringLiteral(" (") + stoodStillText() + QLatin1Char(')');
    return problem;
}

// While the output is heard: a hole in what it played, or a monitor that delivers nothing while
// this program runs on (the server stalled), ends the recording at once.
std::optional<Recorder::Gap> Recorder::faultHeard(std::int32_t positionMs)
{
    if (!listening_ || !parts_.Output.Hears())
        return std::nullopt;
    // What the monitor heard while this program stood still is read late, in a burst, and has its
    // place on the clock once the sound after it has come: until then it is not judged.
    constexpr std::chrono::milliseconds placing{500};
    const OutputHearing sofar = parts_.Output.SoFar(positionMs);
    if (sofar.listened && Verdict::Hole(sofar.silentMs) && parts_.Platform.Now() - resumedAt_ > placing)
        return Gap{StopReason::SilentOutput, holeProblem(channel_, sofar)};
    const std::optional<std::chrono::steady_clock::time_point> heard = parts_.Output.LastHeard();
    if (!heard)
        return std::nullopt;
    const auto unheard =
        std::chrono::duration_cast<std::chrono::milliseconds>(parts_.Platform.Now() - std::max(*heard, resumedAt_));
    if (!Verdict::ServerSilent(unheard.count()))
        return std::nullopt;
    return Gap{StopReason::ServerStalled, QStringLiteral("The recording on ") + channelName()
                                              + QStringLiteral(" failed: the sound server stopped playing at ")
                                              + QString::number(positionMs)
                                              + QStringLiteral(" ms; nothing was heard from the output for ")
                                              + QString::number(unheard.count()) + QStringLiteral(" ms")};
}

void Recorder::stopListening()
{
    if (!listening_)
        return;
    listening_ = false;
    parts_.Output.Finish(0);
}

void Recorder::stopRecording(StopReason reason, const QString &problem)
{
    // A recording that failed gets REC at once; one that ends well, once its sound has faded out.
    const bool failed = Verdict::EndingOf(reason).exitStatus == Verdict::ExitFailure && channel_ != 0;
    if (failed)
        send(DeviceCommand::Stop);
    const std::exception_ptr failure = stopPlayback();
    parts_.Timer1.setEnabled(false);
    const bool recorded = channel_ != 0;
    if (recorded && playing_ && (reason == StopReason::Operator || reason == StopReason::Suspend))
        lastPosition_ = std::max(lastPosition_, parts_.MediaPlayer1.CurrentPosition());
    playing_ = false;
    if (recorded)
        endRecording(reason, problem);
    try {
        if (!failed)
            send(DeviceCommand::Stop);
    } catch (const std::exception &) {
        hearOutput();
        throw;
    }
    // REC is on its way: no channel is recording any more.
    channel_ = 0;
    parts_.ComPort1.setCrashText({});
    resetLabelColours();
    // While REC leaves: what the output let through.
    hearOutput();
    waitSent(DeviceCommand::Stop);
    if (failure)
        std::rethrow_exception(failure);
    if (recorded && !lastEnd_.problem.isEmpty())
        throw Exception(lastEnd_.problem.toStdString());
}

void Recorder::Stop(StopReason reason) { stopRecording(reason); }

void Recorder::Erase()
{
    const std::exception_ptr failure = stopPlayback();
    playing_ = false;
    parts_.Timer1.setEnabled(false);
    send(DeviceCommand::Erase);
    waitSent(DeviceCommand::Erase);
    // Runs on the window's thread on purpose: the gauges repaint synchronously at each step.
    for (GaugeOps *gauge : {&parts_.Gauge1, &parts_.Gauge2}) {
        for (int value = kGaugeFull; value >= 0; --value) {
            gauge->setProgress(value);
            parts_.Platform.Sleep(EraseStepPauseMs);
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

void Recorder::Leave(StopReason reason)
{
    if (parts_.Timer1.Enabled() || channel_ != 0)
        stopRecording(reason);
    parts_.Timer1.setEnabled(false);
}

// A line that hung up cannot be told to stop. While another is left, the recording goes on there;
// when none is, the sound stops too.
void Recorder::checkLines()
{
    const std::vector<QString> lost = parts_.ComPort1.LostLines();
    if (lost.empty())
        return;
    QStringList problems;
    for (const QString &port : lost)
        problems << QStringLiteral("The recorder on ") + port
                        + QStringLiteral(" was disconnected during the recording of ") + channelName()
                        + QStringLiteral(" and may still be recording");
    if (parts_.ComPort1.AnyLineLeft()) {
        for (const QString &problem : problems)
            report(problem);
        return;
    }
    const std::exception_ptr failure = stopPlayback();
    parts_.Timer1.setEnabled(false);
    endRecording(StopReason::LineLost, problems.join(QLatin1Char('\n')));
    hearOutput();
    channel_ = 0;
    playing_ = false;
    parts_.ComPort1.setCrashText({});
    resetLabelColours();
    if (failure)
        std::rethrow_exception(failure);
    throw Exception(lastEnd_.problem.toStdString());
}

QString Recorder::faultProblem(const PlaybackFault &fault)
{
    const QString at = QString::number(fault.atMs) + QStringLiteral(" ms");
    switch (fault.kind) {
    case PlaybackFault::None: return {};
    case PlaybackFault::OutputLost:
        return QStringLiteral("The recording on ") + channelName()
               + QStringLiteral(" is incomplete: the sound output was lost at ") + at;
    case PlaybackFault::FileDamaged:
        return QStringLiteral("The recording on ") + channelName()
               + QStringLiteral(" is incomplete: the sound file is damaged after ") + at;
    }
    return {};
}

// A lost output stands where the sound stopped being heard; a damaged file has ended where its
// data ends, which has been played.
void Recorder::stopForFault(PlaybackFault fault)
{
    const bool lost = fault.kind == PlaybackFault::OutputLost;
    if (lost)
        lastPosition_ = fault.atMs;
    else
        fault.atMs = lastPosition_;
    stopRecording(lost ? StopReason::OutputLost : StopReason::FileDamaged, faultProblem(fault));
}

// Told at the millisecond of the file that the output was playing when it changed.
void Recorder::stopForChange(const OutputChange &change)
{
    const auto since = soundSince_ ? std::chrono::duration_cast<std::chrono::milliseconds>(change.at - *soundSince_)
                                   : std::chrono::milliseconds(0);
    const QString at =
        QStringLiteral(" at ") + QString::number(std::max<std::int64_t>(0, since.count())) + QStringLiteral(" ms");
    const QString output = QStringLiteral("the output '") + change.output + QLatin1Char('\'');
    StopReason reason = StopReason::OutputLost;
    QString what;
    switch (change.kind) {
    case OutputChange::None: return;
    case OutputChange::Moved:
        reason = StopReason::OutputMoved;
        what = QStringLiteral("the sound was moved from ") + output + QStringLiteral(" to ")
               + (change.movedTo.isEmpty() ? QStringLiteral("another output")
                                           : QLatin1Char('\'') + change.movedTo + QLatin1Char('\''))
               + at;
        break;
    case OutputChange::Muted:
        reason = StopReason::OutputMuted;
        what = output + QStringLiteral(" was muted") + at;
        break;
    case OutputChange::TurnedDown:
        reason = StopReason::OutputTurnedDown;
        what = output + QStringLiteral(" was turned down to ") + change.volume + QStringLiteral(", below ")
               + change.limit + QLatin1Char(',') + at;
        break;
    case OutputChange::Removed: what = output + QStringLiteral(" was removed") + at; break;
    }
    stopRecording(reason, QStringLiteral("The recording on ") + channelName() + QStringLiteral(" failed: ") + what);
}

// Each CurrentPosition() below is its own query of the player: the sound moves on between them.
void Recorder::Tick()
{
    MediaPlayerOps &player = parts_.MediaPlayer1;
    if (channel_ != 0)
        checkLines();
    // A lost output ends the recording at once. A damaged file has ended where its data ends: the
    // recording stops when the sound up to there has been played, as at the end of a file.
    PlaybackFault fault;
    if (playing_) {
        followOwnClock();
        // So does a changed one, told first: a removed output loses the sound too.
        const OutputChange change = parts_.Output.Change();
        if (change.kind != OutputChange::None) {
            stopForChange(change);
            return;
        }
        fault = player.Fault();
        if (fault.kind == PlaybackFault::OutputLost) {
            stopForFault(fault);
            return;
        }
    }
    if (player.CurrentPosition() <= 0)
        return;
    if (!player.NotifyRequest())
        return;
    if (ActiveGSM1)
        parts_.Gauge1.setProgress(GaugeValue(player.CurrentPosition()));
    if (ActiveGSM2)
        parts_.Gauge2.setProgress(GaugeValue(player.CurrentPosition()));
    const std::int32_t shown = player.CurrentPosition();
    parts_.LCDPosition.setIndicatorstring(QString::number(shown));
    if (playing_) {
        lastPosition_ = std::max(lastPosition_, shown);
        if (!soundSince_)
            soundSince_ = parts_.Platform.Now() - std::chrono::milliseconds(shown);
        std::optional<Gap> gap = gapIn(shown);
        if (!gap)
            gap = faultHeard(shown);
        if (gap) {
            stopRecording(gap->reason, gap->problem);
            return;
        }
    }
    const std::int32_t position = player.CurrentPosition();
    StopReason reason = StopReason::Limit;
    if (position < RecordLimitMs) {
        if (player.CurrentPosition() < player.MediaLength())
            return;
        reason = StopReason::FileEnd;
    }
    if (playing_) {
        lastPosition_ = std::max(lastPosition_, position);
        // The sound thread may have met the damage, and cut the length to it, since the look above.
        if (reason == StopReason::FileEnd)
            fault = player.Fault();
    }
    if (reason == StopReason::FileEnd && fault.kind != PlaybackFault::None) {
        stopForFault(fault);
        return;
    }
    stopRecording(reason);
}

void Recorder::Start()
{
    if (parts_.Platform.waveOutGetNumDevs() == 0)
        parts_.Platform.ShowMessage(QStringLiteral("Sound card is not installed"));
    else
        parts_.MediaPlayer1.setNotifyRequest(false);
}
