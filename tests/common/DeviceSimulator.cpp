#include "tests/common/DeviceSimulator.h"

#include <csignal>

#include "tests/common/ChildProcess.h"

#include <QTest>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

QString PrivateLockDirectory()
{
    static const QTemporaryDir locks;
    // Open to every user, as /var/lock is, for the runs under another user.
    static const bool shared = chmod(locks.path().toLocal8Bit().constData(), 01777) == 0;
    (void)shared;
    return locks.path();
}

DeviceSimulator::DeviceSimulator(int com, const QString &portsDirectory)
    : com_(com),
      directory_(portsDirectory.isEmpty() ? ownPorts_.path() : portsDirectory)
{}

DeviceSimulator::~DeviceSimulator()
{
    Terminate(pid_);
    notifier_.reset();
    if (output_ >= 0)
        close(output_);
}

bool DeviceSimulator::Start(QString *error)
{
    if (directory_.isEmpty()) {
        *error = QStringLiteral("no temporary directory for the ports");
        return false;
    }
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        *error = QStringLiteral("no pipe for the device simulator: ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    output_ = pipeEnds[0];
    fcntl(output_, F_SETFL, fcntl(output_, F_GETFL) | O_NONBLOCK);
    pid_ = Spawn({TAMBLO_DEVSIM_PATH, "--ports", directory_.toStdString(), "--com", std::to_string(com_)},
                 ChildEnvironment({{"TAMBLO_LOCK_DIR", PrivateLockDirectory().toStdString()}}), pipeEnds[1],
                 STDERR_FILENO);
    close(pipeEnds[1]);
    if (pid_ < 0) {
        *error = QStringLiteral("the device simulator did not start");
        return false;
    }
    // The first line names the published port; from then on the port can be opened.
    while (pending_.indexOf('\n') < 0) {
        if (!waitForOutput(5000)) {
            *error = QStringLiteral("the device simulator published no port");
            return false;
        }
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
    notifier_ = std::make_unique<QSocketNotifier>(output_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { readOutput(); });
    return true;
}

// Waits until the simulator printed something more, or it ended, or the time is up.
bool DeviceSimulator::waitForOutput(int timeoutMs)
{
    pollfd entry{output_, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) > 0 && takeOutput();
}

bool DeviceSimulator::takeOutput()
{
    char buffer[4096];
    ssize_t got = -1;
    bool took = false;
    while (output_ >= 0 && (got = read(output_, buffer, sizeof buffer)) > 0) {
        pending_.append(buffer, got);
        took = true;
    }
    // The simulator ended: its pipe stays readable at its end, which must not wake us forever.
    if (got == 0 && notifier_)
        notifier_->setEnabled(false);
    return took;
}

void DeviceSimulator::readOutput()
{
    takeOutput();
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

bool DeviceSimulator::Signal(int signalNumber, const QString &said)
{
    const auto count = [&] {
        int seen = 0;
        for (const DeviceLine &line : Lines())
            seen += line.text == said ? 1 : 0;
        return seen;
    };
    const int before = count();
    ::kill(pid_, signalNumber);
    return QTest::qWaitFor([&] { return count() > before; }, 10000);
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
