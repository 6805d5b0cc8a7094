#include "cli/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>

namespace {

enum class Files { None, One, Many };

struct CommandSpec {
    const char *name;
    CommandLine::Command command;
    bool channel;
    bool port;
    Files files;
};

// clang-format off
constexpr CommandSpec kCommands[] = {
    {"record", CommandLine::Record, true, true, Files::One},
    {"erase", CommandLine::Erase, false, true, Files::None},
    {"stop", CommandLine::Stop, false, true, Files::None},
    {"ports", CommandLine::Ports, false, false, Files::None},
    {"info", CommandLine::Info, false, false, Files::Many},
};
// clang-format on

const CommandSpec *FindCommand(const QString &name)
{
    for (const CommandSpec &spec : kCommands) {
        if (name == QLatin1String(spec.name))
            return &spec;
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

// The first option that the command does not know, as the user typed it (up to an "="), or an
// empty text. Qt's parser names it without its dashes.
QString UnknownOption(const CommandSpec &spec, const QStringList &arguments)
{
    QStringList known{QStringLiteral("-h"), QStringLiteral("--help"), QStringLiteral("--json")};
    QStringList valued;
    if (spec.channel)
        valued << QStringLiteral("--channel");
    if (spec.port)
        valued << QStringLiteral("--port");
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

ParsedCommandLine ParseCommand(const CommandSpec &spec, const QStringList &arguments)
{
    const QString name = QLatin1String(spec.name);
    const QString unknown = UnknownOption(spec, arguments);
    if (!unknown.isEmpty())
        return Failure(name + QStringLiteral(": unknown option '") + unknown + QLatin1Char('\''));
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption channel(QStringLiteral("channel"), QString(), QStringLiteral("1|2"));
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("P"));
    const QCommandLineOption json(QStringLiteral("json"));
    parser.addOption(help);
    parser.addOption(json);
    if (spec.channel)
        parser.addOption(channel);
    if (spec.port)
        parser.addOption(port);
    if (!parser.parse(QStringList{QStringLiteral("tamblo")} + arguments))
        return Failure(name + QStringLiteral(": ") + WithoutFullStop(parser.errorText()));

    ParsedCommandLine parsed;
    CommandLine &line = parsed.line;
    if (parser.isSet(help)) {
        line.command = CommandLine::Help;
        line.helpTopic = spec.command;
        return parsed;
    }
    line.command = spec.command;
    line.json = parser.isSet(json);
    if (spec.port) {
        for (const QString &value : parser.values(port))
            line.ports << QFile::decodeName(value.toLatin1());
    }
    if (spec.channel) {
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
    const QStringList positional = parser.positionalArguments();
    switch (spec.files) {
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
    if (first.startsWith(QLatin1Char('-')))
        return Failure(QStringLiteral("unknown option '") + first + QStringLiteral("'; a command comes first"));
    const CommandSpec *spec = FindCommand(first);
    if (spec == nullptr)
        return Failure(QStringLiteral("unknown command '") + first + QLatin1Char('\''));
    return ParseCommand(*spec, rest);
}

QStringList ByteArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLatin1(argv[i]);
    return arguments;
}

QString CommandName(CommandLine::Command command)
{
    for (const CommandSpec &spec : kCommands) {
        if (spec.command == command)
            return QLatin1String(spec.name);
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
        return QStringLiteral("Usage: tamblo record --channel 1|2 [--port P]... [--json] FILE\n"
                              "\n"
                              "Sends REC1 (channel GSM1) or REC2 (GSM2), plays FILE through the sound card from\n"
                              "its start, and sends REC when the file ends or 10,000 ms have been played,\n"
                              "whichever comes first. FILE and the sound output are opened before anything is\n"
                              "sent: a file that cannot be played sends nothing. Ctrl-C or SIGTERM stops the\n"
                              "sound and sends REC before the program ends.\n"
                              "\n"
                              "On a terminal one line shows the channel, the file, a bar of the position against\n"
                              "the length (at most 10 s) and the position in ms; otherwise only the result is\n"
                              "printed. JSON events: sent, playing, position (every 100 ms), stopped (with the\n"
                              "reason: end, limit or interrupted) and error.\n"
                              "\n"
                              "Options:\n"
                              "  --channel 1|2  the channel to record onto: 1 is GSM1, 2 is GSM2\n")
               + portOption + jsonOption + helpOption;
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
                              "the window shows it, its channels and its sample rate; or the error that loading it\n"
                              "would give.\n"
                              "\n"
                              "Options:\n")
               + jsonOption + helpOption;
    case CommandLine::Help:
    case CommandLine::Version: break;
    }
    return QStringLiteral("Usage: tamblo                      start the window\n"
                          "       tamblo COMMAND [OPTION]...  work without a display\n"
                          "\n"
                          "Records sound files onto a two-channel GSM telephony recorder: the recorder gets its\n"
                          "commands over a serial line while the sound card plays the file.\n"
                          "\n"
                          "Commands:\n"
                          "  record --channel 1|2 [--port P]... FILE\n"
                          "                 send REC1 or REC2, play FILE, stop when it ends or after 10 s,\n"
                          "                 send REC\n"
                          "  erase [--port P]...\n"
                          "                 send ERASE\n"
                          "  stop [--port P]...\n"
                          "                 send REC\n"
                          "  ports          list the serial ports and whether they are free\n"
                          "  info FILE...   kind, length, channels and rate of sound files\n"
                          "\n"
                          "Options:\n"
                          "  --port P       a COM number (3 or COM3) or a device path (/dev/ttyUSB0); may be\n"
                          "                 given several times. Without it: $TAMBLO_PORT, else the only port.\n"
                          "  --json         one JSON object a line for each event, for scripts\n"
                          "  -h, --help     this text; 'tamblo COMMAND --help' tells more of a command\n"
                          "  --version      the version\n"
                          "\n"
                          "Environment:\n"
                          "  TAMBLO_PORTS   a folder in which COMn is the file COMn (a link to a serial device)\n"
                          "  TAMBLO_PORT    the port to use when --port is not given\n"
                          "  SDL_AUDIODRIVER  the sound output (dummy: silent, in real time)\n"
                          "\n"
                          "Exit status: 0 done, 1 a failure (port, file, sound output), 2 a usage error,\n"
                          "130 interrupted by Ctrl-C, 143 by SIGTERM.\n");
}
