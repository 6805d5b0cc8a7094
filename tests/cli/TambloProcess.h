#pragma once

// The real tamblo program as a child process, on a machine without a display: DISPLAY and
// WAYLAND_DISPLAY are removed, and QT_QPA_PLATFORM names a window system that cannot start, so
// a run that touched any would fail at once.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <chrono>
#include <ostream>
#include <vector>

struct TambloResult {
    int exitCode = -1;
    bool exited = false; // false when it crashed or had to be killed
    QString out;
    // Standard error, and apart from it its warning lines ("tamblo: warning: ...").
    QString err;
    QString warnings;
    std::chrono::milliseconds elapsed{0};
    // The lines of standard output parsed as JSON objects.
    std::vector<QJsonObject> Events() const;
};

// The environment of a run: the ports in `portsDirectory`, silent real-time sound, the history
// beside the ports.
QProcessEnvironment CommandLineEnvironment(const QString &portsDirectory);

// Runs tamblo with the arguments to its end.
TambloResult RunTamblo(const QStringList &arguments, const QProcessEnvironment &environment, int timeoutMs = 60000);

// A run that goes on while the test looks at the device.
class TambloProcess {
public:
    // With a `reader`, standard output goes through a pipe into that command instead. A `program`
    // runs instead of tamblo (one that starts tamblo itself).
    TambloProcess(const QStringList &arguments, const QProcessEnvironment &environment, const QStringList &reader = {},
                  const QString &program = QStringLiteral(TAMBLO_PATH));
    ~TambloProcess();
    qint64 Pid() const { return process_.processId(); }
    void Signal(int signalNumber);
    TambloResult Finish(int timeoutMs = 60000);

private:
    QProcess reader_;
    QProcess process_;
    std::chrono::steady_clock::time_point started_;
};

// Readable values in the tests' failure messages.
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList &texts, std::ostream *out)
{
    *out << texts.join(QStringLiteral(" | ")).toStdString();
}
inline void PrintTo(const QJsonValue &value, std::ostream *out)
{
    *out << QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).toStdString();
}
