#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// A serial port as the command line names it: a COM number ("3", "COM3"), which maps to a device
// as the window maps it, or a device path ("/dev/ttyUSB0").
struct PortArgument {
    QString name;      // "COM3", or the device path
    int comNumber = 0; // 0 for a device path
    QString devicePath;
    bool operator==(const PortArgument &) const = default;
};

std::optional<PortArgument> ParsePortArgument(const QString &text);

// The ports a command works on, or the usage error that says why there are none.
struct PortSelection {
    QList<PortArgument> ports;
    QString error;
};

// The ports given with --port; without any, the one that $TAMBLO_PORT names (`environment`),
// else the only port there is (`existing` lists them, and is asked only then).
PortSelection SelectPorts(const QStringList &given, const QString &environment,
                          const std::function<QStringList()> &existing);
