#include "cli/CommandLineApp.h"

#include "cli/CommandLine.h"
#include "cli/ConsolePlayer.h"
#include "cli/ConsoleRecorder.h"
#include "cli/PortArguments.h"
#include "cli/ProgressReport.h"
#include "cli/TerminalText.h"
#include "cli/Version.h"
#include "media/SoundInfo.h"
#include "recorder/DisplayName.h"
#include "recorder/Recorder.h"
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

constexpr int kExitDone = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

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
    return kExitUsage;
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
        return kExitFailure;
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
    return kExitDone;
}

int DescribeFiles(const std::vector<std::string> &files, bool json)
{
    int status = kExitDone;
    for (const std::string &file : files) {
        const QString name = DisplayName(file);
        SoundInfo info;
        const MCIERROR result = ReadSoundInfo(file, info);
        QString error;
        if (result != MMSYSERR_NOERROR)
            error = QString::fromLocal8Bit(ConsolePlayer::ResultText(result).c_str());
        else if (info.lengthMs <= 0)
            error = QString::fromStdString(Recorder::EmptyFileMessage(name));
        if (!error.isEmpty()) {
            status = kExitFailure;
            if (json)
                Print(stdout, QString::fromUtf8(ProgressReport::JsonLine(
                                  {{QStringLiteral("file"), name}, {QStringLiteral("error"), error}})));
            Print(stderr, QStringLiteral("tamblo: ") + name + QStringLiteral(": ") + error + QLatin1Char('\n'));
            continue;
        }
        const QString kind = QLatin1String(SoundKindName(info));
        const QString lengthText = Recorder::LengthText(info.lengthMs);
        if (json) {
            Print(stdout,
                  QString::fromUtf8(ProgressReport::JsonLine({{QStringLiteral("file"), name},
                                                              {QStringLiteral("kind"), kind},
                                                              {QStringLiteral("length_ms"), qint64(info.lengthMs)},
                                                              {QStringLiteral("length_text"), lengthText},
                                                              {QStringLiteral("channels"), info.channels},
                                                              {QStringLiteral("rate"), info.rate}})));
        } else {
            // Built piece by piece: a name is never read as a format ("%1" in a name stays "%1").
            const QString channels = info.channels == 1 ? QStringLiteral(" channel, ") : QStringLiteral(" channels, ");
            Print(stdout, name + QStringLiteral(": ") + kind + QStringLiteral(", ") + QString::number(info.lengthMs)
                              + QStringLiteral(" ms (") + lengthText + QStringLiteral("), ")
                              + QString::number(info.channels) + channels + QString::number(info.rate)
                              + QStringLiteral(" Hz\n"));
        }
    }
    return status;
}

int RunOnRecorders(const CommandLine &line)
{
    if (line.ports.isEmpty() && qEnvironmentVariableIsEmpty("TAMBLO_PORT") && PortsDirectoryMissing())
        return kExitFailure;
    const PortSelection selection = SelectPorts(line.ports, qEnvironmentVariable("TAMBLO_PORT"), ExistingPortNames);
    if (!selection.error.isEmpty())
        return UsageError(CommandName(line.command) + QStringLiteral(": ") + selection.error);
    const ProgressReport::Mode mode = line.json                 ? ProgressReport::Json
                                      : ::isatty(STDOUT_FILENO) ? ProgressReport::Terminal
                                                                : ProgressReport::Plain;
    ProgressReport report(mode, stdout, stderr);
    ConsoleRecorder recorder(selection.ports, report);
    switch (line.command) {
    case CommandLine::Record: return recorder.Record(line.channel, line.files.front());
    case CommandLine::Erase: return recorder.Erase();
    case CommandLine::Stop: return recorder.Stop();
    case CommandLine::Help:
    case CommandLine::Version:
    case CommandLine::Ports:
    case CommandLine::Info: break;
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
    case CommandLine::Help: Print(stdout, HelpText(line.helpTopic)); return kExitDone;
    case CommandLine::Version: Print(stdout, QStringLiteral("tamblo " TAMBLO_VERSION "\n")); return kExitDone;
    case CommandLine::Ports: return ListThePorts(line.json);
    case CommandLine::Info: return DescribeFiles(line.files, line.json);
    case CommandLine::Record:
    case CommandLine::Erase:
    case CommandLine::Stop: return RunOnRecorders(line);
    }
    return kExitUsage;
}
