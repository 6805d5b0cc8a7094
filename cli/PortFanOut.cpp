#include "cli/PortFanOut.h"

#include "serial/ComPort.h"

#include <QFile>

namespace {

// The line the recorder listens at: 9600 baud, 8 data bits, no parity, 1 stop bit.
constexpr std::int32_t kBaud = 9600;

} // namespace

PortFanOut::PortFanOut(const QList<PortArgument> &ports)
{
    for (const PortArgument &argument : ports) {
        auto component = std::make_unique<TComPort>();
        component->setBaud(kBaud);
        // There is nobody to ask: every port is named on the command line.
        component->setPromptForPort(false);
        if (argument.devicePath.isEmpty())
            component->setComNumber(static_cast<std::uint16_t>(argument.comNumber));
        else
            component->setDevicePath(QFile::encodeName(argument.devicePath).toStdString());
        ports_.push_back({argument.name, std::move(component), false});
    }
}

// Closing lets what the ports accepted leave before they go.
PortFanOut::~PortFanOut() = default;

void PortFanOut::fail(const Port &port, const std::exception &error)
{
    failed_ = true;
    if (OnFailure)
        OnFailure(port.name, QString::fromLocal8Bit(error.what()));
}

bool PortFanOut::Open()
{
    bool any = false;
    for (Port &port : ports_) {
        try {
            port.component->setOpen(true);
            port.open = true;
            any = true;
        } catch (const std::exception &error) {
            fail(port, error);
        }
    }
    return any;
}

void PortFanOut::SendText(const std::string &text)
{
    QStringList took;
    for (Port &port : ports_) {
        if (!port.open)
            continue;
        try {
            port.component->SendText(text);
            took << port.name;
        } catch (const std::exception &error) {
            fail(port, error);
        }
    }
    const QString command = QString::fromStdString(text).trimmed();
    if (took.isEmpty())
        throw ENoPortTook("no port took " + command.toStdString());
    if (OnSent)
        OnSent(command, took);
}
