#include "cli/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <cmath>

namespace {

enum class Files { None, One, Many };

struct CommandEntry {
    const char *name;
    CommandLine::Command command;
    bool channel;
    bool port;
    Files files;
    bool output; // --output, --force and --min-volume
};

// clang-format off
constexpr CommandEntry kCommands[] = {
    {"record", CommandLine::Record, true, true, Files::One, true},
    {"erase", CommandLine::Erase, false, true, Files::None, false},
    {"stop", CommandLine::Stop, false, true, Files::None, false},
    {"ports", CommandLine::Ports, false, false, Files::None, false},
    {"info", CommandLine::Info, false, false, Files::Many, false},
    {"outputs", CommandLine::Outputs, false, false, Files::None, false},
    {"history", CommandLine::History, false, false, Files::None, false},
};
// clang-format on

const CommandEntry *FindCommand(const QString &name)
{
    for (const CommandEntry &entry : kCommands) {
        if (name == QLatin1String(entry.name))
            return &entry;
    }
    return nullptr;
}

ParsedCommandLine Failure(const QString &error)
{
    ParsedCommandLine parsed;
    parsed.error = error;
    return parsed;
}

// Qt's parser ends its messages with a full stop; ours do not.
QString WithoutFullStop(QString text)
{
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

// A level in dB as the user writes it: "-25", "-25dB", "−25 dB" (a true minus sign, in UTF-8).
std::optional<double> VolumeDb(QString text)
{
    text = QString::fromUtf8(text.toLatin1()).replace(QChar(0x2212), QLatin1Char('-')).trimmed();
    if (text.endsWith(QLatin1String("dB"), Qt::CaseInsensitive))
        text.chop(2);
    bool ok = false;
    const double db = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(db) ? std::optional<double>(db) : std::nullopt;
}

// The first option that the command does not know, as the user typed it (up to an "="), or an
// empty text. Qt's parser names it without its dashes.
QString UnknownOption(const CommandEntry &entry, const QStringList &arguments)
{
    QStringList known{QStringLiteral("-h"), QStringLiteral("--help"), QStringLiteral("--json")};
    QStringList valued;
    if (entry.channel)
        valued << QStringLiteral("--channel");
    if (entry.port)
        valued << QStringLiteral("--port");
    if (entry.output) {
        valued << QStringLiteral("--output") << QStringLiteral("--min-volume");
        known << QStringLiteral("--force");
    }
    known += valued;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--"))
            break;
        if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-"))
            continue;
        const QString option = argument.section(QLatin1Char('='), 0, 0);
        if (!known.contains(option))
            return option;
        if (valued.contains(option) && !argument.contains(QLatin1Char('=')))
            ++i;
    }
    return {};
}

ParsedCommandLine ParseCommand(const CommandEntry &entry, const QStringList &arguments)
{
    const QString name = QLatin1String(entry.name);
    const QString unknown = UnknownOption(entry, arguments);
    if (!unknown.isEmpty())
        return Failure(name + QStringLiteral(": unknown option '") + unknown + QLatin1Char('\''));
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption channel(QStringLiteral("channel"), QString(), QStringLiteral("1|2"));
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("P"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption output(QStringLiteral("output"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption minimumVolume(QStringLiteral("min-volume"), QString(), QStringLiteral("DB"));
    parser.addOption(help);
    parser.addOption(json);
    if (entry.channel)
        parser.addOption(channel);
    if (entry.port)
        parser.addOption(port);
    if (entry.output)
        parser.addOptions({output, force, minimumVolume});
    if (!parser.parse(QStringList{QStringLiteral("tamblo")} + arguments))
        return Failure(name + QStringLiteral(": ") + WithoutFullStop(parser.errorText()));

    ParsedCommandLine parsed;
    CommandLine &line = parsed.line;
    if (parser.isSet(help)) {
        line.command = CommandLine::Help;
        line.helpTopic = entry.command;
        return parsed;
    }
    line.command = entry.command;
    line.json = parser.isSet(json);
    if (entry.port) {
        for (const QString &value : parser.values(port))
            line.ports << QFile::decodeName(value.toLatin1());
    }
    if (entry.channel) {
        const QStringList channels = parser.values(channel);
        if (channels.isEmpty())
            return Failure(name + QStringLiteral(": --channel 1 or --channel 2 is missing"));
        if (channels.size() > 1)
            return Failure(name + QStringLiteral(": --channel is given more than once"));
        if (channels.front() != QLatin1String("1") && channels.front() != QLatin1String("2"))
            return Failure(name + QStringLiteral(": --channel must be 1 or 2, not '") + channels.front()
                           + QLatin1Char('\''));
        line.channel = channels.front().toInt();
    }
    if (entry.output) {
        const QStringList outputs = parser.values(output);
        if (outputs.size() > 1)
            return Failure(name + QStringLiteral(": --output is given more than once"));
        if (!outputs.isEmpty() && outputs.front().isEmpty())
            return Failure(name + QStringLiteral(": --output needs the name of a sound output ('tamblo outputs')"));
        line.output = outputs.isEmpty() ? std::string() : outputs.front().toLatin1().toStdString();
        line.force = parser.isSet(force);
        if (parser.isSet(minimumVolume)) {
            line.minimumVolumeDb = VolumeDb(parser.value(minimumVolume));
            if (!line.minimumVolumeDb)
                return Failure(name + QStringLiteral(": --min-volume must be a level in dB (-20), not '")
                               + parser.value(minimumVolume) + QLatin1Char('\''));
        }
    }
    const QStringList positional = parser.positionalArguments();
    switch (entry.files) {
    case Files::None:
        if (!positional.isEmpty())
            return Failure(name + QStringLiteral(": unexpected argument '") + positional.front() + QLatin1Char('\''));
        break;
    case Files::One:
        if (positional.isEmpty())
            return Failure(name + QStringLiteral(": the sound FILE is missing"));
        if (positional.size() > 1)
            return Failure(name + QStringLiteral(": one sound FILE at a time, not ")
                           + QString::number(positional.size()));
        break;
    case Files::Many:
        if (positional.isEmpty())
            return Failure(name + QStringLiteral(": no sound FILE given"));
        break;
    }
    for (const QString &file : positional)
        line.files.push_back(file.toLatin1().toStdString());
    return parsed;
}

} // namespace

ParsedCommandLine ParseCommandLine(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return Failure(QStringLiteral("no command given"));
    const QString first = arguments.front();
    const QStringList rest = arguments.mid(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("--version")) {
        if (!rest.isEmpty())
            return Failure(QStringLiteral("unexpected argument '") + rest.front() + QStringLiteral("' after ") + first);
        ParsedCommandLine parsed;
        parsed.line.command = first == QLatin1String("--version") ? CommandLine::Version : CommandLine::Help;
        return parsed;
    }
    if (first == QLatin1String("--output") || first.startsWith(QLatin1String("--output=")))
        return Failure(QStringLiteral("'--output NAME' alone starts the window; a command takes it after its name "
                                      "(record --output NAME)"));
    if (first.startsWith(QLatin1Char('-')))
        return Failure(QStringLiteral("unknown option '") + first + QStringLiteral("'; a command comes first"));
    const CommandEntry *entry = FindCommand(first);
    if (entry == nullptr)
        return Failure(QStringLiteral("unknown command '") + first + QLatin1Char('\''));
    return ParseCommand(*entry, rest);
}

QStringList ByteArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLatin1(argv[i]);
    return arguments;
}

std::optional<std::string> WindowOutput(int argc, char **argv, const char *environment)
{
    if (argc == 1)
        return environment ? environment : "";
    const std::string first = argv[1];
    const std::string prefix = "--output=";
    if (argc == 2 && first.rfind(prefix, 0) == 0 && first.size() > prefix.size())
        return first.substr(prefix.size());
    if (argc == 3 && first == "--output" && argv[2][0] != '\0')
        return std::string(argv[2]);
    return std::nullopt;
}

QString CommandName(CommandLine::Command command)
{
    for (const CommandEntry &entry : kCommands) {
        if (entry.command == command)
            return QLatin1String(entry.name);
    }
    return {};
}

QString HelpText(CommandLine::Command topic)
{
    static const QString portOption =
        QStringLiteral("  --port P       the recorder's serial port: a COM number (3 or COM3), mapped as\n"
                       "                 the window maps it, or a device path (/dev/ttyUSB0,\n"
                       "                 /dev/serial/by-id/...). Give it several times to command several\n"
                       "                 recorders at once. Without it: $TAMBLO_PORT, else the only port\n"
                       "                 there is.\n");
    static const QString jsonOption =
        QStringLiteral("  --json         one JSON object a line for each event, for scripts\n");
    static const QString helpOption = QStringLiteral("  -h, --help     this text\n");

    switch (topic) {
    case CommandLine::Record:
        return QStringLiteral("Usage: tamblo record --channel 1|2 [--port P]... [--output NAME] [--force]\n"
                              "                     [--min-volume DB] [--json] FILE\n"
                              "\n"
                              "Sends REC1 (channel GSM1) or REC2 (GSM2), plays FILE through the sound output from\n"
                              "its start, and sends REC when the file ends or 10,000 ms have been played,\n"
                              "whichever comes first. FILE and the sound output are opened before anything is\n"
                              "sent: a file that cannot be played sends nothing, and neither does an output that\n"
                              "is muted, turned down below the minimum volume or has nothing plugged in. Ctrl-C\n"
                              "or SIGTERM stops the sound and sends REC before the program ends.\n"
                              "\n"
                              "While it records, what leaves the output is heard on the output's monitor: a\n"
                              "recording during which the output was silent for 20 ms or more while the file\n"
                              "had sound fails; an output muted, turned down or removed, or the sound moved to\n"
                              "another output, ends it at once. A file longer than 10 s, one that clips and a\n"
                              "very quiet one are warned of. Each recording is added to the history ('tamblo\n"
                              "history').\n"
                              "\n"
                              "On a terminal one line shows the channel, the file, a bar of the position against\n"
                              "the length (at most 10 s), the position in ms and the level at the output;\n"
                              "otherwise only the result is printed. JSON events: warning, sent (once the\n"
                              "bytes have left), not-delivered, playing,\n"
                              "position (every 100 ms, with the output's level), stopped (with the reason: end,\n"
                              "limit, interrupted, silent-output, ... and what was heard) and error.\n"
                              "\n"
                              "Options:\n"
                              "  --channel 1|2  the channel to record onto: 1 is GSM1, 2 is GSM2\n")
               + portOption
               + QStringLiteral("  --output NAME  the sound output to play into: its name or a part of its\n"
                                "                 description that fits no other ('tamblo outputs'). Without it:\n"
                                "                 $TAMBLO_OUTPUT, else the sound server's default output.\n"
                                "  --force        record even onto an output that would not be heard, or what\n"
                                "                 decodes of a damaged file\n"
                                "  --min-volume DB\n"
                                "                 the lowest volume of the output that is recorded onto (-20)\n")
               + jsonOption + helpOption;
    case CommandLine::Erase:
        return QStringLiteral("Usage: tamblo erase [--port P]... [--json]\n"
                              "\n"
                              "Sends ERASE: the recorder erases the records of both channels.\n"
                              "\n"
                              "Options:\n")
               + portOption + jsonOption + helpOption;
    case CommandLine::Stop:
        return QStringLiteral("Usage: tamblo stop [--port P]... [--json]\n"
                              "\n"
                              "Sends REC: the recorder stops recording.\n"
                              "\n"
                              "Options:\n")
               + portOption + jsonOption + helpOption;
    case CommandLine::Ports:
        return QStringLiteral("Usage: tamblo ports [--json]\n"
                              "\n"
                              "Lists the serial ports COM1 to COM50 that exist: the COM number, the device path\n"
                              "(and where it leads), the driver, the USB adapter's maker, model and serial\n"
                              "number where known, and whether the port is free, held by another program or\n"
                              "not open to you (no permission).\n"
                              "\n"
                              "Options:\n")
               + jsonOption + helpOption;
    case CommandLine::Info:
        return QStringLiteral("Usage: tamblo info [--json] FILE...\n"
                              "\n"
                              "Tells for each sound file its kind (WAV, MP3, MIDI or RMI), its length in ms and as\n"
                              "the window shows it, its channels and its sample rate; its peak (dBFS), its loudness\n"
                              "(LUFS), the silence at its start and end, and whether it is longer than the 10 s\n"
                              "the device keeps, clips or is very quiet; or the error that loading it would give.\n"
                              "\n"
                              "Options:\n")
               + jsonOption + helpOption;
    case CommandLine::Outputs:
        return QStringLiteral("Usage: tamblo outputs [--json]\n"
                              "\n"
                              "Lists the sound server's outputs: the name that --output and TAMBLO_OUTPUT take, the\n"
                              "description, the sound card and its bus, whether it is the default, muted, its\n"
                              "volume in % and dB, and its state (running, idle, suspended).\n"
                              "\n"
                              "Options:\n")
               + jsonOption + helpOption;
    case CommandLine::History:
        return QStringLiteral("Usage: tamblo history [--json]\n"
                              "\n"
                              "Lists the recordings made on this machine, one a line: when, the port (its device\n"
                              "and the USB adapter's serial number), the channel, the file, how much was recorded,\n"
                              "what was heard at the output, how it ended and the exit status. With --json, the\n"
                              "lines of $XDG_STATE_HOME/tamblo/recordings.jsonl as they stand.\n"
                              "\n"
                              "Options:\n")
               + jsonOption + helpOption;
    case CommandLine::Help:
    case CommandLine::Version: break;
    }
    return QStringLiteral("Usage: tamblo [--output NAME]      start the window\n"
                          "       tamblo COMMAND [OPTION]...  work without a display\n"
                          "\n"
                          "Records sound files onto a two-channel GSM telephony recorder: the recorder gets its\n"
                          "commands over a serial line while the sound card plays the file.\n"
                          "\n"
                          "Commands:\n"
                          "  record --channel 1|2 [--port P]... [--output NAME] FILE\n"
                          "                 send REC1 or REC2, play FILE, stop when it ends or after 10 s,\n"
                          "                 send REC\n"
                          "  erase [--port P]...\n"
                          "                 send ERASE\n"
                          "  stop [--port P]...\n"
                          "                 send REC\n"
                          "  ports          list the serial ports and whether they are free\n"
                          "  info FILE...   kind, length, channels, rate, peak and loudness of sound files\n"
                          "  outputs        list the sound outputs, their volume and whether they are muted\n"
                          "  history        list the recordings made on this machine\n"
                          "\n"
                          "Options:\n"
                          "  --port P       a COM number (3 or COM3) or a device path (/dev/ttyUSB0); may be\n"
                          "                 given several times. Without it: $TAMBLO_PORT, else the only port.\n"
                          "  --output NAME  the sound output to play into (the window takes it too)\n"
                          "  --json         one JSON object a line for each event, for scripts\n"
                          "  -h, --help     this text; 'tamblo COMMAND --help' tells more of a command\n"
                          "  --version      the version\n"
                          "\n"
                          "Environment:\n"
                          "  TAMBLO_PORTS   a folder in which COMn is the file COMn (a link to a serial device)\n"
                          "  TAMBLO_PORT    the port to use when --port is not given\n"
                          "  TAMBLO_OUTPUT  the sound output to use when --output is not given\n"
                          "  XDG_STATE_HOME where the history is kept (tamblo/recordings.jsonl; ~/.local/state)\n"
                          "  SDL_AUDIODRIVER  the sound output (dummy: silent, in real time)\n"
                          "\n"
                          "Exit status: 0 done, 1 a failure (port, file, sound output, a recording during\n"
                          "which the output was silent), 2 a usage error (also an unknown sound output),\n"
                          "130 interrupted by Ctrl-C, 143 by SIGTERM.\n");
}
