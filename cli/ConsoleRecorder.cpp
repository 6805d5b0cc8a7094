#include "cli/ConsoleRecorder.h"

#include "cli/TerminalText.h"
#include "media/SoundLevel.h"
#include "recorder/DisplayName.h"
#include "recorder/RecordingHistory.h"
#include "serial/PortInventory.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <new>

namespace {

// A terminal needs no more than twenty looks a second, and a fault or an unplugged line is met
// within that; each wake costs the machine more than the look itself.
constexpr int kCalmTickMs = 50;

} // namespace

ConsoleRecorder::ConsoleRecorder(const QList<PortArgument> &ports, ProgressReport &report)
    : report_(report),
      ports_(ports),
      display_(report),
      gauge1_(report),
      gauge2_(report),
      output_(watch_),
      portArguments_(ports),
      timerOps_(timer_),
      recorder_(RecorderParts{ports_, player_, timerOps_, gauge1_, gauge2_, display_, recGsm1_, recGsm2_, fname_,
                              labelLength_, panel_, platform_, output_})
{
    timer_.setInterval(Recorder::TimerIntervalMs);
    timer_.setTimerType(Qt::PreciseTimer);
    ports_.OnFailure = [this](const QString &port, const QString &message) { report_.Error(message, port); };
    ports_.OnSent = [this](const QString &command, const QStringList &took) {
        const auto is = [&command](DeviceCommand known) {
            const std::string_view word = CommandWord(known);
            return command == QLatin1String(word.data(), qsizetype(word.size()));
        };
        if (is(DeviceCommand::Record1) || is(DeviceCommand::Record2)) {
            recordingOn_ = took;
            recordedOn_.clear();
        } else if (is(DeviceCommand::Stop)) {
            for (const QString &port : std::as_const(recordingOn_))
                if (took.contains(port) && !recordedOn_.contains(port))
                    recordedOn_ << port;
        }
        report_.Sent(command, took);
    };
    ports_.OnNotDelivered = [this](const QString &command, const QStringList &missed) {
        report_.NotDelivered(command, missed);
    };
    recorder_.OnProblem = [this](const QString &problem) {
        failed_ = true;
        report_.Error(problem);
    };
    output_.OnForced = [this](const std::string &refusal) {
        report_.Warning(QString::fromStdString(refusal) + QStringLiteral("; recording anyway (--force)"));
    };
    report_.OutputLevel = [this] {
        return watch_.Listening() ? std::optional<double>(watch_.Live().peakDb) : std::nullopt;
    };
}

ConsoleRecorder::~ConsoleRecorder() { timer_.stop(); }

bool ConsoleRecorder::run(const std::function<void()> &verb, const QString &subject)
{
    const auto fail = [&](const QString &message) {
        report_.Error(subject.isEmpty() ? message : subject + QStringLiteral(": ") + message);
    };
    try {
        verb();
        return true;
    } catch (const PortFanOut::ENoPortTook &) {
        // Each port has said why already.
    } catch (const std::bad_alloc &) {
        fail(QString::fromStdString(EOutOfMemory().Message()));
    } catch (const std::exception &error) {
        fail(QString::fromLocal8Bit(error.what()));
    }
    failed_ = true;
    return false;
}

bool ConsoleRecorder::interrupted()
{
    // A signal that came while the event loop was not running is still waiting to be read.
    QCoreApplication::processEvents();
    return termination_.Received() != 0;
}

bool ConsoleRecorder::openPorts()
{
    if (!ports_.Open()) {
        failed_ = true;
        return false;
    }
    return !interrupted();
}

int ConsoleRecorder::exitStatus() const
{
    return Verdict::ExitStatus(failed_ || ports_.AnyFailed(), termination_.Received());
}

int ConsoleRecorder::Record(int channel, const std::string &file, const OutputChoice &output)
{
    watch_.setChoice(output.name);
    watch_.setMinimumDb(output.minimumDb);
    output_.force = output.force;
    std::string unchosen;
    const OutputWatch::Choice choice = watch_.Choose(&unchosen);
    if (choice != OutputWatch::Choice::Made) {
        report_.Error(QString::fromStdString(unchosen));
        return choice == OutputWatch::Choice::Unknown ? Verdict::ExitUsage : Verdict::ExitFailure;
    }
    // The sound output and the file come first: a file that cannot play sends nothing.
    if (!run([this] { recorder_.Start(); }))
        return exitStatus();
    if (!platform_.Message().isEmpty()) {
        report_.Error(platform_.Message());
        return Verdict::ExitFailure;
    }
    if (!run([&] { recorder_.Load(file); }, DisplayName(file)))
        return exitStatus();
    if (watch_.Measured()) {
        for (const std::string &warning : SoundWarnings(*watch_.Measured()))
            report_.Warning(DisplayName(file) + QStringLiteral(": ") + QString::fromStdString(warning));
    }
    if (!openPorts())
        return exitStatus();
    const int lengthMs = player_.MediaLength();

    QEventLoop loop;
    QObject::connect(&timer_, &QTimer::timeout, &loop, [&] {
        const bool ticked = run([this] { recorder_.Tick(); });
        if (!ticked || !timer_.isActive())
            loop.quit();
        else
            paceTicks();
    });
    QObject::connect(&termination_, &TerminationSignals::Arrived, &loop, [&] {
        // As the window does when it is closed: a recording in progress is stopped first.
        run([this] { recorder_.Leave(StopReason::Signal); });
        loop.quit();
    });
    QObject::connect(&termination_, &TerminationSignals::Suspending, &loop, [&] {
        // The device must not record while the program stands still: REC has left before it stops.
        if (recorder_.Recording()) {
            run([this] { recorder_.Stop(StopReason::Suspend); });
            loop.quit();
        }
        termination_.Suspend();
    });
    if (!run([&] { recorder_.Record(channel); }))
        return exitStatus();
    report_.Playing(file, channel, lengthMs, labelLength_.Caption());
    loop.exec();

    const RecordingEnd &end = recorder_.LastEnd();
    report_.Stopped(end.reason, end.playedMs, end.heard);
    // A recorder that REC did not reach may still be recording: it has said so, and is not
    // counted among those that recorded the file.
    if (!recordedOn_.isEmpty())
        report_.Result(QStringLiteral("GSM") + QString::number(channel) + QStringLiteral(" on ")
                       + recordedOn_.join(QStringLiteral(", ")) + QStringLiteral(": recorded ") + DisplayName(file)
                       + QStringLiteral(", ") + QString::number(end.playedMs) + QStringLiteral(" ms, ")
                       + QLatin1String(Verdict::EndingOf(end.reason).text));
    reportHeard(end);
    if (!end.note.isEmpty())
        report_.Warning(end.note);
    keepHistory(end);
    return exitStatus();
}

// Looks calmly while much of the sound is left, and every tick once its end is near, so that REC
// leaves as soon as the last of it has been played.
void ConsoleRecorder::paceTicks()
{
    const std::int32_t end = std::min(player_.MediaLength(), Recorder::RecordLimitMs);
    const std::int32_t left = end - player_.CurrentPosition();
    const int interval = left > kCalmTickMs + Recorder::TimerIntervalMs ? kCalmTickMs : Recorder::TimerIntervalMs;
    if (timer_.interval() != interval)
        timer_.setInterval(interval);
}

// "GSM1: 3.000 s recorded, peak −3.1 dBFS at the output"
void ConsoleRecorder::reportHeard(const RecordingEnd &end)
{
    if (!end.heard.listened)
        return;
    const QString recorded = QStringLiteral("GSM") + QString::number(end.channel) + QStringLiteral(": ")
                             + QString::fromStdString(SecondsText(end.playedMs)) + QStringLiteral(" recorded, ");
    report_.Result(recorded
                   + (std::isinf(end.heard.peakDb)
                          ? QStringLiteral("nothing heard")
                          : QStringLiteral("peak ") + QString::fromStdString(DecibelText(end.heard.peakDb))
                                + QStringLiteral(" dBFS"))
                   + QStringLiteral(" at the output"));
}

// One entry for each recorder that the record command reached.
void ConsoleRecorder::keepHistory(const RecordingEnd &end)
{
    if (end.number == 0)
        return;
    RecordingEntry entry = RecordingHistory::EntryOf(end);
    entry.exitStatus = exitStatus();
    const RecordingHistory history;
    for (const PortArgument &port : portArguments_) {
        if (!recordingOn_.contains(port.name))
            continue;
        const PortDetails details = DescribeHeldPort(port.comNumber, QFile::encodeName(port.devicePath).toStdString());
        entry.port = port.name.toStdString();
        entry.device = details.Device;
        entry.usbSerial = details.UsbSerial;
        std::string error;
        if (!history.Append(entry, &error))
            report_.Warning(QStringLiteral("the recording is not in the history: ")
                            + QString::fromLocal8Bit(error.c_str()));
    }
}

int ConsoleRecorder::sendOnly(const std::function<void()> &verb, DeviceCommand command)
{
    if (!openPorts() || !run(verb))
        return exitStatus();
    // Only the ports that the command reached are named: one whose line stalled has said so.
    if (!ports_.Delivered().isEmpty()) {
        const std::string_view word = CommandWord(command);
        report_.Result(QStringLiteral("sent ") + QString::fromLatin1(word.data(), qsizetype(word.size()))
                       + QStringLiteral(" to ") + ports_.Delivered().join(QStringLiteral(", ")));
    }
    return exitStatus();
}

int ConsoleRecorder::Erase()
{
    return sendOnly([this] { recorder_.Erase(); }, DeviceCommand::Erase);
}

int ConsoleRecorder::Stop()
{
    return sendOnly([this] { recorder_.Stop(); }, DeviceCommand::Stop);
}
