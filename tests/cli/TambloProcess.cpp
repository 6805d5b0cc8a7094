#include "tests/cli/TambloProcess.h"

#include "tests/common/DeviceSimulator.h"

#include <QJsonDocument>
#include <csignal>

std::vector<QJsonObject> TambloResult::Events() const
{
    std::vector<QJsonObject> events;
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        events.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
    return events;
}

QProcessEnvironment CommandLineEnvironment(const QString &portsDirectory)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "TAMBLO_PORT", "TAMBLO_OUTPUT", "SDL_DISKAUDIOFILE"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    environment.insert(QStringLiteral("TAMBLO_PORTS"), portsDirectory);
    environment.insert(QStringLiteral("TAMBLO_LOCK_DIR"), PrivateLockDirectory());
    // The recordings' history is kept beside the ports, not in the user's own.
    environment.insert(QStringLiteral("XDG_STATE_HOME"), portsDirectory + QStringLiteral("/state"));
    // In a sanitizer build: libpulse is built without frame pointers, so only the slow unwinder
    // sees the whole stack of SDL's known leak at exit, which the project's suppressions name.
    const QString leakOptions = environment.value(QStringLiteral("LSAN_OPTIONS"));
    if (!leakOptions.isEmpty())
        environment.insert(QStringLiteral("LSAN_OPTIONS"), leakOptions + QStringLiteral(":fast_unwind_on_malloc=0"));
    return environment;
}

TambloResult RunTamblo(const QStringList &arguments, const QProcessEnvironment &environment, int timeoutMs)
{
    TambloProcess process(arguments, environment);
    return process.Finish(timeoutMs);
}

TambloProcess::TambloProcess(const QStringList &arguments, const QProcessEnvironment &environment,
                             const QStringList &reader, const QString &program)
{
    if (!reader.isEmpty()) {
        process_.setStandardOutputProcess(&reader_);
        reader_.start(reader.front(), reader.mid(1));
    }
    process_.setProgram(program);
    process_.setArguments(arguments);
    process_.setProcessEnvironment(environment);
    started_ = std::chrono::steady_clock::now();
    process_.start();
    process_.waitForStarted(10000);
}

TambloProcess::~TambloProcess()
{
    for (QProcess *process : {&process_, &reader_}) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

void TambloProcess::Signal(int signalNumber) { ::kill(pid_t(process_.processId()), signalNumber); }

TambloResult TambloProcess::Finish(int timeoutMs)
{
    TambloResult result;
    result.exited = process_.waitForFinished(timeoutMs) && process_.exitStatus() == QProcess::NormalExit;
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_);
    if (!result.exited) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    result.exitCode = process_.exitCode();
    result.out = QString::fromLocal8Bit(process_.readAllStandardOutput());
    const QStringList lines = QString::fromLocal8Bit(process_.readAllStandardError()).split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString &part = lines[i].startsWith(QStringLiteral("tamblo: warning: ")) ? result.warnings : result.err;
        part += i + 1 < lines.size() ? lines[i] + QLatin1Char('\n') : lines[i];
    }
    return result;
}
