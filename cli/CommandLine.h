#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

// What the command line asks for, parsed but not yet checked against the machine (whether the
// ports and files exist is for the command to find out).
struct CommandLine {
    enum Command { Help, Version, Record, Erase, Stop, Ports, Info, Outputs, History };

    Command command = Help;
    // For Help: the command whose help is asked for, or Help for the general text.
    Command helpTopic = Help;
    int channel = 0;
    // The --port values as given ("3", "COM3", "/dev/ttyUSB0"), in order.
    QStringList ports;
    // The sound files, byte for byte as given.
    std::vector<std::string> files;
    bool json = false;
    // For Record: the sound output chosen with --output (bytes as given; empty when not given),
    // --force, and the lowest volume --min-volume allows, in dB.
    std::string output;
    bool force = false;
    std::optional<double> minimumVolumeDb;
};

// A parse: the command line, or the usage error that says what is wrong with it.
struct ParsedCommandLine {
    CommandLine line;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// Parses the arguments after the program name. Each argument holds one character per byte
// (QString::fromLatin1 of the bytes), so that a file name that is not valid text reaches the file
// system unchanged; the error text is in the same form (print it as DisplayName of its Latin-1).
ParsedCommandLine ParseCommandLine(const QStringList &arguments);

// The program's arguments, one character per byte, as ParseCommandLine takes them.
QStringList ByteArguments(int argc, char **argv);

// Whether the arguments start the window, and with which sound output: none at all ($TAMBLO_OUTPUT,
// `environment`, chooses it), or "--output NAME" alone. Nothing: the arguments are a command's.
std::optional<std::string> WindowOutput(int argc, char **argv, const char *environment);

// "record", "erase", ...; empty for Help and Version.
QString CommandName(CommandLine::Command command);

// The text of --help for a command (Help: the general text). Ends with a line end.
QString HelpText(CommandLine::Command topic);
