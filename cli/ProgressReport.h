#pragma once

#include "recorder/Recorder.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

// What a command tells its user while it runs. On a terminal a recording is one line that
// redraws; elsewhere only the result is printed; with --json every event is one JSON object a
// line on standard output. Errors always go to standard error as well.
class ProgressReport {
public:
    enum Mode { Terminal, Plain, Json };

    ProgressReport(Mode mode, std::FILE *out, std::FILE *err);

    // A command left for these ports; it did not leave for those.
    void Sent(const QString &command, const QStringList &ports);
    void NotDelivered(const QString &command, const QStringList &ports);
    // The sound plays onto the channel (the file's path byte for byte).
    void Playing(const std::string &file, int channel, int lengthMs, const QString &lengthText);
    // The gauge value, then the position, of one tick.
    void Gauge(int value);
    void Position(int positionMs);
    // The recording ended; what was heard at the output, where it was listened to.
    void Stopped(StopReason reason, int positionMs, const OutputHearing &heard = {});
    // A failure; `port` names the port it happened on, if any.
    void Error(const QString &message, const QString &port = QString());
    // Something the user should know that does not stop the command.
    void Warning(const QString &message);
    // The closing line of a command that succeeded (not printed with --json).
    void Result(const QString &text);

    // Positions are reported once every this many milliseconds of sound.
    static constexpr int PositionStepMs = 100;
    static constexpr int BarWidth = 20;

    // "GSM1 tone.wav [##########----------]  4200 ms": the bar shows the position against the
    // length, or against 10 s for a longer file; the output's level follows where it is known
    // ("  −12.3 dBFS"). With `columns`, the name is cut so that the line fits that many columns less one.
    static QString ProgressLine(int channel, const QString &name, int positionMs, int lengthMs, int columns = 0,
                                std::optional<double> levelDb = std::nullopt);
    // The object as one line of compact JSON, with its line end.
    static QByteArray JsonLine(const QJsonObject &object);
    // A level in JSON: a number, or null for nothing heard at all.
    static QJsonValue LevelJson(double db);

    // The level at the output now, where the output is listened to.
    std::function<std::optional<double>()> OutputLevel;

private:
    void emitJson(const QString &event, QJsonObject fields);
    void endLine();
    void drawLine(int positionMs);

    Mode mode_;
    std::FILE *out_;
    std::FILE *err_;
    std::chrono::steady_clock::time_point started_;
    QString file_;
    int channel_ = 0;
    int lengthMs_ = 0;
    int gauge_ = 0;
    int lastStep_ = -1;
    bool lineOpen_ = false;
};
