#include "cli/CommandLine.h"
#include "cli/PortArguments.h"
#include "cli/PortFanOut.h"
#include "cli/ProgressReport.h"
#include "recorder/DisplayName.h"
#include "tests/cli/TambloProcess.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QStringList Words(const char *line) { return QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts); }

struct GoodLine {
    const char *arguments;
    CommandLine::Command command;
    CommandLine::Command helpTopic;
    int channel;
    const char *ports;
    const char *files;
    bool json;
};

TEST(CommandLineParsing, CommandsAndTheirOptions)
{
    const GoodLine cases[] = {
        {"record --channel 1 a.wav", CommandLine::Record, CommandLine::Help, 1, "", "a.wav", false},
        {"record --channel=2 --port 3 --port COM4 --json a.wav", CommandLine::Record, CommandLine::Help, 2, "3 COM4",
         "a.wav", true},
        {"record a.wav --channel 1 --port /dev/ttyUSB0", CommandLine::Record, CommandLine::Help, 1, "/dev/ttyUSB0",
         "a.wav", false},
        {"erase", CommandLine::Erase, CommandLine::Help, 0, "", "", false},
        {"stop --port 2 --json", CommandLine::Stop, CommandLine::Help, 0, "2", "", true},
        {"ports --json", CommandLine::Ports, CommandLine::Help, 0, "", "", true},
        {"info a.wav b.mid", CommandLine::Info, CommandLine::Help, 0, "", "a.wav b.mid", false},
        {"outputs --json", CommandLine::Outputs, CommandLine::Help, 0, "", "", true},
        {"history", CommandLine::History, CommandLine::Help, 0, "", "", false},
        {"--help", CommandLine::Help, CommandLine::Help, 0, "", "", false},
        {"-h", CommandLine::Help, CommandLine::Help, 0, "", "", false},
        {"record --help", CommandLine::Help, CommandLine::Record, 0, "", "", false},
        {"info -h", CommandLine::Help, CommandLine::Info, 0, "", "", false},
        {"--version", CommandLine::Version, CommandLine::Help, 0, "", "", false},
    };
    for (const GoodLine &c : cases) {
        SCOPED_TRACE(c.arguments);
        const ParsedCommandLine parsed = ParseCommandLine(Words(c.arguments));
        ASSERT_TRUE(parsed.ok()) << parsed.error.toStdString();
        EXPECT_EQ(parsed.line.command, c.command);
        EXPECT_EQ(parsed.line.helpTopic, c.helpTopic);
        EXPECT_EQ(parsed.line.channel, c.channel);
        EXPECT_EQ(parsed.line.ports, Words(c.ports));
        std::vector<std::string> files;
        for (const QString &file : Words(c.files))
            files.push_back(file.toStdString());
        EXPECT_EQ(parsed.line.files, files);
        EXPECT_EQ(parsed.line.json, c.json);
    }
}

TEST(CommandLineParsing, UsageErrorsSayWhatIsWrong)
{
    const std::pair<const char *, const char *> cases[] = {
        {"", "no command given"},
        {"recrd", "unknown command 'recrd'"},
        {"--channel 1", "unknown option '--channel'; a command comes first"},
        {"--version now", "unexpected argument 'now' after --version"},
        {"record a.wav", "record: --channel 1 or --channel 2 is missing"},
        {"record --channel 3 a.wav", "record: --channel must be 1 or 2, not '3'"},
        {"record --channel 1 --channel 2 a.wav", "record: --channel is given more than once"},
        {"record --channel 1", "record: the sound FILE is missing"},
        {"record --channel 1 a.wav b.wav", "record: one sound FILE at a time, not 2"},
        {"record --channel", "record: Missing value after '--channel'"},
        {"erase now", "erase: unexpected argument 'now'"},
        {"ports --port 3", "ports: unknown option '--port'"},
        {"info --channel 1 a.wav", "info: unknown option '--channel'"},
        {"record -c 1 a.wav", "record: unknown option '-c'"},
        {"record --chanel=1 a.wav", "record: unknown option '--chanel'"},
        {"info", "info: no sound FILE given"},
        {"record --channel 1 --output a --output b a.wav", "record: --output is given more than once"},
        {"record --channel 1 --min-volume loud a.wav", "record: --min-volume must be a level in dB (-20), not 'loud'"},
        {"erase --force", "erase: unknown option '--force'"},
        {"outputs --output usb", "outputs: unknown option '--output'"},
        {"--output usb record", "'--output NAME' alone starts the window; a command takes it after its name (record "
                                "--output NAME)"},
    };
    for (const auto &[arguments, error] : cases) {
        SCOPED_TRACE(arguments);
        const ParsedCommandLine parsed = ParseCommandLine(Words(arguments));
        EXPECT_EQ(parsed.error.toStdString(), error);
    }
}

// The sound output of a recording: the choice as given, a level with or without its unit or a true
// minus sign, and whether it is forced.
TEST(CommandLineParsing, TheSoundOutputOfARecording)
{
    const std::tuple<const char *, const char *, bool, double> cases[] = {
        {"record --channel 1 a.wav", "", false, NAN},
        {"record --channel 1 --output usb --force a.wav", "usb", true, NAN},
        {"record --channel 1 --output=hdmi --min-volume -35 a.wav", "hdmi", false, -35},
        {"record --channel 1 --min-volume=-12.5dB a.wav", "", false, -12.5},
        {"record --channel 1 --min-volume \xe2\x88\x92"
         "30 a.wav",
         "", false, -30},
    };
    for (const auto &[arguments, output, force, db] : cases) {
        SCOPED_TRACE(arguments);
        const ParsedCommandLine parsed = ParseCommandLine(Words(arguments));
        ASSERT_TRUE(parsed.ok()) << parsed.error.toStdString();
        EXPECT_EQ(parsed.line.output, output);
        EXPECT_EQ(parsed.line.force, force);
        EXPECT_EQ(parsed.line.minimumVolumeDb.value_or(NAN) == db, !std::isnan(db));
    }
    // No arguments, or the output alone, start the window.
    const std::tuple<std::vector<const char *>, std::optional<std::string>> starts[] = {
        {{"tamblo"}, "usb"},
        {{"tamblo", "--output", "hdmi"}, "hdmi"},
        {{"tamblo", "--output=Built-in"}, "Built-in"},
        {{"tamblo", "--output"}, std::nullopt},
        {{"tamblo", "--output", "hdmi", "record"}, std::nullopt},
        {{"tamblo", "--help"}, std::nullopt},
    };
    for (const auto &[argv, output] : starts)
        EXPECT_EQ(WindowOutput(int(argv.size()), const_cast<char **>(argv.data()), "usb"), output) << argv.size();
}

TEST(PortArguments, ComNumbersAndDevicePaths)
{
    const std::pair<const char *, std::optional<PortArgument>> cases[] = {
        {"3", PortArgument{QStringLiteral("COM3"), 3, QString()}},
        {"COM3", PortArgument{QStringLiteral("COM3"), 3, QString()}},
        {"com17", PortArgument{QStringLiteral("COM17"), 17, QString()}},
        {"65535", PortArgument{QStringLiteral("COM65535"), 65535, QString()}},
        {"/dev/ttyUSB0", PortArgument{QStringLiteral("/dev/ttyUSB0"), 0, QStringLiteral("/dev/ttyUSB0")}},
        {"0", std::nullopt},
        {"COM0", std::nullopt},
        {"65536", std::nullopt},
        {"COM", std::nullopt},
        {"3a", std::nullopt},
        {"-1", std::nullopt},
        {"ttyUSB0", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &[text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParsePortArgument(QString::fromLatin1(text)), expected);
    }
}

TEST(PortArguments, GivenPortsThenTheEnvironmentThenTheOnlyPortThere)
{
    struct Case {
        const char *given;
        const char *environment;
        const char *existing;
        const char *chosen;
        const char *error;
    };
    const Case cases[] = {
        {"3 COM4", "COM9", "COM1", "COM3 COM4", ""},
        {"/dev/ttyACM0", "", "", "/dev/ttyACM0", ""},
        {"3 COM3", "", "", "", "port COM3 is given more than once"},
        {"x", "", "", "", "--port 'x' is not a port: give a COM number (3 or COM3) or a device path (/dev/ttyUSB0)"},
        {"", "COM2", "COM1", "COM2", ""},
        {"", "bad", "COM1", "",
         "TAMBLO_PORT: 'bad' is not a port: give a COM number (3 or COM3) or a device path (/dev/ttyUSB0)"},
        {"", "", "COM1", "COM1", ""},
        {"", "", "", "", "no serial port found; name one with --port"},
        {"", "", "COM1 COM17", "", "several serial ports found (COM1, COM17); choose one with --port"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.given) + " | " + c.environment + " | " + c.existing);
        bool listed = false;
        const PortSelection selection = SelectPorts(Words(c.given), QString::fromLatin1(c.environment), [&] {
            listed = true;
            return Words(c.existing);
        });
        QStringList chosen;
        for (const PortArgument &port : selection.ports)
            chosen << port.name;
        EXPECT_EQ(chosen, Words(c.chosen));
        EXPECT_EQ(selection.error.toStdString(), c.error);
        // The ports are probed only when nothing names one.
        EXPECT_EQ(listed, *c.given == '\0' && *c.environment == '\0');
    }
}

// A command that no port took is a failure, never reported as sent.
TEST(PortFanOut, ACommandNoPortTookIsNotSent)
{
    QTemporaryDir noPorts;
    qputenv("TAMBLO_PORTS", QFile::encodeName(noPorts.path()));
    PortFanOut ports({*ParsePortArgument(QStringLiteral("COM1")), *ParsePortArgument(QStringLiteral("COM2"))});
    QStringList failed;
    QStringList sent;
    ports.OnFailure = [&](const QString &port, const QString &) { failed << port; };
    ports.OnSent = [&](const QString &command, const QStringList &took) { sent << command << took; };
    EXPECT_FALSE(ports.Open());
    EXPECT_THROW(ports.SendText("REC\r\n"), PortFanOut::ENoPortTook);
    qunsetenv("TAMBLO_PORTS");
    EXPECT_EQ(failed, Words("COM1 COM2"));
    EXPECT_TRUE(sent.isEmpty()) << sent.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(ports.AnyFailed());
}

TEST(ProgressOutput, TheLineShowsThePositionAgainstTheLengthOrTenSeconds)
{
    struct Case {
        int channel;
        const char *file;
        int position;
        int length;
        const char *line;
    };
    const Case cases[] = {
        {1, "tone.wav", 0, 4200, "GSM1 tone.wav [--------------------]     0 ms"},
        {1, "tone.wav", 2100, 4200, "GSM1 tone.wav [##########----------]  2100 ms"},
        {1, "tone.wav", 4200, 4200, "GSM1 tone.wav [####################]  4200 ms"},
        {2, "long.wav", 5000, 25000, "GSM2 long.wav [##########----------]  5000 ms"},
        {2, "long.wav", 10007, 25000, "GSM2 long.wav [####################] 10007 ms"},
        {2, "odd.mid", 5, 0, "GSM2 odd.mid [--------------------]     5 ms"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(
            ProgressReport::ProgressLine(c.channel, QString::fromLatin1(c.file), c.position, c.length).toStdString(),
            c.line);
    }
    // At 50 columns a long name is cut in its middle, so the redrawn line never wraps.
    const QString fitted =
        ProgressReport::ProgressLine(1, QStringLiteral("a-very-long-name-of-a-prompt.wav"), 2100, 4200, 50);
    EXPECT_EQ(fitted.toStdString(), "GSM1 a-ver....wav [##########----------]  2100 ms");
    EXPECT_EQ(fitted.size(), 49);
    // The output's level follows, where it is listened to.
    EXPECT_EQ(ProgressReport::ProgressLine(1, QStringLiteral("tone.wav"), 2100, 4200, 0, -12.34),
              QStringLiteral("GSM1 tone.wav [##########----------]  2100 ms   −12.3 dBFS"));
}

// Names are shown as they are: what is not text, or would drive the terminal, is escaped.
TEST(ProgressOutput, NamesAreShownEscapedWhereTheyAreNotText)
{
    const std::pair<std::string, const char *> cases[] = {
        {"tone.wav", "tone.wav"},
        {"bad\xff\xfe.wav", "bad\\xff\\xfe.wav"},
        {"esc\x1b[31m.wav", "esc\\x1b[31m.wav"},
        {"cr\r.wav", "cr\\x0d.wav"},
        {"100%1%2.wav", "100%1%2.wav"},
        {"caf\xc3\xa9.wav", "caf\xc3\xa9.wav"},
        {"c1\xc2\x9b.wav", "c1\\xc2\\x9b.wav"},
        {"cut\xe2\x82", "cut\\xe2\\x82"},
    };
    for (const auto &[name, shown] : cases)
        EXPECT_EQ(DisplayName(name).toStdString(), shown);
}

TEST(ProgressOutput, JsonEventsAreOneCompactObjectALine)
{
    const QJsonObject event{{QStringLiteral("event"), QStringLiteral("position")},
                            {QStringLiteral("ms"), 1200},
                            {QStringLiteral("gauge"), 12}};
    EXPECT_EQ(ProgressReport::JsonLine(event).toStdString(), "{\"event\":\"position\",\"gauge\":12,\"ms\":1200}\n");
}

// The manual page documents every command and option that --help knows.
TEST(ManualPage, NamesEveryCommandAndOptionOfTheHelp)
{
    QFile page(QStringLiteral(TAMBLO_SOURCE_DIR "/doc/tamblo.1"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(page.readAll()).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    static const QRegularExpression option(QStringLiteral("--[a-z-]+"));
    for (CommandLine::Command topic :
         {CommandLine::Help, CommandLine::Record, CommandLine::Erase, CommandLine::Stop, CommandLine::Ports,
          CommandLine::Info, CommandLine::Outputs, CommandLine::History}) {
        const QString help = HelpText(topic);
        for (const QRegularExpressionMatch &match : option.globalMatch(help))
            EXPECT_TRUE(text.contains(match.captured())) << match.captured().toStdString();
    }
    for (const char *name : {"record", "erase", "stop", "ports", "info", "outputs", "history", "TAMBLO_PORTS",
                             "TAMBLO_PORT", "TAMBLO_OUTPUT", "XDG_STATE_HOME", "130", "143"})
        EXPECT_TRUE(text.contains(QLatin1String(name))) << name;
    // Every way a recording ends, by its word and its words.
    for (const Verdict::Ending &ending : Verdict::Endings()) {
        EXPECT_TRUE(text.contains(QStringLiteral(".B ") + QLatin1String(ending.word))) << ending.word;
        EXPECT_TRUE(text.contains(QLatin1String(ending.text))) << ending.text;
    }
}

} // namespace
