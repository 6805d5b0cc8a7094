#include "cli/ProgressReport.h"

#include "cli/TerminalText.h"
#include "media/SoundLevel.h"
#include "recorder/DisplayName.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>

ProgressReport::ProgressReport(Mode mode, std::FILE *out, std::FILE *err)
    : mode_(mode),
      out_(out),
      err_(err),
      started_(std::chrono::steady_clock::now())
{}

QString ProgressReport::ProgressLine(int channel, const QString &name, int positionMs, int lengthMs, int columns,
                                     std::optional<double> levelDb)
{
    const int span = std::min(lengthMs, Recorder::RecordLimitMs);
    const int filled = span > 0 ? int(std::clamp<qint64>(qint64(positionMs) * BarWidth / span, 0, BarWidth)) : 0;
    const QString head = QStringLiteral("GSM") + QString::number(channel) + QLatin1Char(' ');
    const QString level = levelDb
                              ? QStringLiteral("  ") + QString::fromStdString(DecibelText(*levelDb)).rightJustified(6)
                                    + QStringLiteral(" dBFS")
                              : QString();
    const QString tail = QStringLiteral(" [") + QString(filled, QLatin1Char('#'))
                         + QString(BarWidth - filled, QLatin1Char('-')) + QStringLiteral("] ")
                         + QStringLiteral("%1").arg(positionMs, 5) + QStringLiteral(" ms") + level;
    // The last column stays free: a line that fills it wraps on some terminals.
    const int room = columns > 0 ? std::max(columns - 1 - int(head.size() + tail.size()), 3) : 0;
    return head + FitToColumns(name, room) + tail;
}

QByteArray ProgressReport::JsonLine(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QJsonValue ProgressReport::LevelJson(double db)
{
    return std::isfinite(db) ? QJsonValue(std::round(db * 10) / 10) : QJsonValue();
}

void ProgressReport::emitJson(const QString &event, QJsonObject fields)
{
    fields.insert(QStringLiteral("event"), event);
    const auto elapsed = std::chrono::steady_clock::now() - started_;
    fields.insert(QStringLiteral("time_ms"),
                  qint64(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
    const QByteArray line = JsonLine(fields);
    std::fwrite(line.constData(), 1, std::size_t(line.size()), out_);
    std::fflush(out_);
}

void ProgressReport::endLine()
{
    if (!lineOpen_)
        return;
    std::fputs("\n", out_);
    std::fflush(out_);
    lineOpen_ = false;
}

void ProgressReport::Sent(const QString &command, const QStringList &ports)
{
    if (mode_ == Json)
        emitJson(QStringLiteral("sent"),
                 {{QStringLiteral("command"), command}, {QStringLiteral("ports"), QJsonArray::fromStringList(ports)}});
}

void ProgressReport::NotDelivered(const QString &command, const QStringList &ports)
{
    if (mode_ == Json)
        emitJson(QStringLiteral("not-delivered"),
                 {{QStringLiteral("command"), command}, {QStringLiteral("ports"), QJsonArray::fromStringList(ports)}});
}

void ProgressReport::Playing(const std::string &file, int channel, int lengthMs, const QString &lengthText)
{
    const std::size_t slash = file.rfind('/');
    file_ = DisplayName(slash == std::string::npos ? file : file.substr(slash + 1));
    channel_ = channel;
    lengthMs_ = lengthMs;
    gauge_ = 0;
    lastStep_ = -1;
    if (mode_ == Json) {
        emitJson(QStringLiteral("playing"), {{QStringLiteral("file"), DisplayName(file)},
                                             {QStringLiteral("channel"), channel},
                                             {QStringLiteral("length_ms"), lengthMs},
                                             {QStringLiteral("length_text"), lengthText}});
    } else if (mode_ == Terminal) {
        Position(0);
    }
}

void ProgressReport::Gauge(int value) { gauge_ = value; }

void ProgressReport::Position(int positionMs)
{
    const int step = positionMs / PositionStepMs;
    if (step <= lastStep_)
        return;
    lastStep_ = step;
    if (mode_ == Json) {
        QJsonObject fields{{QStringLiteral("ms"), positionMs}, {QStringLiteral("gauge"), gauge_}};
        if (const std::optional<double> level = OutputLevel ? OutputLevel() : std::nullopt)
            fields.insert(QStringLiteral("level_dbfs"), LevelJson(*level));
        emitJson(QStringLiteral("position"), fields);
    } else if (mode_ == Terminal) {
        drawLine(positionMs);
    }
}

void ProgressReport::drawLine(int positionMs)
{
    const QByteArray line = ProgressLine(channel_, file_, positionMs, lengthMs_, TerminalColumns(out_),
                                         OutputLevel ? OutputLevel() : std::nullopt)
                                .toLocal8Bit();
    std::fprintf(out_, "\r%s\033[K", line.constData());
    std::fflush(out_);
    lineOpen_ = true;
}

void ProgressReport::Stopped(StopReason reason, int positionMs, const OutputHearing &heard)
{
    if (mode_ == Json) {
        QJsonObject fields{{QStringLiteral("reason"), QLatin1String(Verdict::EndingOf(reason).word)},
                           {QStringLiteral("ms"), positionMs}};
        if (heard.listened)
            fields.insert(QStringLiteral("heard"), QJsonObject{{QStringLiteral("output"), heard.output},
                                                               {QStringLiteral("peak_dbfs"), LevelJson(heard.peakDb)},
                                                               {QStringLiteral("rms_dbfs"), LevelJson(heard.rmsDb)},
                                                               {QStringLiteral("silent_ms"), heard.silentMs}});
        emitJson(QStringLiteral("stopped"), fields);
    } else if (mode_ == Terminal) {
        drawLine(positionMs);
        endLine();
    }
}

void ProgressReport::Error(const QString &message, const QString &port)
{
    endLine();
    if (mode_ == Json) {
        QJsonObject fields{{QStringLiteral("message"), message}};
        if (!port.isEmpty())
            fields.insert(QStringLiteral("port"), port);
        emitJson(QStringLiteral("error"), fields);
    }
    const QString text = port.isEmpty() ? message : port + QStringLiteral(": ") + message;
    std::fprintf(err_, "tamblo: %s\n", text.toLocal8Bit().constData());
    std::fflush(err_);
}

void ProgressReport::Warning(const QString &message)
{
    endLine();
    if (mode_ == Json)
        emitJson(QStringLiteral("warning"), {{QStringLiteral("message"), message}});
    std::fprintf(err_, "tamblo: warning: %s\n", message.toLocal8Bit().constData());
    std::fflush(err_);
}

void ProgressReport::Result(const QString &text)
{
    if (mode_ == Json)
        return;
    endLine();
    std::fprintf(out_, "%s\n", text.toLocal8Bit().constData());
    std::fflush(out_);
}
