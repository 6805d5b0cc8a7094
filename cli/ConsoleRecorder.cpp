#include "cli/ConsoleRecorder.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <new>

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailure = 1;
// A process ended by signal n reports 128 + n.
constexpr int kSignalBase = 128;

} // namespace

ConsoleRecorder::ConsoleRecorder(const QList<PortArgument> &ports, ProgressReport &report)
    : report_(report),
      ports_(ports),
      display_(report),
      gauge1_(report),
      gauge2_(report),
      timerOps_(timer_),
      recorder_(RecorderParts{ports_, player_, timerOps_, gauge1_, gauge2_, display_, recGsm1_, recGsm2_, fname_,
                              labelLength_, panel_, platform_})
{
    timer_.setInterval(Recorder::TimerIntervalMs);
    timer_.setTimerType(Qt::PreciseTimer);
    ports_.OnFailure = [this](const QString &port, const QString &message) { report_.Error(message, port); };
    ports_.OnSent = [this](const QString &command, const QStringList &took) {
        sentTo_ = took;
        report_.Sent(command, took);
    };
}

ConsoleRecorder::~ConsoleRecorder() { timer_.stop(); }

bool ConsoleRecorder::run(const std::function<void()> &verb)
{
    try {
        verb();
        return true;
    } catch (const PortFanOut::ENoPortTook &) {
        // Each port has said why already.
    } catch (const std::bad_alloc &) {
        report_.Error(QString::fromStdString(EOutOfMemory().Message()));
    } catch (const std::exception &error) {
        report_.Error(QString::fromLocal8Bit(error.what()));
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
    if (termination_.Received() != 0)
        return kSignalBase + termination_.Received();
    return failed_ || ports_.AnyFailed() ? kExitFailure : kExitDone;
}

int ConsoleRecorder::Record(int channel, const QString &file)
{
    // The sound output and the file come first: a file that cannot play sends nothing.
    if (!run([this] { recorder_.Start(); }))
        return exitStatus();
    if (!platform_.Message().isEmpty()) {
        report_.Error(platform_.Message());
        return kExitFailure;
    }
    if (!run([&] { recorder_.Load(file); }) || !openPorts())
        return exitStatus();
    const int lengthMs = player_.MediaLength();

    QEventLoop loop;
    QObject::connect(&timer_, &QTimer::timeout, &loop, [&] {
        const bool ticked = run([this] { recorder_.Tick(); });
        if (!ticked || !timer_.isActive())
            loop.quit();
    });
    QObject::connect(&termination_, &TerminationSignals::Arrived, &loop, [&] {
        // As the window does when it is closed: a recording in progress is stopped first.
        run([this] { recorder_.Leave(); });
        loop.quit();
    });
    if (!run([&] { recorder_.Record(channel); }))
        return exitStatus();
    report_.Playing(file, channel, lengthMs, labelLength_.Caption());
    loop.exec();

    const int position = display_.Position();
    ProgressReport::Reason reason = position >= lengthMs ? ProgressReport::FileEnd : ProgressReport::Limit;
    if (termination_.Received() != 0)
        reason = ProgressReport::Interrupted;
    report_.Stopped(reason, position);
    report_.Result(QStringLiteral("GSM%1 on %2: recorded %3, %4 ms, %5")
                       .arg(channel)
                       .arg(sentTo_.join(QStringLiteral(", ")), file)
                       .arg(position)
                       .arg(ProgressReport::ReasonText(reason)));
    return exitStatus();
}

int ConsoleRecorder::sendOnly(void (Recorder::*verb)(), DeviceCommand command)
{
    if (!openPorts() || !run([this, verb] { (recorder_.*verb)(); }))
        return exitStatus();
    const QString word = QString::fromLatin1(CommandWord(command).data(), qsizetype(CommandWord(command).size()));
    report_.Result(QStringLiteral("sent ") + word + QStringLiteral(" to ") + sentTo_.join(QStringLiteral(", ")));
    return exitStatus();
}

int ConsoleRecorder::Erase() { return sendOnly(&Recorder::Erase, DeviceCommand::Erase); }

int ConsoleRecorder::Stop() { return sendOnly(&Recorder::Stop, DeviceCommand::Stop); }
