#include "tests/common/DeviceSimulator.h"

#include <QTest>

using Clock = std::chrono::steady_clock;

DeviceSimulator::DeviceSimulator(int com, const QString &portsDirectory)
    : com_(com),
      directory_(portsDirectory.isEmpty() ? ownPorts_.path() : portsDirectory)
{}

DeviceSimulator::~DeviceSimulator()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(1000);
    }
}

bool DeviceSimulator::Start(QString *error)
{
    if (directory_.isEmpty()) {
        *error = QStringLiteral("no temporary directory for the ports");
        return false;
    }
    process_.setProgram(QStringLiteral(TAMBLO_DEVSIM_PATH));
    process_.setArguments({QStringLiteral("--ports"), directory_, QStringLiteral("--com"), QString::number(com_)});
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start();
    if (!process_.waitForStarted(5000)) {
        *error = QStringLiteral("the device simulator did not start: ") + process_.errorString();
        return false;
    }
    // The first line names the published port; from then on the port can be opened.
    while (pending_.indexOf('\n') < 0) {
        if (!process_.waitForReadyRead(5000)) {
            *error = QStringLiteral("the device simulator published no port");
            return false;
        }
        pending_ += process_.readAllStandardOutput();
    }
    const qsizetype end = pending_.indexOf('\n');
    const QByteArray first = pending_.left(end);
    pending_.remove(0, end + 1);
    // "<ms> COMn -> /dev/pts/N (monotonic <ms>)": the simulator's clock on our steady clock.
    const qsizetype mark = first.indexOf("(monotonic ");
    if (mark < 0 || !first.endsWith(')')) {
        *error = QStringLiteral("the device simulator did not give its clock: ") + QString::fromUtf8(first);
        return false;
    }
    const double monotonicMs = first.mid(mark + 11).chopped(1).toDouble();
    started_ = Clock::time_point(
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(monotonicMs)));
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, &process_, [this] { readOutput(); });
    return true;
}

void DeviceSimulator::readOutput()
{
    pending_ += process_.readAllStandardOutput();
    qsizetype end;
    while ((end = pending_.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(pending_.left(end));
        pending_.remove(0, end + 1);
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        if (space > 0)
            lines_.push_back({line.left(space).toDouble(), line.mid(space + 1)});
    }
}

std::vector<DeviceLine> DeviceSimulator::Lines()
{
    readOutput();
    return lines_;
}

QStringList DeviceSimulator::Commands()
{
    static const QStringList known{QStringLiteral("REC1"), QStringLiteral("REC2"), QStringLiteral("REC"),
                                   QStringLiteral("ERASE")};
    QStringList commands;
    for (const DeviceLine &line : Lines()) {
        if (known.contains(line.text) || line.text.startsWith(QStringLiteral("unknown command")))
            commands << line.text;
    }
    return commands;
}

bool DeviceSimulator::WaitForCommand(const QString &command, int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return Commands().count(command) >= count; }, timeoutMs);
}

std::optional<Clock::time_point> DeviceSimulator::Arrival(const QString &command, int occurrence)
{
    int seen = 0;
    for (const DeviceLine &line : Lines()) {
        if (line.text == command && ++seen == occurrence)
            return started_
                   + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(line.ms));
    }
    return std::nullopt;
}
