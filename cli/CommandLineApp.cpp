#include "cli/CommandLineApp.h"

#include "cli/CommandLine.h"
#include "cli/ConsolePlayer.h"
#include "cli/ConsoleRecorder.h"
#include "cli/PortArguments.h"
#include "cli/ProgressReport.h"
#include "cli/TerminalText.h"
#include "cli/Version.h"
#include "media/SoundAnalysis.h"
#include "media/SoundOutputs.h"
#include "recorder/DisplayName.h"
#include "recorder/Recorder.h"
#include "recorder/RecordingHistory.h"
#include "serial/DeviceLayer.h"
#include "serial/PortInventory.h"
#include "serial/SystemErrors.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// What info measures of a file at most: a longer one is told by its first hour.
constexpr std::int64_t kLongestMeasureMs = 3600 * 1000;

void Print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// The text holds the user's arguments byte for byte: they are shown escaped where they are not text.
int UsageError(const QString &error)
{
    Print(stderr, QStringLiteral("tamblo: ") + DisplayName(error.toLatin1().toStdString())
                      + QStringLiteral("\nTry 'tamblo --help' for more information.\n"));
    return Verdict::ExitUsage;
}

QString PortName(const PortDetails &port)
{
    return port.ComNumber > 0 ? QStringLiteral("COM") + QString::number(port.ComNumber)
                              : QString::fromLocal8Bit(port.Path.c_str());
}

QStringList ExistingPortNames()
{
    QStringList names;
    for (const PortDetails &port : ListPorts())
        names << PortName(port);
    return names;
}

QJsonObject PortJson(const PortDetails &port)
{
    const auto text = [](const std::string &value) { return QString::fromLocal8Bit(value.c_str()); };
    QJsonArray stableNames;
    for (const std::string &name : port.StableNames)
        stableNames.append(text(name));
    QJsonObject object{{QStringLiteral("name"), PortName(port)},
                       {QStringLiteral("com"), port.ComNumber},
                       {QStringLiteral("path"), text(port.Path)},
                       {QStringLiteral("device"), text(port.Device)},
                       {QStringLiteral("by_id"), stableNames},
                       {QStringLiteral("driver"), text(port.Driver)},
                       {QStringLiteral("state"), QLatin1String(PortAccessText(port.Access))}};
    if (!port.UsbVendorId.empty()) {
        object.insert(QStringLiteral("usb"), QJsonObject{{QStringLiteral("vendor_id"), text(port.UsbVendorId)},
                                                         {QStringLiteral("product_id"), text(port.UsbProductId)},
                                                         {QStringLiteral("manufacturer"), text(port.UsbManufacturer)},
                                                         {QStringLiteral("product"), text(port.UsbProduct)},
                                                         {QStringLiteral("serial"), text(port.UsbSerial)}});
    }
    return object;
}

// A ports folder that does not exist leaves no port at all: say so rather than list nothing.
bool PortsDirectoryMissing()
{
    const int error = CheckPortsDirectory();
    if (error != 0)
        Print(stderr, QStringLiteral("tamblo: %1\n").arg(QString::fromLocal8Bit(SystemErrorText(error).c_str())));
    return error != 0;
}

int ListThePorts(bool json)
{
    if (PortsDirectoryMissing())
        return Verdict::ExitFailure;
    const std::vector<PortDetails> ports = ListPorts();
    for (const PortDetails &port : ports) {
        if (json)
            Print(stdout, QString::fromUtf8(ProgressReport::JsonLine(PortJson(port))));
        else
            Print(stdout, PortName(port).leftJustified(5) + QStringLiteral("  ")
                              + QString::fromLocal8Bit(DescribePort(port).c_str()) + QLatin1Char('\n'));
    }
    if (ports.empty() && !json)
        Print(stderr, QStringLiteral("tamblo: no serial port found\n"));
    return Verdict::ExitDone;
}

QString Text(const std::string &text) { return QString::fromStdString(text); }

QString Decibels(double db, const char *unit) { return Text(DecibelText(db)) + QLatin1Char(' ') + QLatin1String(unit); }

// The analysis's lines below a file's first: its levels, then what an operator should know.
QString MeasuredLines(const SoundAnalysis &analysis)
{
    QString text = QStringLiteral("  peak ") + Decibels(analysis.peakDb, "dBFS") + QStringLiteral(", loudness ")
                   + Decibels(analysis.loudnessLufs, "LUFS") + QStringLiteral(", silence ")
                   + QString::number(analysis.leadingSilenceMs) + QStringLiteral(" ms at the start and ")
                   + QString::number(analysis.trailingSilenceMs) + QStringLiteral(" ms at the end");
    if (analysis.measuredMs < analysis.info.lengthMs)
        text += QStringLiteral(" (of its first ") + Recorder::LengthText(analysis.measuredMs) + QLatin1Char(')');
    text += QLatin1Char('\n');
    for (const std::string &warning : SoundWarnings(analysis))
        text += QStringLiteral("  ") + Text(warning) + QLatin1Char('\n');
    return text;
}

QJsonObject MeasuredJson(const SoundAnalysis &analysis)
{
    QJsonArray warnings;
    if (const std::string damage = DamageText(analysis); !damage.empty())
        warnings.append(Text(damage));
    for (const std::string &warning : SoundWarnings(analysis))
        warnings.append(Text(warning));
    return {{QStringLiteral("peak_dbfs"), ProgressReport::LevelJson(analysis.peakDb)},
            {QStringLiteral("loudness_lufs"), ProgressReport::LevelJson(analysis.loudnessLufs)},
            {QStringLiteral("leading_silence_ms"), qint64(analysis.leadingSilenceMs)},
            {QStringLiteral("trailing_silence_ms"), qint64(analysis.trailingSilenceMs)},
            {QStringLiteral("measured_ms"), qint64(analysis.measuredMs)},
            {QStringLiteral("clips"), qint64(analysis.clips)},
            {QStringLiteral("warnings"), warnings}};
}

int DescribeFiles(const std::vector<std::string> &files, bool json)
{
    int status = Verdict::ExitDone;
    for (const std::string &file : files) {
        const QString name = DisplayName(file);
        SoundAnalysis analysis;
        const MCIERROR result = AnalyseSound(file, analysis, kLongestMeasureMs);
        const SoundInfo &info = analysis.info;
        QString error;
        if (result != MMSYSERR_NOERROR)
            error = QString::fromLocal8Bit(ConsolePlayer::ResultText(result).c_str());
        else if (info.lengthMs <= 0)
            error = QString::fromStdString(Recorder::EmptyFileMessage(name));
        if (!error.isEmpty()) {
            status = Verdict::ExitFailure;
            if (json)
                Print(stdout, QString::fromUtf8(ProgressReport::JsonLine(
                                  {{QStringLiteral("file"), name}, {QStringLiteral("error"), error}})));
            Print(stderr, QStringLiteral("tamblo: ") + name + QStringLiteral(": ") + error + QLatin1Char('\n'));
            continue;
        }
        const QString kind = QLatin1String(SoundKindName(info));
        const QString lengthText = Recorder::LengthText(info.lengthMs);
        if (json) {
            QJsonObject described = MeasuredJson(analysis);
            for (const auto &[key, value] : {std::pair<const char *, QJsonValue>{"file", name},
                                             {"kind", kind},
                                             {"length_ms", qint64(info.lengthMs)},
                                             {"length_text", lengthText},
                                             {"channels", info.channels},
                                             {"rate", info.rate}})
                described.insert(QLatin1String(key), value);
            Print(stdout, QString::fromUtf8(ProgressReport::JsonLine(described)));
        } else {
            // Built piece by piece: a name is never read as a format ("%1" in a name stays "%1").
            const QString channels = info.channels == 1 ? QStringLiteral(" channel, ") : QStringLiteral(" channels, ");
            Print(stdout, name + QStringLiteral(": ") + kind + QStringLiteral(", ") + QString::number(info.lengthMs)
                              + QStringLiteral(" ms (") + lengthText + QStringLiteral("), ")
                              + QString::number(info.channels) + channels + QString::number(info.rate)
                              + QStringLiteral(" Hz\n") + MeasuredLines(analysis));
        }
        // Damage anywhere in the file is told, where the record command looks only at what the
        // device keeps.
        if (const std::string damage = DamageText(analysis); !damage.empty()) {
            status = Verdict::ExitFailure;
            Print(stderr, QStringLiteral("tamblo: ") + name + QStringLiteral(": ") + Text(damage) + QLatin1Char('\n'));
        }
    }
    return status;
}

QJsonObject OutputJson(const SoundOutput &output)
{
    return {{QStringLiteral("name"), Text(output.name)},
            {QStringLiteral("description"), Text(output.description)},
            {QStringLiteral("card"), Text(output.card)},
            {QStringLiteral("bus"), Text(output.bus)},
            {QStringLiteral("default"), output.isDefault},
            {QStringLiteral("muted"), output.muted},
            {QStringLiteral("volume_percent"), output.volumePercent},
            {QStringLiteral("volume_db"), ProgressReport::LevelJson(output.volumeDb)},
            {QStringLiteral("state"), QLatin1String(OutputStateName(output.state))},
            {QStringLiteral("port"), Text(output.activePort)},
            {QStringLiteral("unplugged"), output.unplugged},
            {QStringLiteral("monitor"), Text(output.monitor)}};
}

// "alsa_output.usb-0d8c_USB_Sound_Device-00.analog-stereo (default)" over
// "  USB Sound Device Analog Stereo, USB Sound Device (usb), 100 % (0.0 dB), idle".
QString OutputLines(const SoundOutput &output)
{
    QString text = Text(output.name) + (output.isDefault ? QStringLiteral(" (default)\n") : QStringLiteral("\n"))
                   + QStringLiteral("  ") + Text(output.description);
    if (!output.card.empty() || !output.bus.empty())
        text +=
            QStringLiteral(", ") + Text(output.card.empty() ? output.bus : output.card)
            + (output.card.empty() || output.bus.empty() ? QString()
                                                         : QStringLiteral(" (") + Text(output.bus) + QLatin1Char(')'));
    if (output.muted)
        text += QStringLiteral(", muted");
    text += QStringLiteral(", ") + Text(FormatVolume(output)) + QStringLiteral(", ")
            + QLatin1String(OutputStateName(output.state));
    if (output.unplugged)
        text += QStringLiteral(", nothing plugged into ") + Text(output.activePort);
    return text + QLatin1Char('\n');
}

int ListTheOutputs(bool json)
{
    const SoundOutputList list = ListSoundOutputs();
    if (!list.serverReached) {
        Print(stderr,
              QStringLiteral("tamblo: the sound outputs cannot be listed: ") + Text(list.error) + QLatin1Char('\n'));
        return Verdict::ExitFailure;
    }
    for (const SoundOutput &output : list.outputs)
        Print(stdout, json ? QString::fromUtf8(ProgressReport::JsonLine(OutputJson(output))) : OutputLines(output));
    return Verdict::ExitDone;
}

int ShowHistory(bool json)
{
    const RecordingHistory history;
    std::string error;
    int damaged = 0;
    if (json) {
        const auto lines = history.RawLines(&error);
        for (const std::string &line : lines.value_or(std::vector<std::string>{}))
            Print(stdout, QString::fromUtf8(line) + QLatin1Char('\n'));
    } else if (const auto entries = history.Entries(&error, &damaged)) {
        for (const RecordingEntry &entry : *entries)
            Print(stdout, DisplayName(RecordingHistory::Describe(entry)) + QLatin1Char('\n'));
        if (damaged > 0)
            Print(stderr, QStringLiteral("tamblo: ") + QString::number(damaged) + QStringLiteral(" damaged line(s) of ")
                              + DisplayName(history.Path()) + QStringLiteral(" left out\n"));
    }
    if (error.empty())
        return Verdict::ExitDone;
    Print(stderr, QStringLiteral("tamblo: ") + QString::fromLocal8Bit(error.c_str()) + QLatin1Char('\n'));
    return Verdict::ExitFailure;
}

int RunOnRecorders(const CommandLine &line)
{
    if (line.ports.isEmpty() && qEnvironmentVariableIsEmpty("TAMBLO_PORT") && PortsDirectoryMissing())
        return Verdict::ExitFailure;
    const PortSelection selection = SelectPorts(line.ports, qEnvironmentVariable("TAMBLO_PORT"), ExistingPortNames);
    if (!selection.error.isEmpty())
        return UsageError(CommandName(line.command) + QStringLiteral(": ") + selection.error);
    const ProgressReport::Mode mode = line.json                 ? ProgressReport::Json
                                      : ::isatty(STDOUT_FILENO) ? ProgressReport::Terminal
                                                                : ProgressReport::Plain;
    ProgressReport report(mode, stdout, stderr);
    ConsoleRecorder recorder(selection.ports, report);
    ConsoleRecorder::OutputChoice output;
    output.name = line.output.empty() ? OutputWatch::ChoiceFromEnvironment() : line.output;
    output.force = line.force;
    output.minimumDb = line.minimumVolumeDb.value_or(Verdict::DefaultMinimumVolumeDb);
    switch (line.command) {
    case CommandLine::Record: return recorder.Record(line.channel, line.files.front(), output);
    case CommandLine::Erase: return recorder.Erase();
    case CommandLine::Stop: return recorder.Stop();
    case CommandLine::Help:
    case CommandLine::Version:
    case CommandLine::Ports:
    case CommandLine::Info:
    case CommandLine::Outputs:
    case CommandLine::History: break;
    }
    // Only the device commands come here: any other is a fault, never quietly another command.
    std::abort();
}

} // namespace

int RunCommandLine(int argc, char **argv)
{
    // A reader that goes away (| head) must not end a recording before its REC: writes to it just fail.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tamblo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAMBLO_VERSION));

    const ParsedCommandLine parsed = ParseCommandLine(ByteArguments(argc, argv));
    if (!parsed.ok())
        return UsageError(parsed.error);
    const CommandLine &line = parsed.line;
    switch (line.command) {
    case CommandLine::Help: Print(stdout, HelpText(line.helpTopic)); return Verdict::ExitDone;
    case CommandLine::Version: Print(stdout, QStringLiteral("tamblo " TAMBLO_VERSION "\n")); return Verdict::ExitDone;
    case CommandLine::Ports: return ListThePorts(line.json);
    case CommandLine::Info: return DescribeFiles(line.files, line.json);
    case CommandLine::Outputs: return ListTheOutputs(line.json);
    case CommandLine::History: return ShowHistory(line.json);
    case CommandLine::Record:
    case CommandLine::Erase:
    case CommandLine::Stop: return RunOnRecorders(line);
    }
    return Verdict::ExitUsage;
}
