#include "cli/PortArguments.h"

#include <QRegularExpression>

namespace {

QString NotAPort(const QString &text)
{
    return QLatin1Char('\'') + text
           + QStringLiteral("' is not a port: give a COM number (3 or COM3) or a device path (/dev/ttyUSB0)");
}

} // namespace

std::optional<PortArgument> ParsePortArgument(const QString &text)
{
    if (text.startsWith(QLatin1Char('/')))
        return PortArgument{text, 0, text};
    static const QRegularExpression number(QStringLiteral("^(?:COM)?([0-9]{1,5})$"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int n = match.captured(1).toInt();
    if (n < 1 || n > 65535)
        return std::nullopt;
    return PortArgument{QStringLiteral("COM") + QString::number(n), n, QString()};
}

PortSelection SelectPorts(const QStringList &given, const QString &environment,
                          const std::function<QStringList()> &existing)
{
    PortSelection selection;
    if (!given.isEmpty()) {
        for (const QString &text : given) {
            const std::optional<PortArgument> port = ParsePortArgument(text);
            if (!port) {
                selection.ports.clear();
                selection.error = QStringLiteral("--port ") + NotAPort(text);
                return selection;
            }
            if (selection.ports.contains(*port)) {
                selection.ports.clear();
                selection.error = QStringLiteral("port ") + port->name + QStringLiteral(" is given more than once");
                return selection;
            }
            selection.ports << *port;
        }
        return selection;
    }
    if (!environment.isEmpty()) {
        const std::optional<PortArgument> port = ParsePortArgument(environment);
        if (!port)
            selection.error = QStringLiteral("TAMBLO_PORT: ") + NotAPort(environment);
        else
            selection.ports << *port;
        return selection;
    }
    const QStringList ports = existing();
    if (ports.isEmpty()) {
        selection.error = QStringLiteral("no serial port found; name one with --port");
    } else if (ports.size() > 1) {
        selection.error = QStringLiteral("several serial ports found (") + ports.join(QStringLiteral(", "))
                          + QStringLiteral("); choose one with --port");
    } else {
        selection.ports << *ParsePortArgument(ports.front());
    }
    return selection;
}
